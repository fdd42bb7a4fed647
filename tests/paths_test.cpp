// Wide-string and path helpers: copying and appending, the
// directory and extension parts without splitting double-byte characters,
// finding a file by pattern, and the capacity of every destination.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "support/paths.h"

namespace {

constexpr char16_t kWideSentinel = 0xBEEF;
constexpr char kNarrowSentinel = '\x7F';

// A destination of capacity units inside a larger buffer filled with a
// sentinel; check() fails the test when anything past the capacity changed.
template <typename Unit, Unit Sentinel>
struct Guarded {
  explicit Guarded(int capacity) : capacity(capacity), buffer(capacity + 8, Sentinel) {}
  Unit* data() { return buffer.data(); }
  std::basic_string<Unit> text() {
    for (size_t i = capacity; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], Sentinel) << "written past capacity " << capacity << " at " << i;
    }
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    return std::basic_string<Unit>(buffer.data(), length);
  }
  int capacity;
  std::vector<Unit> buffer;
};
using WideDest = Guarded<char16_t, kWideSentinel>;
using NarrowDest = Guarded<char, kNarrowSentinel>;

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override { simReset(); }
};

}  // namespace

// ---- Wide strings -----------------------------------------------------------

TEST_F(PathsTest, WstrcopyCopiesAndCutsAtTheCapacity) {
  WideDest whole(16);
  EXPECT_EQ(wstrcopy(whole.data(), 16, u"sonrack.ini"), 11);
  EXPECT_EQ(whole.text(), u"sonrack.ini");

  WideDest cut(5);
  EXPECT_EQ(wstrcopy(cut.data(), 5, u"sonrack.ini"), 4);
  EXPECT_EQ(cut.text(), u"sonr");

  WideDest one(1);
  EXPECT_EQ(wstrcopy(one.data(), 1, u"abc"), 0);
  EXPECT_EQ(one.text(), u"");

  // A surrogate pair is not split by the cut.
  WideDest pair(3);
  EXPECT_EQ(wstrcopy(pair.data(), 3, u"a\U0002000B"), 1);
  EXPECT_EQ(pair.text(), u"a");
}

TEST_F(PathsTest, WstrappendAppendsAtTheTerminator) {
  WideDest path(32);
  wstrcopy(path.data(), 32, u"C:\\Music\\");
  EXPECT_EQ(wstrappend(path.data(), 32, u"progrm01.ini"), 12);
  EXPECT_EQ(path.text(), u"C:\\Music\\progrm01.ini");
  EXPECT_EQ(wstrlength(path.data()), 21);

  WideDest small(8);
  wstrcopy(small.data(), 8, u"abcde");
  EXPECT_EQ(wstrappend(small.data(), 8, u"fghij"), 2);  // room for two more
  EXPECT_EQ(small.text(), u"abcdefg");
  EXPECT_EQ(wstrappend(small.data(), 8, u"x"), 0);  // already full
  EXPECT_EQ(small.text(), u"abcdefg");

  // A destination without a terminator inside its capacity gets one and nothing more.
  WideDest unterminated(4);
  for (int i = 0; i < 4; ++i) unterminated.data()[i] = u'z';
  EXPECT_EQ(wstrappend(unterminated.data(), 4, u"abc"), 0);
  EXPECT_EQ(unterminated.text(), u"zzz");
}

TEST_F(PathsTest, WstrlengthCountsUnits) {
  EXPECT_EQ(wstrlength(u""), 0);
  EXPECT_EQ(wstrlength(u"progrm01.ini"), 12);
  EXPECT_EQ(wstrlength(u"\U0002000B"), 2);
}

// ---- Directory part ---------------------------------------------------------

TEST_F(PathsTest, DirPartWKeepsUpToTheLastSeparator) {
  WideDest dir(64);
  EXPECT_EQ(dirPartW(dir.data(), 64, u"C:\\Program Files\\Notalumen\\notalumen.exe"), 27);
  EXPECT_EQ(dir.text(), u"C:\\Program Files\\Notalumen\\");

  WideDest none(64);
  EXPECT_EQ(dirPartW(none.data(), 64, u"notalumen.exe"), 0);
  EXPECT_EQ(none.text(), u"");

  WideDest cut(6);
  EXPECT_EQ(dirPartW(cut.data(), 6, u"C:\\Music\\x.exe"), 5);
  EXPECT_EQ(cut.text(), u"C:\\Mu");
}

TEST_F(PathsTest, DirPartSkipsTrailBytesThatLookLikeBackslashes) {
  simSetCodePage(932);
  // "C:\Music\表.ini": the last character 0x95 0x5C has 0x5C as its second byte.
  NarrowDest dir(64);
  EXPECT_EQ(dirPart(dir.data(), 64, "C:\\Music\\\x95\x5C.ini"), 9);
  EXPECT_EQ(dir.text(), "C:\\Music\\");

  // "C:\ソフト\notalumen.exe": the directory name itself holds 0x83 0x5C.
  NarrowDest soft(64);
  EXPECT_EQ(dirPart(soft.data(), 64, "C:\\\x83\x5C\x83\x74\x83\x67\\notalumen.exe"), 10);
  EXPECT_EQ(soft.text(), "C:\\\x83\x5C\x83\x74\x83\x67\\");

  // A name ending in such a character has no directory part at all.
  NarrowDest none(64);
  EXPECT_EQ(dirPart(none.data(), 64, "\x95\x5C"), 0);
  EXPECT_EQ(none.text(), "");

  // Without a double-byte code page the same byte is a separator.
  simSetCodePage(0);
  NarrowDest plain(64);
  EXPECT_EQ(dirPart(plain.data(), 64, "C:\\Music\\\x95\x5C.ini"), 11);
  EXPECT_EQ(plain.text(), "C:\\Music\\\x95\\");
}

