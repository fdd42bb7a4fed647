// Wide-string and path helpers: copying and appending, the directory and
// extension parts without splitting double-byte characters, finding a file by
// pattern, and the capacity of every destination.
#include <filesystem>
#include <string>

#include "guarded.h"
#include "platform/sim/sim.h"
#include "sim_fixture.h"
#include "support/paths.h"

namespace {

using PathsTest = SimTest;
using Wide = std::pair<int, std::u16string>;

TEST_F(PathsTest, WideCopiesAndDirectoryPartsStopAtTheCapacity) {
  struct Case {
    int (*f)(char16_t*, int, const char16_t*);
    int capacity;
    const char16_t* source;
    int result;
    const char16_t* text;
  } cases[] = {
      {wstrcopy, 16, u"sonrack.ini", 11, u"sonrack.ini"},
      {wstrcopy, 5, u"sonrack.ini", 4, u"sonr"},
      {wstrcopy, 1, u"abc", 0, u""},
      {wstrcopy, 3, u"a\U0002000B", 1, u"a"},  // a surrogate pair is not split by the cut
      {dirPartW, 64, u"C:\\Program Files\\Notalumen\\notalumen.exe", 27, u"C:\\Program Files\\Notalumen\\"},
      {dirPartW, 64, u"notalumen.exe", 0, u""},
      {dirPartW, 6, u"C:\\Music\\x.exe", 5, u"C:\\Mu"},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    EXPECT_EQ(guardedCall(cases[i].f, cases[i].capacity, cases[i].source), Wide(cases[i].result, cases[i].text))
        << "row " << i;
  }
  EXPECT_EQ(wstrlength(u""), 0);
  EXPECT_EQ(wstrlength(u"progrm01.ini"), 12);
  EXPECT_EQ(wstrlength(u"\U0002000B"), 2);
}

TEST_F(PathsTest, WstrappendAppendsAtTheTerminator) {
  Guarded<char16_t> path(32);
  wstrcopy(path.data(), 32, u"C:\\Music\\");
  EXPECT_EQ(wstrappend(path.data(), 32, u"progrm01.ini"), 12);
  EXPECT_EQ(path.text(), u"C:\\Music\\progrm01.ini");

  Guarded<char16_t> small(8);
  wstrcopy(small.data(), 8, u"abcde");
  EXPECT_EQ(wstrappend(small.data(), 8, u"fghij"), 2);  // room for two more
  EXPECT_EQ(small.text(), u"abcdefg");
  EXPECT_EQ(wstrappend(small.data(), 8, u"x"), 0);  // already full
  EXPECT_EQ(small.text(), u"abcdefg");

  // A destination without a terminator inside its capacity gets one and nothing more.
  Guarded<char16_t> unterminated(4);
  for (int i = 0; i < 4; ++i) unterminated.data()[i] = u'z';
  EXPECT_EQ(wstrappend(unterminated.data(), 4, u"abc"), 0);
  EXPECT_EQ(unterminated.text(), u"zzz");
}

// Directory and extension parts: under code page 932 a second byte 0x5C is
// part of its character, not a separator, and no cut splits a character.
TEST_F(PathsTest, DirectoryAndExtensionParts) {
  const char* soft = "C:\\\x83\x5C\x83\x74\x83\x67\\notalumen.exe";  // the directory name holds 0x83 0x5C
  struct Case {
    int codePage;
    int (*f)(char*, int, const char*);
    int capacity;
    const char* source;
    int result;
    std::string text;
  } cases[] = {
      {932, dirPart, 64, "C:\\Music\\\x95\x5C.ini", 9, "C:\\Music\\"},
      {932, dirPart, 64, soft, 10, "C:\\\x83\x5C\x83\x74\x83\x67\\"},
      {932, dirPart, 64, "\x95\x5C", 0, ""},
      {0, dirPart, 64, "C:\\Music\\\x95\x5C.ini", 11, "C:\\Music\\\x95\\"},
      {932, dirPart, 5, soft, 3, "C:\\"},  // no room for 0x83 0x5C
      {932, dirPart, 6, soft, 5, "C:\\\x83\x5C"},
      {932, dirPart, 1, soft, 0, ""},
      {0, extPart, 16, "song.MID", 4, ".MID"},
      {0, extPart, 16, "song.backup.mid", 4, ".mid"},
      {0, extPart, 16, "README", 0, ""},
      {0, extPart, 3, "song.mid", 2, ".m"},
      {932, extPart, 16, "\x95\x5C.mid", 4, ".mid"},
      {932, extPart, 16, "a.\x95\x5C", 3, ".\x95\x5C"},
      {932, extPart, 3, "a.\x95\x5C", 1, "."},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    simSetCodePage(cases[i].codePage);
    EXPECT_EQ(guardedCall(cases[i].f, cases[i].capacity, cases[i].source),
              std::make_pair(cases[i].result, cases[i].text))
        << "row " << i;
  }
}

// Each directory holds one arrangement; "*" matches "." and ".." first, as on Windows.
TEST_F(PathsTest, FindFileNameGivesTheFirstFileOrMinusOneOrMinusTwo) {
  for (const char* dir : {"one", "two", "two/a.ini", "three", "three/songs", "four", "four/sub1", "four/sub2"}) {
    std::filesystem::create_directory(hostFile(dir));
  }
  for (const char* file : {"one/progrm01.ini", "two/b.ini", "four/sub3"}) writeHostFile(file, "x");
  struct Case {
    const char* pattern;
    int capacity;
    int result;
    std::string name;
  } cases[] = {
      {"one\\*.ini", 64, 0, "progrm01.ini"},
      {"one\\*.ini", 5, 0, "prog"},
      {"one\\*.ini", 1, 0, ""},
      {"two\\*.ini", 64, 0, "b.ini"},  // the directory matched first is skipped
      {"three\\songs", 64, -1, ""},    // only a directory matches
      {"four\\sub*", 64, -2, ""},      // two directories first
      {"four\\*", 64, -2, ""},
      {"one\\*.mid", 64, -1, ""},
      {"nodir\\*.ini", 64, -1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(guardedCall(findFileName, c.capacity, simFile(c.pattern).c_str()), std::make_pair(c.result, c.name))
        << c.pattern << " " << c.capacity;
  }
}

}  // namespace
