// The keyboard window: start-up form, fitting to the keyboard, painting, the
// key and pointer events it records, closing, and a relayout from the MIDI
// thread while the window thread draws.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "display_fixture.h"
#include "sim_views.h"

namespace {

int keyDowns[256];
int keyUps[256];
int countDown(int vk) {
  keyDowns[vk & 0xFF]++;
  return 0;
}
int countUp(int vk) {
  keyUps[vk & 0xFF]++;
  return 0;
}

class Window : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    for (int i = 0; i < 256; i++) keyDowns[i] = keyUps[i] = 0;
  }
  // Outer size for a client area, with the sim's frame.
  static int outerWidth(int client) { return client + 2 * 4; }
  static int outerHeight(int client) { return client + 23 + 2 * 4; }
  static bool barsShown() { return simScrollBar(OS_SB_HORZ).shown || simScrollBar(OS_SB_VERT).shown; }
  // The button events recorded since the last call, oldest first.
  static std::string taken() {
    static const char* const kNames[] = {"", "press", "release", "drag", "out"};
    std::string out;
    MouseEvent e;
    while (takeMouseEvent(&e)) {
      out += kNames[e.kind];
      if (e.kind != kMouseDragOut) out += " " + std::to_string(e.x) + "," + std::to_string(e.y);
      out += ";";
    }
    return out;
  }
};

TEST_F(Window, StartUpFormIsTopmostAndPaintsWhite) {
  ASSERT_EQ(createKeyboardWindow(385, 50, "Notalumen: initializing ... "), 0);
  EXPECT_EQ(windowState, -1);
  pump();
  EXPECT_EQ(clientSize(), Size(385, 50));
  EXPECT_FALSE(barsShown());
  EXPECT_EQ(simWindowTitle(), "Notalumen: initializing ... ");
  EXPECT_TRUE(simWindowTopmost());
  EXPECT_TRUE(simWindowAcceptsDrops());
  EXPECT_EQ(simConsoleFlushes(), 1);
  EXPECT_EQ(surfaceSize(backBuffer), Size(385, 82));

  fillRect(0, 0, 384, 49, 255, 255, 255);
  dropTopmost();
  EXPECT_FALSE(simWindowTopmost());
  for (int y = 0; y < 50; y++) {
    for (int x = 0; x < 385; x++) ASSERT_EQ(client(x, y), kWhiteOff) << x << "," << y;
  }
  EXPECT_EQ(buffer(0, 50), kBlackPixel);

  EXPECT_EQ(createKeyboardWindow(385, 50, "again"), -1);
  EXPECT_EQ(simWindowTitle(), "Notalumen: initializing ... ");
}

TEST_F(Window, FitsTheDefaultKeyboardWithoutBarsAndRepaintsFromTheBackBuffer) {
  openKeyboard();
  setWindowTitle("Notalumen ");
  EXPECT_EQ(clientSize(), Size(407, 50));
  EXPECT_EQ(Size(keyboardWidth, keyboardHeight), Size(407, 50));
  EXPECT_EQ(Size(fitWidth, fitHeight), Size(outerWidth(407), outerHeight(50)));
  EXPECT_EQ(maximizedSize(), Size(fitWidth, fitHeight));
  EXPECT_FALSE(barsShown());
  EXPECT_FALSE(simWindowTopmost());
  EXPECT_EQ(simWindowTitle(), "Notalumen ");
  EXPECT_EQ(clientMismatches(0, 0), 0);

  drawKey(0, 60, kLookOn);
  OsRect spoil = {0, 0, 407, 50};
  osFillRect(windowSurface, &spoil, 1, 2, 3);  // as if another window had covered it
  simPostMessage(OS_WM_PAINT, 0, 0);
  pump();
  EXPECT_EQ(clientMismatches(0, 0), 0);
  EXPECT_EQ(client(298, 40), kWhiteOn);
  EXPECT_FALSE(simWindowNeedsPaint());
}

TEST_F(Window, KeyboardWiderThanTheWorkAreaTakesItsWidthAtItsCorner) {
  simSetWorkArea(100, 50, 1100, 850);
  MagX = 3;  // 1219 pixels wide
  openKeyboard();
  EXPECT_EQ(windowRect(), (Rect{100, 50, 1100, 50 + outerHeight(50)}));
  EXPECT_EQ(fitWidth, 1000);
  EXPECT_FALSE(barsShown());
  EXPECT_EQ(scrollX, 0);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Window, KeyboardAlmostLeftOfTheWorkAreaIsMovedBack) {
  openKeyboard();
  simSetWorkArea(600, 0, 1920, 1040);  // the window now lies left of it
  ASSERT_EQ(resizeKeyboardWindow(407, 50), 0);
  EXPECT_EQ(windowRect()[0], 600);
  EXPECT_EQ(windowRect()[1], 0);
}

