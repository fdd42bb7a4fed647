// The whole program on the sim machine: start-up with its two messages, the
// main loop with mouse play and the command keys, and the tear-down order.
#include <algorithm>
#include <string>
#include <vector>

#include "app/reset.h"
#include "support/exit.h"
#include "app/main_loop.h"
#include "support/os_system.h"
#include "app/startup.h"
#include "state/program_tables.h"
#include "display/os_window.h"
#include "display/window.h"
#include "midi/os_midi.h"
#include "sim_fixture.h"
#include "sim_views.h"

namespace {

const uint32_t kWhite = 0xFFFFFF;
const uint32_t kOnWhite = 0xFF7878;  // 255, 120, 120

std::vector<std::string> hexMessages(int device) {
  std::vector<std::string> out;
  for (const SimMidiOutEvent& e : simMidiOutEvents(device)) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", e.word & 0xFF, (e.word >> 8) & 0xFF, (e.word >> 16) & 0xFF);
    out.push_back(e.isLong ? "long" : text);
  }
  return out;
}

}  // namespace

class Program : public SimTest {
 protected:
  void TearDown() override {
    if (!ended) {
      try {
        exitProgram(0);
      } catch (const SimExit&) {
      }
    }
    SimTest::TearDown();
  }

  // Runs start-up over the settings text (none: no settings file); returns the
  // exit code when it ended the program, else -1.
  int start(const char* settings = nullptr) {
    if (settings != nullptr) writeHostFile("sonrack.ini", settings);
    simSetCommandLine(("\"" + simDir() + "notalumen.exe\" ").c_str());
    simSetCurrentDirectory("C:\\elsewhere");
    try {
      startupAll();
    } catch (const SimExit& e) {
      ended = true;
      return e.code;
    }
    return -1;
  }

  // Runs main-loop passes; the exit code when the program ended, else -1.
  int passes(int count) {
    try {
      for (int i = 0; i < count; i++) mainLoopPass();
    } catch (const SimExit& e) {
      ended = true;
      return e.code;
    }
    return -1;
  }

  // The pointer posts a message, and two main-loop passes run.
  void pointer(unsigned message, int x, int y, unsigned keys) {
    simPostPointer(message, x, y, keys);
    passes(2);
  }

  bool ended = false;  // the program went through its exit path
};

TEST_F(Program, WithoutSettingsOnlyTheSettingsMessageAndCodeOne) {
  EXPECT_EQ(start(), 1);
  ASSERT_EQ(simBoxCount(), 1);
  EXPECT_EQ(simBoxCaption(0), "Notalumen");
  EXPECT_EQ(simBoxText(0), "Cannot find: SONRACK.INI \r\n\r\nDouble-click Confmaker to \r\n make a SONRACK.INI file.");
  EXPECT_EQ(simBoxFlags(0), unsigned(OS_MB_OK | OS_MB_ICONINFORMATION | OS_MB_TOPMOST));
  EXPECT_FALSE(simWindowExists()) << "the exit handlers destroyed the window";
  for (const std::string& call : simMidiCalls()) EXPECT_EQ(call.find("Open"), std::string::npos) << call;
}

TEST_F(Program, SettingsMessageInJapanese) {
  simSetLanguage(1041);
  EXPECT_EQ(start(), 1);
  ASSERT_EQ(simBoxCount(), 1);
  EXPECT_EQ(simBoxText(0),
            "sonrack.ini \x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD. "
            "\r\n\r\nConfmaker \x82\xF0\x90\xE6\x82\xC9\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2. ");
}

