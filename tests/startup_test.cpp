// Start-up: paths from the command line, the first pause, the early ends, and
// the exit path.
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/exit.h"
#include "app/startup.h"
#include "sim_fixture.h"

namespace {

std::string narrow(const char16_t* wide) {
  std::string out;
  for (; *wide; wide++) out += *wide < 0x80 ? static_cast<char>(*wide) : '?';
  return out;
}

std::vector<int> exitOrder;
void firstHandler() { exitOrder.push_back(1); }
void secondHandler() { exitOrder.push_back(2); }
void thirdHandler() { exitOrder.push_back(3); }

}  // namespace

class Startup : public SimTest {};

TEST_F(Startup, ProgramDirectoryFromTheProgramPath) {
  simSetCommandLine("\"C:\\Program Files\\Notalumen\\notalumen.exe\" /3");
  simSetCurrentDirectory("D:\\elsewhere");
  startupPaths();
  EXPECT_STREQ(programDir, "C:\\Program Files\\Notalumen\\");
  EXPECT_EQ(narrow(programDirW), "C:\\Program Files\\Notalumen\\");
  EXPECT_STREQ(settingsPath, "C:\\Program Files\\Notalumen\\sonrack.ini");
  EXPECT_EQ(narrow(settingsPathW), "C:\\Program Files\\Notalumen\\sonrack.ini");
}

TEST_F(Startup, BareProgramNameUsesTheCurrentDirectory) {
  simSetCommandLine("notalumen.exe");
  simSetCurrentDirectory("D:\\work");
  startupPaths();
  EXPECT_STREQ(programDir, "D:\\work\\");
  EXPECT_EQ(narrow(programDirW), "D:\\work\\");
  EXPECT_STREQ(settingsPath, "D:\\work\\sonrack.ini");

  simSetCurrentDirectory("");
  startupPaths();
  EXPECT_STREQ(programDir, "") << "no directory at all: names stay relative";
  EXPECT_STREQ(settingsPath, "sonrack.ini");
  EXPECT_EQ(narrow(settingsPathW), "sonrack.ini");
}

TEST_F(Startup, DoubleByteDirectoryWithBackslashTrailByte) {
  simSetCodePage(932);
  // 0x95 0x5C is one character whose second byte is a backslash.
  simSetCommandLine("C:\\\x95\x5C\\notalumen.exe");
  startupPaths();
  EXPECT_STREQ(programDir, "C:\\\x95\x5C\\");
  EXPECT_EQ(std::u16string(programDirW), u"C:\\\u8868\\");
}

TEST_F(Startup, OverlongDirectoryFallsBackToTheCurrentDirectory) {
  std::string deep = "C:\\" + std::string(300, 'd') + "\\notalumen.exe";
  simSetCommandLine(deep.c_str());
  simSetCurrentDirectory("E:\\run");
  startupPaths();
  EXPECT_STREQ(programDir, "E:\\run\\");
  EXPECT_EQ(narrow(programDirW), "E:\\run\\");
}

TEST_F(Startup, HelpEndsWithZeroAfterTheFirstPause) {
  simSetCommandLine((simDir() + "notalumen.exe /?").c_str());
  try {
    notalumenMain();
  } catch (const SimExit& e) {
    EXPECT_EQ(e.code, 0);
  }
  ASSERT_FALSE(simPauses().empty());
  EXPECT_EQ(simPauses().front(), 500);
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>");
}

TEST_F(Startup, ListWritesTheTemplateBesideTheProgram) {
  simSetCommandLine((simDir() + "notalumen.exe /list").c_str());
  simSetCurrentDirectory("C:\\elsewhere");
  try {
    notalumenMain();
  } catch (const SimExit& e) {
    EXPECT_EQ(e.code, 0);
  }
  // The first pause, the pause after writing, and the window's tear-down.
  EXPECT_EQ(simPauses(), (std::vector<int>{500, 100, 100}));
  std::string written = readHostFile("sonrack.ini");
  EXPECT_EQ(written.substr(0, 30), "// --- MIDI IN: 0 device(s).\r\n");
  EXPECT_NE(written.find("-nMin=21 -nMax=108   // (noteMin-noteMax) - display note range 0-127 \r\n"),
            std::string::npos);
}

TEST_F(Startup, ExitHandlersRunNewestFirstOnce) {
  exitOrder.clear();
  registerExitHandler(firstHandler);
  registerExitHandler(secondHandler);
  registerExitHandler(thirdHandler);
  try {
    exitProgram(1);
  } catch (const SimExit& e) {
    EXPECT_EQ(e.code, 1);
  }
  EXPECT_EQ(exitOrder, (std::vector<int>{3, 2, 1}));
  try {
    exitProgram(0);
  } catch (const SimExit&) {
  }
  EXPECT_EQ(exitOrder.size(), 3u) << "handlers run once";
}