TEST_F(Window, KeysReachTheEngineOnceWithTheirModifiers) {
  openKeyboard();
  windowInput.keyDown = countDown;
  windowInput.keyUp = countUp;
  for (int i = 0; i < 5; i++) simPostKey(0x41, true);  // held: repeats
  pump();
  EXPECT_EQ(keyDowns[0x41], 1);
  EXPECT_EQ(keyUps[0x41], 0);
  EXPECT_EQ(takeKeyCode(), 0x41);
  simPostKey(0x41, false);
  simPostKey(0x41, false);
  pump();
  EXPECT_EQ(keyUps[0x41], 1);
  EXPECT_EQ(peekKeyCode(), 0) << "a key up leaves the code alone";
  simPostKey(0x41, true);
  pump();
  EXPECT_EQ(keyDowns[0x41], 2);
  EXPECT_EQ(takeKeyCode(), 0x41);
  simPostKey(0x41, false);

  // Navigation keys carry Shift (0x200), Ctrl (0x400) or neither (0x100).
  struct Step {
    int vk;
    bool down;
  };
  const struct {
    std::vector<Step> keys;
    int code;
  } cases[] = {
      {{{0x24, true}}, 0x124},                                 // Home
      {{{0x24, false}, {0x10, true}, {0x24, true}}, 0x224},    // Shift+Home
      {{{0x24, false}, {0x11, true}, {0x24, true}}, 0x424},    // Ctrl+Shift+Home
      {{{0x10, false}, {0x24, false}, {0x2E, true}}, 0x32E},   // Ctrl+Delete
      {{{0x11, false}, {0x2E, false}, {0x20, true}}, 0x20},    // space is not one of them
  };
  for (const auto& c : cases) {
    for (const Step& s : c.keys) simPostKey(s.vk, s.down);
    pump();
    EXPECT_EQ(takeKeyCode(), c.code);
  }
  EXPECT_EQ(keyDowns[0x24], 3);
  EXPECT_EQ(keyUps[0x24], 3);
  EXPECT_EQ(keyDowns[0x10], 1);
  EXPECT_EQ(keyDowns[0x11], 1);
}

TEST_F(Window, CharactersAndAltLetters) {
  openKeyboard();
  simPostMessage(OS_WM_CHAR, '=', 0);
  pump();
  EXPECT_EQ(peekKeyCode(), '=');
  EXPECT_EQ(takeKeyCode(), '=');
  EXPECT_EQ(takeKeyCode(), 0);
  simPostMessage(OS_WM_SYSCHAR, 'a', 0);
  pump();
  EXPECT_EQ(takeKeyCode(), 0x561);
  simPostMessage(OS_WM_CHAR, 'x', 0);
  simPostMessage(OS_WM_SYSCHAR, '1', 0);
  pump();
  EXPECT_EQ(takeKeyCode(), 'x') << "Alt+1 leaves the code unchanged";
  simPostMessage(OS_WM_SYSCHAR, 'A', 0);
  simPostMessage(OS_WM_SYSCHAR, 'z', 0);
  pump();
  EXPECT_EQ(takeKeyCode(), 0x57A);
}