TEST_F(Program, FailedPortsReportCancelEndsOkGoesOn) {
  simAddMidiOut("Synth");
  simAnswerBoxes({OS_IDCANCEL});
  EXPECT_EQ(start("-OUT1:\"No Such Synth\"\r\n-OUT2:\"Synth\"\r\n-IN1:\"COM2\"\r\n"), 1);
  ASSERT_EQ(simBoxCount(), 1);
  EXPECT_EQ(simBoxText(0),
            "Cannot open MIDI OUT Device(s): \n  OUT1: No Such Synth  \n"
            "Cannot open MIDI IN Device(s): \n  IN1: COM2  \n"
            "Click OK, if you continue and enable port(s) other than the above. ");
  EXPECT_EQ(simBoxFlags(0), unsigned(OS_MB_OKCANCEL | OS_MB_ICONINFORMATION | OS_MB_TOPMOST));
  std::vector<std::string> calls = simMidiCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "midiOutClose 0"), calls.end()) << "the open output was closed";

  simReset();
  resetGlobalState();
  ended = false;
  simAddMidiOut("Synth");
  simAnswerBoxes({OS_IDOK});
  EXPECT_EQ(start(), -1) << "OK goes on with the ports that opened";
  EXPECT_EQ(simWindowTitle(), "Notalumen ");
  EXPECT_EQ(clientSize(), Size(407, 50));
}

TEST_F(Program, ShutdownOrderSerialThenPortsThenWindow) {
  simAddMidiIn("Keys");
  simAddMidiOut("Synth");
  simAddSerialPort(3);
  ASSERT_EQ(start("-OUT1:\"COM3\"\r\n-OUT2:\"Synth\"\r\n-IN1:\"Keys\"\r\n"), -1);
  simClearPauses();
  simPostKey(27, true);
  EXPECT_EQ(passes(4), 0) << "Escape ends with 0";

  std::vector<std::string> calls = simMidiCalls();
  auto at = [&](const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) - calls.begin();
  };
  ASSERT_LT(at("serialClose COM3"), static_cast<long>(calls.size()));
  EXPECT_LT(at("serialClose COM3"), at("midiInClose 0")) << "the serial closer runs first";
  EXPECT_LT(at("midiInClose 0"), at("midiOutClose 0")) << "inputs close before outputs";
  EXPECT_FALSE(simWindowExists());
  std::vector<int> pauses = simPauses();
  ASSERT_GE(pauses.size(), 2u);
  EXPECT_EQ(pauses[pauses.size() - 2], 500) << "the serial closer's pause";
  EXPECT_EQ(pauses.back(), 100) << "the window destroyer runs last";
}

TEST_F(Program, MousePlaysThroughInOneAndLightsTheClickedColumn) {
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-Ch10\r\n"), -1);
  // Key 60's lower part starts at x 294, key 62's at 308 (default range).
  pointer(OS_WM_LBUTTONDOWN, 300, 40, OS_MK_LBUTTON);
  EXPECT_EQ(simClientPixel(300, 40), kOnWhite);
  pointer(OS_WM_MOUSEMOVE, 302, 40, OS_MK_LBUTTON);
  EXPECT_EQ(hexMessages(0).size(), 1u) << "moving within one key sends nothing";
  pointer(OS_WM_MOUSEMOVE, 315, 40, OS_MK_LBUTTON);
  EXPECT_EQ(simClientPixel(300, 40), kWhite);
  EXPECT_EQ(simClientPixel(315, 40), kOnWhite);
  pointer(OS_WM_LBUTTONUP, 315, 40, 0);
  EXPECT_EQ(simClientPixel(315, 40), kWhite);
  // IN1's channel (1), whatever column was clicked.
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3C 64", "80 3C 32", "90 3E 64", "80 3E 32"}));
}

