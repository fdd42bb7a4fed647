// Start-up: paths from the command line, the first pause, the early ends, and
// the exit path.
#include <filesystem>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "support/exit.h"
#include "app/startup.h"
#include "sim_fixture.h"

namespace {

std::vector<int> exitOrder;
void firstHandler() { exitOrder.push_back(1); }
void secondHandler() { exitOrder.push_back(2); }
void thirdHandler() { exitOrder.push_back(3); }

class Startup : public SimTest {
 protected:
  // The whole program with the command line; its exit code, or -1.
  static int runMain(const std::string& line) {
    simSetCommandLine(line.c_str());
    try {
      notalumenMain();
    } catch (const SimExit& e) {
      return e.code;
    }
    return -1;
  }
};

// The program directory comes from the program's path, else the current
// directory (also when the path's directory is too long); the settings file
// lies in it.
TEST_F(Startup, ProgramDirectoryAndSettingsPath) {
  const std::string deep = "C:\\" + std::string(300, 'd') + "\\notalumen.exe";
  const struct {
    int codePage;
    std::string commandLine;
    const char* currentDirectory;
    std::string programDir;
    std::u16string programDirW;
  } cases[] = {
      {0, "\"C:\\Program Files\\Notalumen\\notalumen.exe\" /3", "D:\\elsewhere", "C:\\Program Files\\Notalumen\\",
       u"C:\\Program Files\\Notalumen\\"},
      {0, "notalumen.exe", "D:\\work", "D:\\work\\", u"D:\\work\\"},
      {0, "notalumen.exe", "", "", u""},  // no directory at all: names stay relative
      {0, deep, "E:\\run", "E:\\run\\", u"E:\\run\\"},
      {932, "C:\\\x95\x5C\\notalumen.exe", "", "C:\\\x95\x5C\\", u"C:\\\u8868\\"},  // 0x5C is a trail byte here
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine);
    simSetCodePage(c.codePage);
    simSetCommandLine(c.commandLine.c_str());
    simSetCurrentDirectory(c.currentDirectory);
    startupPaths();
    EXPECT_EQ(std::string(programDir), c.programDir);
    EXPECT_EQ(std::u16string(programDirW), c.programDirW);
    EXPECT_EQ(std::string(settingsPath), c.programDir + "sonrack.ini");
    EXPECT_EQ(std::u16string(settingsPathW), c.programDirW + u"sonrack.ini");
  }
}

TEST_F(Startup, HelpEndsWithZeroAfterTheFirstPause) {
  EXPECT_EQ(runMain(simDir() + "notalumen.exe /?"), 0);
  ASSERT_FALSE(simPauses().empty());
  EXPECT_EQ(simPauses().front(), 500);
  EXPECT_EQ(readHostFile("sonrack.ini"), "<missing>");
  EXPECT_EQ(simUsageShown(), 1) << "the platform shows its usage text";
}

// With a per-user directory (the Linux program's), the files come from it
// unless a sonrack.ini lies beside the program; /list writes there, making
// the directory, and the box about missing settings names both places.
TEST_F(Startup, PerUserDirectoryWhenNoSettingsLieBesideTheProgram) {
  std::filesystem::create_directories(hostFile("prog"));
  const std::string own = simDir() + "prog\\";
  const std::string user = simDir() + "config\\notalumen\\";
  simSetUserDirectory(user.c_str());

  const std::string program = own + "notalumen.exe";
  EXPECT_EQ(runMain(program), 1) << "no settings anywhere";
  ASSERT_EQ(simBoxCount(), 1);
  EXPECT_EQ(simBoxText(0), "Cannot find: sonrack.ini \r\nLooked in: \r\n  " + own + "\r\n  " + user +
                               "\r\n\r\nRun \"notalumen /list\" to write a template \r\nsonrack.ini into " + user);

  EXPECT_EQ(runMain(program + " /list"), 0);
  EXPECT_EQ(readHostFile("config/notalumen/sonrack.ini").substr(0, 30), "// --- MIDI IN: 0 device(s).\r\n");
  EXPECT_EQ(readHostFile("prog/sonrack.ini"), "<missing>");

  simSetCommandLine(program.c_str());
  startupPaths();
  EXPECT_EQ(std::string(programDir), user) << "only the per-user file";
  EXPECT_EQ(std::u16string(settingsPathW).size(), user.size() + 11);
  EXPECT_EQ(std::string(settingsPath), user + "sonrack.ini");

  writeHostFile("prog/sonrack.ini", "-nMin=30\r\n");
  startupPaths();
  EXPECT_EQ(std::string(programDir), own) << "the file beside the program wins";
  EXPECT_EQ(std::string(settingsPath), own + "sonrack.ini");
}

TEST_F(Startup, ListWritesTheTemplateBesideTheProgram) {
  simSetCurrentDirectory("C:\\elsewhere");
  EXPECT_EQ(runMain(simDir() + "notalumen.exe /list"), 0);
  // The first pause, the pause after writing, and the window's tear-down.
  EXPECT_EQ(simPauses(), (std::vector<int>{500, 100, 100}));
  const std::string written = readHostFile("sonrack.ini");
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
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_EQ(exitOrder.size(), 3u) << "handlers run once";
}

}  // namespace
