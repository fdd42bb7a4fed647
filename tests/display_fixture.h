// Test fixture for the keyboard display on the sim platform: a fresh machine
// and display state, helpers to open the keyboard window as start-up does, to
// pump its messages and to read the back buffer and the client area.
#pragma once

#include <cstdint>

#include "display/drawing.h"
#include "display/geometry.h"
#include "display/os_window.h"
#include "display/scrolling.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "state/tables.h"
#include "sim_fixture.h"

class DisplayTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    resetKeyboardDisplay();
  }
  void TearDown() override {
    destroyKeyboardWindow();
    resetKeyboardDisplay();
    SimTest::TearDown();
  }

  static void pump() {
    while (osDispatchOneMessage() != 0) {
    }
  }

  // The start-up form of the window, then the keyboard of the current settings
  // laid out in it.
  static void openKeyboard() {
    ASSERT_EQ(createKeyboardWindow(385, 50, "Notalumen: initializing ... "), 0);
    setKeyRange(NoteMin, NoteMax);
    ASSERT_EQ(resizeKeyboardWindow(gxright - gxleft + 1, keyHeight), 0);
    ASSERT_EQ(relayoutKeyboard(), 0);
    pump();
  }

  // Channel columns as the settings reader or the engine set them.
  static void setColumns(std::initializer_list<int> channels) {
    maxcolumns = 0;
    for (int c : channels) {
      columnChannel[maxcolumns] = static_cast<int8_t>(c);
      if (c >= 0) channelColumn[c] = maxcolumns;
      maxcolumns++;
    }
  }

  static uint32_t buffer(int x, int y) { return simSurfacePixel(backBuffer, x, y); }
  static uint32_t client(int x, int y) { return simClientPixel(x, y); }
  static void bufferSize(int* w, int* h) { simSurfaceSize(backBuffer, w, h); }

  // Number of client pixels that differ from the back buffer seen from
  // (sx, sy), over the part of the client area that the back buffer covers.
  static int clientMismatches(int sx, int sy) {
    int cw = 0, ch = 0, bw = 0, bh = 0;
    simClientSize(&cw, &ch);
    bufferSize(&bw, &bh);
    int bad = 0;
    for (int y = 0; y < ch && y + sy < bh; y++) {
      for (int x = 0; x < cw && x + sx < bw; x++) {
        if (client(x, y) != buffer(x + sx, y + sy)) bad++;
      }
    }
    return bad;
  }
};

enum : uint32_t {
  kBlackPixel = 0x000000,
  kWhiteOff = 0xFFFFFF,
  kWhiteSustained = 0xFFB4B4,
  kWhiteOn = 0xFF7878,
  kBlackOff = 0x505050,
  kBlackSustained = 0xAA5050,
  kBlackOn = 0xFA6464,
};