TEST_F(Program, EveryClickReadInOnePassSoundsAndEnds) {
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n"), -1);
  using Messages = std::vector<std::string>;
  // A quick click: press and release arrive together.
  simPostPointer(OS_WM_LBUTTONDOWN, 300, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_LBUTTONUP, 300, 40, 0);
  passes(2);
  EXPECT_EQ(hexMessages(0), (Messages{"90 3C 64", "80 3C 32"}));
  EXPECT_EQ(simClientPixel(300, 40), kWhite);
  // A double click: two whole notes.
  for (int i = 0; i < 2; i++) {
    simPostPointer(OS_WM_LBUTTONDOWN, 315, 40, OS_MK_LBUTTON);
    simPostPointer(OS_WM_LBUTTONUP, 315, 40, 0);
  }
  passes(2);
  EXPECT_EQ(hexMessages(0), (Messages{"90 3C 64", "80 3C 32", "90 3E 64", "80 3E 32", "90 3E 64", "80 3E 32"}));
  // A release and the next press together: the old note ends, the new one sounds.
  pointer(OS_WM_LBUTTONDOWN, 300, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_LBUTTONUP, 300, 40, 0);
  simPostPointer(OS_WM_LBUTTONDOWN, 315, 40, OS_MK_LBUTTON);
  passes(2);
  Messages all = hexMessages(0);
  EXPECT_EQ(Messages(all.end() - 3, all.end()), (Messages{"90 3C 64", "80 3C 32", "90 3E 64"}));
  EXPECT_EQ(simClientPixel(300, 40), kWhite);
  EXPECT_EQ(simClientPixel(315, 40), kOnWhite);
}

TEST_F(Program, ANoteTheMouseHoldsEndsBeforeThePortsClose) {
  for (bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "window closed");
    simReset();
    resetGlobalState();
    ended = false;
    simAddMidiOut("Synth");
    simAddSerialPort(3);
    ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-OUT2:\"COM3\"\r\n"), -1);
    pointer(OS_WM_LBUTTONDOWN, 300, 40, OS_MK_LBUTTON);
    if (escape) {
      simPostKey(27, true);
    } else {
      simPostMessage(OS_WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(passes(4), 0);
    EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3C 64", "80 3C 32"}));
    EXPECT_EQ(simSerialBytes(3), (std::vector<uint8_t>{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x32}));
  }
}

TEST_F(Program, DragOutReleasesOnce) {
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n"), -1);
  pointer(OS_WM_LBUTTONDOWN, 300, 40, OS_MK_LBUTTON);
  simPostMessage(OS_WM_NCMOUSEMOVE, 0, 0);
  passes(2);
  pointer(OS_WM_LBUTTONUP, 300, 40, 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3C 64", "80 3C 32"}));
  EXPECT_EQ(simClientPixel(300, 40), kWhite);
}

TEST_F(Program, EqualsReloadsTheProgramTablesClosingTheWindowEndsWithZero) {
  ASSERT_EQ(start("-nMin=36\r\n"), -1);
  EXPECT_EQ(keyProgram[0][60], 0);
  writeHostFile("progrm01.ini", "/PGM1 144 60 100\r\n/SETKEY60:1\r\n");
  simPostMessage(OS_WM_CHAR, '=', 0);
  EXPECT_EQ(passes(3), -1);
  EXPECT_EQ(keyProgram[0][60], 1);
  EXPECT_EQ(programLength[0][1], 3);
  EXPECT_EQ(simBoxCount(), 0) << "the reload reports nothing";
  simPostMessage(OS_WM_CLOSE, 0, 0);
  EXPECT_EQ(passes(3), 0);
  EXPECT_FALSE(simWindowExists());
}

// ---- Devices that come and go while the program runs.

namespace {

uint32_t shortWord(int b0, int b1, int b2) { return static_cast<uint32_t>(b0 | b1 << 8 | b2 << 16); }

}  // namespace

TEST_F(Program, AnInputPluggedInAfterStartUpOpensAndPlays) {
  simAddMidiOut("Synth");
  simAnswerBoxes({OS_IDOK});
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-IN1:\"USB Keys\"\r\n"), -1);
  ASSERT_EQ(simBoxCount(), 1) << "the missing input is reported as at any start";
  simAddMidiIn("USB Keys");
  EXPECT_EQ(passes(1), -1);
  EXPECT_TRUE(simMidiInIsOpen(0));
  simMidiInShort(0, shortWord(0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3C 64"}));
  EXPECT_EQ(simBoxCount(), 1) << "no box for a device that comes later";
}

TEST_F(Program, AnInputUnpluggedWithNotesHeldEndsThemEverywhere) {
  simAddMidiIn("USB Keys");
  simAddMidiOut("Synth A");
  simAddMidiOut("Synth B");
  ASSERT_EQ(start("-OUT1:\"Synth A\"\r\n-OUT2:\"Synth B\"\r\n-IN1:\"USB Keys\":CH3\r\n"), -1);
  // Two notes held, a third released under the damper.
  for (uint32_t w : {shortWord(0x90, 0x3C, 0x64), shortWord(0x90, 0x3E, 0x64), shortWord(0xB0, 0x40, 0x7F),
                     shortWord(0x90, 0x40, 0x64), shortWord(0x80, 0x40, 0x00)}) {
    simMidiInShort(0, w, 0);
  }
  passes(2);
  ASSERT_EQ(simClientPixel(300, 40), kOnWhite);
  ASSERT_TRUE(simRemoveMidiIn("USB Keys"));
  EXPECT_EQ(passes(1), -1);
  const std::vector<std::string> tail = {"82 3C 00", "82 3E 00"};
  for (int k = 0; k < 2; k++) {
    std::vector<std::string> got = hexMessages(k);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(got.end() - 2, got.end()), tail) << "OUT" << k + 1;
  }
  EXPECT_EQ(simClientPixel(300, 40), kWhite) << "key 60 Off";
  EXPECT_EQ(simClientPixel(315, 40), kWhite) << "key 62 Off";
  EXPECT_EQ(simClientPixel(329, 40), kWhite) << "key 64, held by the gone damper, Off";
}

