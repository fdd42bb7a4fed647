// Scrolling: bars appear only after the user drags an edge, line requests
// accelerate until the pointer moves, the view follows a released thumb, the
// window snaps back to the keyboard, and a relayout puts the view at (0, 0).
#include <thread>

#include "display_fixture.h"
#include "sim_views.h"

class Scroll : public DisplayTest {
 protected:
  // A keyboard picture of width x height whose every column has its own
  // colour; with dragged, the user has dragged the right edge to a client
  // width of 800.
  static void openPicture(int width, int height, bool dragged = true) {
    ASSERT_EQ(createKeyboardWindow(385, 50, "Notalumen "), 0);
    ASSERT_EQ(resizeKeyboardWindow(width, height), 0);
    for (int x = 0; x < width; x++) {
      fillRect(x, 0, x, height - 1, static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), 0x5A);
    }
    pump();
    if (dragged) dragRightTo(800 + 8);
  }
  // The user drags the right edge to an outer width.
  static void dragRightTo(int outerWidth) {
    simUserResize(2, outerWidth, outerSize().second);
    pump();
  }
  static void request(unsigned message, unsigned code, int times = 1) {
    for (int i = 0; i < times; i++) {
      simPostMessage(message, code, 0);
      pump();
    }
  }
  static void thumb(unsigned message, int position) { request(message, static_cast<unsigned>(position) << 16 | 4u); }
  static Size fit() { return {fitWidth, fitHeight}; }
};

TEST_F(Scroll, BarsStayHiddenUntilAnEdgeIsDragged) {
  openPicture(1200, 50, false);
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_FALSE(simScrollBar(OS_SB_VERT).shown);
  dragRightTo(800 + 8);
  EXPECT_EQ(clientSize(), Size(800, 50));
  SimScrollBar bar = simScrollBar(OS_SB_HORZ);
  EXPECT_TRUE(bar.shown);
  EXPECT_EQ(bar.maximum, 400);
  EXPECT_EQ(scrollRangeX, 400);
  EXPECT_FALSE(simScrollBar(OS_SB_VERT).shown);
  EXPECT_EQ(outerSize().second, fitHeight + 17) << "room for the bar under the whole keyboard";
}

TEST_F(Scroll, LineStepsAccelerateUntilThePointerMoves) {
  openPicture(1200, 50);
  request(OS_WM_NCHITTEST, 0);
  request(OS_WM_HSCROLL, 3);
  EXPECT_EQ(scrollX, 40) << "a page is a tenth of the range";
  for (int i = 1; i <= 9; i++) {
    request(OS_WM_HSCROLL, 1);
    EXPECT_EQ(scrollX, 40 + i);
  }
  // Line right, line right, line left, page left twice (the bar follows).
  for (const auto& [code, x] : {std::pair<unsigned, int>{1, 51}, {1, 54}, {0, 50}, {2, 10}, {2, 0}}) {
    request(OS_WM_HSCROLL, code);
    EXPECT_EQ(Size(scrollX, simScrollBar(OS_SB_HORZ).position), Size(x, x)) << "request " << code << " to " << x;
  }
  EXPECT_EQ(clientMismatches(0, 0), 0);

  request(OS_WM_HSCROLL, 1, 12);
  const int before = scrollX;
  request(OS_WM_NCHITTEST, 0);  // the pointer over the window resets the step
  request(OS_WM_HSCROLL, 1);
  EXPECT_EQ(scrollX, before + 1);
}

TEST_F(Scroll, SmallRangeStopsTheAcceleratedSteps) {
  openPicture(805, 50);
  ASSERT_EQ(scrollRangeX, 5);
  request(OS_WM_NCHITTEST, 0);
  request(OS_WM_HSCROLL, 3);
  EXPECT_EQ(scrollX, 0) << "a tenth of 5 is nothing";
  request(OS_WM_HSCROLL, 1, 5);
  EXPECT_EQ(scrollX, 5);
  request(OS_WM_HSCROLL, 0, 4);
  EXPECT_EQ(scrollX, 1);
  request(OS_WM_HSCROLL, 0, 2);
  EXPECT_EQ(scrollX, 1) << "from the tenth request on the step is 0";
  request(OS_WM_NCHITTEST, 0);
  request(OS_WM_HSCROLL, 0);
  EXPECT_EQ(scrollX, 0);
}

