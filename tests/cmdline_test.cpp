// Command-line splitting and the two scans.
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/exit.h"
#include "app/globals.h"
#include "sim_fixture.h"

namespace {

std::vector<std::string> splitNarrow(const std::string& line) {
  static ArgList list;
  splitCommandLine(&list, line.c_str());
  std::vector<std::string> out;
  for (int i = 0; i < list.count; i++) out.emplace_back(list.items[i]);
  EXPECT_STREQ(list.items[list.count], "") << "the list ends with one empty string";
  return out;
}

std::vector<std::u16string> splitWide(const std::u16string& line) {
  static ArgListW list;
  splitCommandLineW(&list, line.c_str());
  std::vector<std::u16string> out;
  for (int i = 0; i < list.count; i++) out.emplace_back(list.items[i]);
  return out;
}

using Args = std::vector<std::string>;

}  // namespace

class CommandLine : public SimTest {};

TEST_F(CommandLine, SplitsOnBlanksOutsideQuotes) {
  EXPECT_EQ(splitNarrow("prog \"a b\" c"), (Args{"prog", "a b", "c"}));
  EXPECT_EQ(splitNarrow(" \t prog   x"), (Args{"prog", "x"})) << "leading blanks and tabs, runs of blanks";
  EXPECT_EQ(splitNarrow("prog a\tb"), (Args{"prog", "a\tb"})) << "a tab is no separator";
  EXPECT_EQ(splitNarrow("\"C:\\My Dir\\prog.exe\" /list"), (Args{"C:\\My Dir\\prog.exe", "/list"}));
  EXPECT_EQ(splitNarrow("prog ab\"c d\"e"), (Args{"prog", "abc de"})) << "quotes toggle inside an argument";
  EXPECT_EQ(splitNarrow("prog \"unclosed rest"), (Args{"prog", "unclosed rest"}));
  EXPECT_EQ(splitNarrow(""), (Args{""}));
}

TEST_F(CommandLine, TrailingBlanks) {
  EXPECT_EQ(splitNarrow("prog   "), (Args{"prog"})) << "path followed by blanks only is one argument";
  EXPECT_EQ(splitNarrow("prog a "), (Args{"prog", "a", ""})) << "later trailing blanks leave an empty argument";
}

TEST_F(CommandLine, DoubleByteTrailBytesNeitherQuoteNorSplit) {
  simSetCodePage(932);
  // 0x83 0x22 and 0x81 0x20 are lead/trail pairs whose trail bytes look like '"' and ' '.
  EXPECT_EQ(splitNarrow("prog a\x83\x22" "b c\x81\x20" "d e"), (Args{"prog", "a\x83\x22" "b", "c\x81\x20" "d", "e"}));
  simSetCodePage(0);
  EXPECT_EQ(splitNarrow("prog a\x83\x22" "b c"), (Args{"prog", "a\x83" "b c"})) << "without a double-byte code page";
  // The wide list knows no lead bytes.
  EXPECT_EQ(splitWide(u"prog \u8868\"x y\""), (std::vector<std::u16string>{u"prog", u"\u8868x y"}));
}

TEST_F(CommandLine, SplitLimits) {
  std::string line = "prog";
  for (int i = 0; i < 600; i++) line += " a";
  Args many = splitNarrow(line);
  EXPECT_EQ(many.size(), 511u) << "at most 511 arguments, the path included";
  EXPECT_EQ(many.back(), "a");

  // Long arguments: the split stops at the first separator once 65275 bytes are stored.
  std::string big(65300, 'x');
  Args two = splitNarrow("p " + big + " tail");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].size(), 65300u);
  EXPECT_EQ(splitNarrow("p " + std::string(65200, 'x') + " tail").size(), 3u);

  // At most 65533 characters are read; the store never overflows.
  std::string huge = "p \"" + std::string(70000, 'y');
  Args cut = splitNarrow(huge);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1].size(), 65533u - 3u);
}

TEST_F(CommandLine, FirstScanListWritesTemplateAndEnds) {
  for (const char* option : {"/LIST", "-lst", "/List2", "/listing"}) {
    simReset();
    resetGlobalState();
    std::string file = simFile("sonrack.ini");
    std::snprintf(settingsPath, sizeof settingsPath, "%s", file.c_str());
    writeHostFile("sonrack.ini", "old settings that must go\r\n");
    simSetCommandLine((std::string("prog ") + option + " /?").c_str());
    buildArgs();
    try {
      firstCommandLineScan();
      FAIL() << option << " did not end the program";
    } catch (const SimExit& e) {
      EXPECT_EQ(e.code, 0) << option;
    }
    EXPECT_EQ(simPauses(), std::vector<int>{100}) << option;
    EXPECT_EQ(readHostFile("sonrack.ini").substr(0, 30), "// --- MIDI IN: 0 device(s).\r\n") << option;
  }
}

TEST_F(CommandLine, FirstScanHelpEndsWithoutWriting) {
  std::string file = simFile("sonrack.ini");
  std::snprintf(settingsPath, sizeof settingsPath, "%s", file.c_str());
  simSetCommandLine("prog -soc /? /list");
  buildArgs();
  try {
    firstCommandLineScan();
    FAIL() << "/? did not end the program";
  } catch (const SimExit& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_EQ(consoleMode, 255) << "-soc before /? acts";
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>") << "/list after /? has no effect";
}

TEST_F(CommandLine, FirstScanIgnoresOtherArguments) {
  simSetCommandLine("prog /l /lis list /x #90 /V5 /3");
  buildArgs();
  firstCommandLineScan();  // returns: nothing ends the program
  EXPECT_EQ(Volume, 0);
  EXPECT_EQ(DispLevel, 0);
  EXPECT_TRUE(simPauses().empty());
}

TEST_F(CommandLine, SecondScanSetsLevelsAndVolume) {
  simSetCommandLine("prog /12 /V250 /v /socket /Sx /Cx /soc");
  buildArgs();
  secondCommandLineScan();
  EXPECT_EQ(DispLevel, 1) << "only the first digit counts";
  EXPECT_EQ(Volume, 0) << "the last /V without digits gives 0";
  EXPECT_EQ(consoleMode, 255);

  simSetCommandLine("prog /3 /V100 -V7 -5 #FA #1FF #");
  buildArgs();
  secondCommandLineScan();  // the bytes go to an output that is not open: nothing happens
  EXPECT_EQ(DispLevel, 3);
  EXPECT_EQ(Volume, 100) << "the second scan reads only '/' options";
}