// Unplugged and plugged in again between two passes: the name never looked gone.
TEST_F(Program, AnInputReplugedUnderAnotherIndexIsFoundByName) {
  simAddMidiIn("Keys A");
  simAddMidiIn("Keys B");
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-IN1:\"Keys B\"\r\n"), -1);
  simRemoveMidiIn("Keys B");
  simRemoveMidiIn("Keys A");
  simAddMidiIn("Keys B");  // now device 0
  simAddMidiIn("Keys A");  // device 1
  passes(1);
  simMidiInShort(1, shortWord(0x90, 0x30, 0x64), 0);
  simMidiInShort(0, shortWord(0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3C 64"}));
}

// A device that is back but will not open yet (another program holds it) is
// tried again once a second of the program's clock has passed, however few
// passes the window thread made meanwhile (an idle Linux window thread makes
// one a second).
TEST_F(Program, AnOutputThatWillNotOpenIsTriedAgainASecondLater) {
  simAddMidiIn("USB Keys");
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-IN1:\"USB Keys\"\r\n"), -1);
  simRemoveMidiOut("Synth");
  passes(1);
  simAddMidiOut("Synth");
  simFailMidiOutOpen(0, 4);
  passes(1);
  simFailMidiOutOpen(0, 0);
  passes(2);
  simMidiInShort(0, shortWord(0x90, 0x3C, 0x64), 0);
  EXPECT_TRUE(hexMessages(0).empty()) << "not tried again at every pass";
  osSleep(1000);  // one long pause, as an idle window thread makes
  passes(1);
  simMidiInShort(0, shortWord(0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3E 64"}));
}

TEST_F(Program, AnOutputThatGoesAndComesBackReceivesAgain) {
  simAddMidiIn("USB Keys");
  simAddMidiOut("Synth");
  ASSERT_EQ(start("-OUT1:\"Synth\"\r\n-IN1:\"USB Keys\"\r\n"), -1);
  simRemoveMidiOut("Synth");
  passes(1);
  simMidiInShort(0, shortWord(0x90, 0x3C, 0x64), 0);  // nowhere to go
  simAddMidiOut("Synth");
  passes(1);
  simMidiInShort(0, shortWord(0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 3E 64"}));
  simRemoveMidiOut("Synth");  // and back before the next pass
  simAddMidiOut("Synth");
  passes(1);
  simMidiInShort(0, shortWord(0x90, 0x40, 0x64), 0);
  EXPECT_EQ(hexMessages(0), (std::vector<std::string>{"90 40 64"}));
}