TEST_F(Scroll, ViewFollowsTheReleasedThumb) {
  openPicture(1200, 50);
  request(OS_WM_HSCROLL, 300u << 16 | 5u);  // tracking moves nothing
  EXPECT_EQ(scrollX, 0);
  thumb(OS_WM_HSCROLL, 250);
  EXPECT_EQ(scrollX, 250);
  EXPECT_EQ(simScrollBar(OS_SB_HORZ).position, 250);
  EXPECT_EQ(client(0, 10), buffer(250, 10));
  EXPECT_EQ(clientMismatches(250, 0), 0);
  fillRect(300, 10, 300, 10, 1, 2, 3);
  EXPECT_EQ(client(50, 10), 0x010203u);
  EXPECT_EQ(buffer(300, 10), 0x010203u);
  thumb(OS_WM_HSCROLL, 900);
  EXPECT_EQ(scrollX, 400) << "clamped to the range";
  EXPECT_EQ(clientMismatches(400, 0), 0);
}

TEST_F(Scroll, WideningPastTheKeyboardOrAMoveWithoutScrollingSnapsToTheFit) {
  openPicture(1200, 50);
  thumb(OS_WM_HSCROLL, 250);
  dragRightTo(1300);
  EXPECT_EQ(outerSize(), fit());
  EXPECT_EQ(scrollX, 0);
  EXPECT_FALSE(hBarWanted);
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_EQ(clientMismatches(0, 0), 0) << "the view starts at column 0 again";

  osMoveWindow(keyboardWindow, OS_CW_USEDEFAULT, 0, 600, 200);
  pump();
  EXPECT_EQ(outerSize().first, 600);
  request(OS_WM_EXITSIZEMOVE, 0);
  EXPECT_EQ(outerSize(), fit());
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
}

TEST_F(Scroll, FitWithBothRangesDropsTheHorizontalBar) {
  openPicture(1200, 300, false);
  simUserResize(8, 800 + 8, 200 + 31);
  pump();
  EXPECT_TRUE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_TRUE(simScrollBar(OS_SB_VERT).shown);
  // Each bar takes room from the other direction: the client is 783 x 183.
  EXPECT_EQ(Size(scrollRangeX, scrollRangeY), Size(1200 - 783, 300 - 183));
  EXPECT_EQ(Size(simScrollBar(OS_SB_HORZ).maximum, simScrollBar(OS_SB_VERT).maximum), Size(1200 - 783, 300 - 183));
  thumb(OS_WM_HSCROLL, 100);
  thumb(OS_WM_VSCROLL, 30);
  EXPECT_EQ(scrollY, 30);
  EXPECT_EQ(clientMismatches(100, 30), 0);
  // Wider than the keyboard plus the vertical bar, still a little short of
  // showing it whole beside the bar: both ranges stay above 0.
  simUserResize(8, 1220, 231);
  pump();
  EXPECT_EQ(outerSize(), Size(fitWidth, 231));
  EXPECT_EQ(Size(scrollX, scrollY), Size(0, 30));
  EXPECT_FALSE(hBarWanted);
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_TRUE(simScrollBar(OS_SB_VERT).shown);
  EXPECT_EQ(clientMismatches(0, 30), 0);
  // The range left behind brings the bar back as wanted on a restore.
  EXPECT_GT(scrollRangeX, 0);
  request(OS_WM_SYSCOMMAND, OS_SC_RESTORE);
  EXPECT_TRUE(hBarWanted);
}

TEST_F(Scroll, RelayoutWhileScrolledShowsTheKeyboardFromTheStart) {
  MagX = 3;
  openKeyboard();
  dragRightTo(800 + 8);
  thumb(OS_WM_HSCROLL, 250);
  ASSERT_EQ(scrollX, 250);
  relayoutKeyboard();
  EXPECT_EQ(Size(scrollX, scrollRangeX), Size(0, 0));
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_FALSE(simScrollBar(OS_SB_VERT).shown);
  EXPECT_EQ(outerSize().first, fitWidth);
  pump();
  EXPECT_EQ(clientMismatches(0, 0), 0);

  // The same asked for by the MIDI thread: the view is back at once, the
  // bars go when the window thread takes the request.
  dragRightTo(800 + 8);
  thumb(OS_WM_HSCROLL, 250);
  std::thread midi([] { relayoutKeyboard(); });
  midi.join();
  EXPECT_EQ(scrollX, 0);
  EXPECT_TRUE(simScrollBar(OS_SB_HORZ).shown);
  pump();
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_EQ(scrollRangeX, 0);
  EXPECT_EQ(outerSize().first, fitWidth);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}
