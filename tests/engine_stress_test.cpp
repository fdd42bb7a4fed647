// The engine under two threads at once: a device thread delivering many
// thousands of messages through the input callback while the window thread
// plays computer keys and mouse notes. Every message must arrive, and the
// tables must stay whole (run under ThreadSanitizer as well).
#include <thread>

#include "engine_fixture.h"

namespace {

class EngineStressTest : public EngineFixture {};

TEST_F(EngineStressTest, TwoThreadsLoseNothingAndLeaveTheTablesWhole) {
  openPorts();
  openWindow();
  keyProgram[0][512 + 0x41] = 1;
  setProgram(0, 1, {0x9F, 0x30, 0x64, 0xBF, 0x40, 0x7F});
  keyProgram[0][768 + 0x41] = 2;
  setProgram(0, 2, {0x8F, 0x30, 0x00, 0xBF, 0x40, 0x00});

  enum { kRounds = 2500 };
  int deviceSent = 0;
  std::thread device([&] {
    for (int r = 0; r < kRounds; r++) {
      int c = r % 4;
      int note = 40 + r % 30;
      in3(0, 0x90 | c, note, 100);
      in3(0, 0xB0 | c, 64, r % 2 ? 0 : 127);
      in3(1, 0x90 | c, note, 0);
      in3(0, 0xF8, 0, 0);  // clock: never routed
      deviceSent += 3;
    }
  });
  int windowSent = 0;
  for (int r = 0; r < kRounds; r++) {
    keyDownEvent(0x41);
    keyUpEvent(0x41);
    int c = r % 5;
    playMouseNote(c, 60 + r % 12);
    releaseMouseNote(c, 60 + r % 12);
    windowSent += 6;
  }
  device.join();

  for (int k = 0; k < 3; k++) EXPECT_EQ(static_cast<int>(words(k).size()), deviceSent + windowSent) << "OUT" << k + 1;
  EXPECT_EQ(maxcolumns, 4) << "channels 1..4 from the device; programs and mouse play take no column";
  for (int c = 0; c < kChannelCount; c++) {
    EXPECT_GE(heldCount[c], 0);
    EXPECT_LE(heldCount[c], 128) << "each note is held at most once";
    for (int i = 0; i < heldCount[c]; i++) {
      EXPECT_GE(heldNotes[c][i], 0);
      for (int j = 0; j < i; j++) EXPECT_NE(heldNotes[c][i], heldNotes[c][j]);
    }
  }
}

}  // namespace