TEST_F(PathsTest, DirPartCutNeverSplitsADoubleByteCharacter) {
  simSetCodePage(932);
  const char* path = "C:\\\x83\x5C\x83\x74\x83\x67\\notalumen.exe";
  NarrowDest cut(5);  // room for "C:\" and one byte: not enough for 0x83 0x5C
  EXPECT_EQ(dirPart(cut.data(), 5, path), 3);
  EXPECT_EQ(cut.text(), "C:\\");
  NarrowDest fits(6);
  EXPECT_EQ(dirPart(fits.data(), 6, path), 5);
  EXPECT_EQ(fits.text(), "C:\\\x83\x5C");
  NarrowDest one(1);
  EXPECT_EQ(dirPart(one.data(), 1, path), 0);
  EXPECT_EQ(one.text(), "");
}

// ---- Extension part ---------------------------------------------------------

TEST_F(PathsTest, ExtPartTakesTheLastPoint) {
  NarrowDest ext(16);
  EXPECT_EQ(extPart(ext.data(), 16, "song.MID"), 4);
  EXPECT_EQ(ext.text(), ".MID");
  NarrowDest last(16);
  EXPECT_EQ(extPart(last.data(), 16, "song.backup.mid"), 4);
  EXPECT_EQ(last.text(), ".mid");
  NarrowDest none(16);
  EXPECT_EQ(extPart(none.data(), 16, "README"), 0);
  EXPECT_EQ(none.text(), "");
  NarrowDest cut(3);
  EXPECT_EQ(extPart(cut.data(), 3, "song.mid"), 2);
  EXPECT_EQ(cut.text(), ".m");
}

TEST_F(PathsTest, ExtPartWithDoubleByteCharacters) {
  simSetCodePage(932);
  NarrowDest ext(16);
  EXPECT_EQ(extPart(ext.data(), 16, "\x95\x5C.mid"), 4);
  EXPECT_EQ(ext.text(), ".mid");
  NarrowDest kanji(16);
  EXPECT_EQ(extPart(kanji.data(), 16, "a.\x95\x5C"), 3);
  EXPECT_EQ(kanji.text(), ".\x95\x5C");
  NarrowDest cut(3);  // "." fits, the double-byte character does not
  EXPECT_EQ(extPart(cut.data(), 3, "a.\x95\x5C"), 1);
  EXPECT_EQ(cut.text(), ".");
}

// ---- Finding a file ---------------------------------------------------------

class FindFileNameTest : public PathsTest {
 protected:
  void SetUp() override {
    PathsTest::SetUp();
    char pattern[] = "/tmp/notalumen_paths_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void makeFile(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  void makeDirectory(const std::string& name) { std::filesystem::create_directory(dir_ / name); }

  // The sim form of a pattern inside the temporary directory: "\tmp\...\leaf".
  std::string simPattern(const std::string& leaf) {
    std::string path = (dir_ / leaf).string();
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(FindFileNameTest, FindsTheBareNameOfAFile) {
  makeFile("progrm01.ini");
  NarrowDest name(64);
  EXPECT_EQ(findFileName(name.data(), 64, simPattern("*.ini").c_str()), 0);
  EXPECT_EQ(name.text(), "progrm01.ini");
}

TEST_F(FindFileNameTest, SkipsADirectoryMatchedFirst) {
  makeDirectory("a.ini");
  makeFile("b.ini");
  NarrowDest name(64);
  EXPECT_EQ(findFileName(name.data(), 64, simPattern("*.ini").c_str()), 0);
  EXPECT_EQ(name.text(), "b.ini");
}

TEST_F(FindFileNameTest, OnlyADirectoryMatchesGivesMinusOneAndNoName) {
  makeDirectory("songs");
  NarrowDest name(64);
  name.data()[0] = 'x';
  EXPECT_EQ(findFileName(name.data(), 64, simPattern("songs").c_str()), -1);
  EXPECT_EQ(name.text(), "");
}

TEST_F(FindFileNameTest, TwoDirectoriesFirstGiveMinusTwoAndNoName) {
  makeDirectory("sub1");
  makeDirectory("sub2");
  makeFile("sub3");
  NarrowDest name(64);
  name.data()[0] = 'x';
  EXPECT_EQ(findFileName(name.data(), 64, simPattern("sub*").c_str()), -2);
  EXPECT_EQ(name.text(), "");
  // "*" matches "." and ".." first, as on Windows.
  NarrowDest all(64);
  EXPECT_EQ(findFileName(all.data(), 64, simPattern("*").c_str()), -2);
  EXPECT_EQ(all.text(), "");
}

TEST_F(FindFileNameTest, NothingFoundGivesMinusOneAndNoName) {
  makeFile("sonrack.ini");
  NarrowDest name(64);
  name.data()[0] = 'x';
  EXPECT_EQ(findFileName(name.data(), 64, simPattern("*.mid").c_str()), -1);
  EXPECT_EQ(name.text(), "");
  NarrowDest missing(64);
  missing.data()[0] = 'x';
  EXPECT_EQ(findFileName(missing.data(), 64, simPattern("nodir\\*.ini").c_str()), -1);
  EXPECT_EQ(missing.text(), "");
}

TEST_F(FindFileNameTest, LongNameIsCutAtTheCapacity) {
  makeFile("progrm01.ini");
  NarrowDest name(5);
  EXPECT_EQ(findFileName(name.data(), 5, simPattern("*.ini").c_str()), 0);
  EXPECT_EQ(name.text(), "prog");
  NarrowDest one(1);
  EXPECT_EQ(findFileName(one.data(), 1, simPattern("*.ini").c_str()), 0);
  EXPECT_EQ(one.text(), "");
}
