// Command-line splitting and the two scans.
#include <string>
#include <vector>

#include "app/reset.h"
#include "app/cmdline.h"
#include "support/exit.h"
#include "state/globals.h"
#include "sim_fixture.h"

namespace {

using Args = std::vector<std::string>;

Args splitNarrow(const std::string& line) {
  static ArgList list;
  splitCommandLine(&list, line.c_str());
  EXPECT_STREQ(list.items[list.count], "") << "the list ends with one empty string";
  return Args(list.items, list.items + list.count);
}

class CommandLine : public SimTest {
 protected:
  // Sets the command line and runs the first scan: the exit code when it
  // ended the program, else -1.
  static int firstScan(const std::string& line) {
    simSetCommandLine(line.c_str());
    buildArgs();
    try {
      firstCommandLineScan();
    } catch (const SimExit& e) {
      return e.code;
    }
    return -1;
  }
};

TEST_F(CommandLine, SplitsOnBlanksOutsideQuotes) {
  const struct {
    std::string line;
    Args args;
    const char* why;
  } cases[] = {
      {"prog \"a b\" c", {"prog", "a b", "c"}, ""},
      {" \t prog   x", {"prog", "x"}, "leading blanks and tabs, runs of blanks"},
      {"prog a\tb", {"prog", "a\tb"}, "a tab is no separator"},
      {"\"C:\\My Dir\\prog.exe\" /list", {"C:\\My Dir\\prog.exe", "/list"}, ""},
      {"prog ab\"c d\"e", {"prog", "abc de"}, "quotes toggle inside an argument"},
      {"prog \"unclosed rest", {"prog", "unclosed rest"}, ""},
      {"", {""}, ""},
      {"prog   ", {"prog"}, "path followed by blanks only is one argument"},
      {"prog a ", {"prog", "a", ""}, "later trailing blanks leave an empty argument"},
  };
  for (const auto& c : cases) EXPECT_EQ(splitNarrow(c.line), c.args) << c.line << ": " << c.why;
}

TEST_F(CommandLine, DoubleByteTrailBytesNeitherQuoteNorSplit) {
  simSetCodePage(932);
  // 0x83 0x22 and 0x81 0x20 are lead/trail pairs whose trail bytes look like '"' and ' '.
  EXPECT_EQ(splitNarrow("prog a\x83\x22" "b c\x81\x20" "d e"), (Args{"prog", "a\x83\x22" "b", "c\x81\x20" "d", "e"}));
  simSetCodePage(0);
  EXPECT_EQ(splitNarrow("prog a\x83\x22" "b c"), (Args{"prog", "a\x83" "b c"})) << "without a double-byte code page";
  // The wide list knows no lead bytes.
  static ArgListW wide;
  splitCommandLineW(&wide, u"prog \u8868\"x y\"");
  EXPECT_EQ(std::vector<std::u16string>(wide.items, wide.items + wide.count),
            (std::vector<std::u16string>{u"prog", u"\u8868x y"}));
}

TEST_F(CommandLine, SplitLimits) {
  std::string line = "prog";
  for (int i = 0; i < 600; i++) line += " a";
  Args many = splitNarrow(line);
  EXPECT_EQ(many.size(), 511u) << "at most 511 arguments, the path included";
  EXPECT_EQ(many.back(), "a");

  // Long arguments: the split stops at the first separator once 65275 bytes are stored.
  Args two = splitNarrow("p " + std::string(65300, 'x') + " tail");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].size(), 65300u);
  EXPECT_EQ(splitNarrow("p " + std::string(65200, 'x') + " tail").size(), 3u);

  // At most 65533 characters are read; the store never overflows.
  Args cut = splitNarrow("p \"" + std::string(70000, 'y'));
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1].size(), 65533u - 3u);
}

TEST_F(CommandLine, FirstScanListWritesTemplateAndEnds) {
  for (const char* option : {"/LIST", "-lst", "/List2", "/listing"}) {
    simReset();
    resetGlobalState();
    std::snprintf(settingsPath, sizeof settingsPath, "%s", simFile("sonrack.ini").c_str());
    writeHostFile("sonrack.ini", "old settings that must go\r\n");
    EXPECT_EQ(firstScan(std::string("prog ") + option + " /?"), 0) << option;
    EXPECT_EQ(simPauses(), std::vector<int>{100}) << option;
    EXPECT_EQ(readHostFile("sonrack.ini").substr(0, 30), "// --- MIDI IN: 0 device(s).\r\n") << option;
  }
}

TEST_F(CommandLine, FirstScanHelpEndsWithoutWritingAndIgnoresOtherArguments) {
  std::snprintf(settingsPath, sizeof settingsPath, "%s", simFile("sonrack.ini").c_str());
  EXPECT_EQ(firstScan("prog -soc /? /list"), 0);
  EXPECT_EQ(consoleMode, 255) << "-soc before /? acts";
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>") << "/list after /? has no effect";

  consoleMode = 0;
  simClearPauses();
  EXPECT_EQ(firstScan("prog /l /lis list /x #90 /V5 /3"), -1);
  EXPECT_EQ(Volume, 0);
  EXPECT_EQ(DispLevel, 0);
  EXPECT_EQ(consoleMode, 0);
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

}  // namespace