TEST_F(Window, ButtonEventsKeepTheirOrder) {
  openKeyboard();
  simPostPointer(OS_WM_LBUTTONDOWN, 100, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_MOUSEMOVE, 110, 41, OS_MK_LBUTTON);
  simPostPointer(OS_WM_MOUSEMOVE, 120, 41, OS_MK_LBUTTON);
  pump();
  EXPECT_EQ(taken(), "press 100,40;drag 120,41;") << "successive drags keep the latest position";
  EXPECT_EQ(taken(), "");
  simPostPointer(OS_WM_LBUTTONUP, 130, 42, 0);
  simPostPointer(OS_WM_MOUSEMOVE, 140, 42, 0);
  pump();
  EXPECT_EQ(taken(), "release 130,42;") << "no drag without the button";

  // A quick click and a double click read in one pass: every press and
  // release, in turn.
  simPostPointer(OS_WM_LBUTTONDOWN, 50, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_LBUTTONUP, 50, 40, 0);
  simPostPointer(OS_WM_LBUTTONDOWN, 60, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_LBUTTONUP, 60, 40, 0);
  pump();
  EXPECT_EQ(taken(), "press 50,40;release 50,40;press 60,40;release 60,40;");

  // Out over the title bar.
  simPostPointer(OS_WM_LBUTTONDOWN, 100, 40, OS_MK_LBUTTON);
  simPostPointer(OS_WM_MOUSEMOVE, 100, 2, OS_MK_LBUTTON);
  simPostMessage(OS_WM_NCMOUSEMOVE, 2, 0);
  simPostMessage(OS_WM_NCMOUSEMOVE, 2, 0);
  pump();
  EXPECT_EQ(taken(), "press 100,40;out;") << "the move out drops the drag before it; only the first counts";
  // The button is released over the title bar: the client area hears nothing,
  // and coming back with the button up is no drag.
  simPostPointer(OS_WM_MOUSEMOVE, 100, 20, OS_MK_LBUTTON);
  pump();
  EXPECT_EQ(taken(), "");

  // Other buttons and the wheel do nothing.
  simPostPointer(OS_WM_RBUTTONDOWN, 10, 10, OS_MK_CONTROL | OS_MK_SHIFT);
  simPostPointer(OS_WM_RBUTTONUP, 10, 10, 0);
  simPostPointer(OS_WM_MBUTTONDOWN, 10, 10, 0);
  simPostPointer(OS_WM_MOUSEWHEEL, 10, 10, 0);
  pump();
  EXPECT_EQ(taken(), "");
  EXPECT_EQ(peekKeyCode(), 0);

  // A loop that falls 32 events behind keeps the newest in the last place.
  for (int i = 0; i < 40; i++) simPostPointer(i % 2 ? OS_WM_LBUTTONUP : OS_WM_LBUTTONDOWN, i, 40, 0);
  pump();
  std::string all = taken();
  EXPECT_EQ(std::count(all.begin(), all.end(), ';'), kMouseQueueSize);
  EXPECT_EQ(all.substr(all.size() - 14), "release 39,40;");
}

TEST_F(Window, PointerPositionsIncludeTheScrollOffsets) {
  MagX = 3;
  openKeyboard();
  simUserResize(2, outerWidth(800), fitHeight);
  simPostMessage(OS_WM_HSCROLL, 250u << 16 | 4u, 0);
  pump();
  ASSERT_EQ(scrollX, 250);
  simPostPointer(OS_WM_LBUTTONDOWN, 10, 40, OS_MK_LBUTTON);
  pump();
  EXPECT_EQ(taken(), "press 260,40;");
}

TEST_F(Window, DroppedFilesAreReleasedAndCloseDestroysTheWindow) {
  openKeyboard();
  std::string longName(300, 'n');
  ASSERT_NE(simDropFiles({"C:\\a.mid", longName.c_str()}), 0);
  pump();
  EXPECT_EQ(simOpenDrops(), 0);

  simClearPauses();
  simPostMessage(OS_WM_CLOSE, 0, 0);
  pump();
  EXPECT_EQ(windowState, 0);
  EXPECT_FALSE(simWindowExists());
  EXPECT_FALSE(simWindowClassRegistered());
  EXPECT_EQ(simOffscreenCount(), 0);
  ASSERT_FALSE(simPauses().empty());
  EXPECT_EQ(simPauses().back(), 100);
  EXPECT_EQ(destroyKeyboardWindow(), 1);
  EXPECT_EQ(resizeKeyboardWindow(407, 50), -1);
  EXPECT_EQ(createKeyboardWindow(385, 50, "again"), 0) << "a new window can be made";
}

TEST_F(Window, RelayoutFromAnotherThreadNeverWaitsForTheWindowThread) {
  openKeyboard();
  std::atomic<bool> done{false};
  std::thread midi([&] {
    // The engine appends a column for a newly seen channel, then relays out.
    {
      std::lock_guard<std::mutex> hold(displayLock);
      columnChannel[0] = channelColumn[0] = 0;
      columnChannel[1] = 9;
      channelColumn[9] = 1;
      maxcolumns = 2;
    }
    relayoutKeyboard();
    drawKey(9, 62, kLookOn);
    done = true;
  });
  // The window thread draws keys and does not pump until the relayout is done.
  for (int rounds = 0; !done || rounds < 50; rounds++) drawKey(0, 24 + rounds % 49, rounds % 2 ? kLookOn : kLookOff);
  midi.join();
  EXPECT_EQ(surfaceSize(backBuffer), Size(407, 102));
  EXPECT_EQ(keyboardHeight, 102);
  EXPECT_EQ(clientSize(), Size(407, 50)) << "the window is fitted by the window thread";
  EXPECT_GE(simPendingMessages(), 1);

  pump();
  EXPECT_EQ(clientSize(), Size(407, 102));
  EXPECT_EQ(fitHeight, outerHeight(102));
  EXPECT_EQ(clientMismatches(0, 0), 0);
  EXPECT_EQ(buffer(315, 52 + 40), kWhiteOn) << "note 62 of channel 9";
  EXPECT_EQ(buffer(5, 50), kBlackPixel);
}

}  // namespace
