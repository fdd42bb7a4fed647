// The sim window machine where the display code and its tests rely on it and
// the display tests would not see its faults: the pixel surfaces (their fill
// and copy are the desktop backend's too), the scroll bars, the messages that
// sizing causes and their order, the queue across threads, scrolling the
// client area, destroying, dropped files and the PNG writer.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/sim/sim.h"
#include "sim_fixture.h"
#include "sim_views.h"

namespace {

struct Seen {
  unsigned message;  // Windows value
  uintptr_t wParam;
  intptr_t lParam;
};

// What the recording procedure saw and how it answers.
struct Recorder {
  std::vector<Seen> messages;     // in arrival order
  OsRect sizingRect;              // lParam of the last WM_SIZING
  std::thread::id thread;         // where the last message arrived
  int maxWidth = 0;               // ptMaxSize to set in WM_GETMINMAXINFO (0: leave it)
  int maxHeight = 0;
  bool leavePaintInvalid = false; // WM_PAINT returns without validating
};
Recorder rec;

intptr_t recordingProcedure(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  rec.messages.push_back({message, wParam, lParam});
  rec.thread = std::this_thread::get_id();
  if (message == OS_WM_SIZING) rec.sizingRect = *reinterpret_cast<OsRect*>(lParam);
  if (message == OS_WM_GETMINMAXINFO && rec.maxWidth != 0) osSetMaximizedSize(lParam, rec.maxWidth, rec.maxHeight);
  if (message == OS_WM_PAINT && rec.leavePaintInvalid) return 0;
  return osDefaultWindowProc(window, message, wParam, lParam);
}

intptr_t sizeParam(int w, int h) { return static_cast<intptr_t>(static_cast<uint32_t>(w | h << 16)); }

std::vector<unsigned> messageList() {
  std::vector<unsigned> list;
  for (const Seen& s : rec.messages) list.push_back(s.message);
  return list;
}

const Seen& lastOf(unsigned message) {
  static const Seen none{0, 0, 0};
  for (auto it = rec.messages.rbegin(); it != rec.messages.rend(); ++it) {
    if (it->message == message) return *it;
  }
  return none;
}

int countOf(unsigned message) {
  int n = 0;
  for (const Seen& s : rec.messages) n += s.message == message;
  return n;
}

using Pixels = std::vector<uint32_t>;
Pixels pixelsAt(OsSurface s, std::initializer_list<std::pair<int, int>> points) {
  Pixels out;
  for (const auto& [x, y] : points) out.push_back(simSurfacePixel(s, x, y));
  return out;
}

void fill(OsSurface s, OsRect r, uint32_t rgb) {
  osFillRect(s, &r, static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
}

class SimWindowTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    rec = Recorder();
  }

  // A window whose client area is w x h, both scroll bars hidden, and nothing
  // recorded yet.
  OsWindow makeBarlessWindow(int w, int h) {
    EXPECT_EQ(osRegisterWindowClass(recordingProcedure), 0);
    OsRect r{0, 0, w, h};
    osAdjustWindowRect(&r);
    OsWindow window = osCreateWindow("test", OS_CW_USEDEFAULT, OS_CW_USEDEFAULT, r.right - r.left, r.bottom - r.top);
    osShowScrollBar(window, OS_SB_HORZ, 0);
    osShowScrollBar(window, OS_SB_VERT, 0);
    rec.messages.clear();
    return window;
  }

  void pump() {
    while (osDispatchOneMessage() != 0) {
    }
  }
};

// ---- Surfaces (the fill and the copy are the desktop backend's too).

// Fills and copies write rows in blocks of several pixels whose last block
// overlaps the one before: every width and offset must land exactly its
// rectangle, and nothing outside it.
TEST_F(SimWindowTest, FillAndCopyOfEveryWidthLandExactlyTheirRectangle) {
  enum { kW = 48, kH = 5 };
  OsSurface src = osCreateOffscreen(0, kW, kH);
  OsSurface dst = osCreateOffscreen(0, kW, kH);
  ASSERT_NE(src, 0);
  ASSERT_NE(dst, 0);
  for (int y = 0; y < kH; y++) {
    for (int x = 0; x < kW; x++) fill(src, {x, y, x + 1, y + 1}, static_cast<uint32_t>(x << 8 | y | 0x100000));
  }
  for (bool copy : {false, true}) {
    for (int width = 1; width <= (copy ? 20 : 40); width++) {
      for (int left : {0, 1, 3, kW - width}) {
        const int from = kW - width - left;
        fill(dst, {0, 0, kW, kH}, 0x010203);
        if (copy) {
          osCopyBlock(dst, left, 1, width, kH - 2, src, from, 0);
        } else {
          fill(dst, {left, 1, left + width, kH - 1}, 0xABCDEF);
        }
        for (int y = 0; y < kH; y++) {
          for (int x = 0; x < kW; x++) {
            const bool inside = x >= left && x < left + width && y >= 1 && y < kH - 1;
            const uint32_t copied = static_cast<uint32_t>((x - left + from) << 8 | (y - 1) | 0x100000);
            ASSERT_EQ(simSurfacePixel(dst, x, y), !inside ? 0x010203u : copy ? copied : 0xABCDEFu)
                << (copy ? "copy" : "fill") << " of width " << width << " at " << left << ": " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST_F(SimWindowTest, FillAndCopyClipToTheSurfacesAndACopyMayOverlap) {
  OsSurface s = osCreateOffscreen(0, 10, 8);
  ASSERT_NE(s, 0);
  fill(s, {2, 3, 5, 6}, 0x123456);
  fill(s, {-100, -100, 1, 100}, 0xFF0000);
  fill(s, {6, 6, 3, 3}, 0xFFFFFF);  // inverted: nothing
  EXPECT_EQ(pixelsAt(s, {{2, 3}, {4, 5}, {4, 4}, {5, 5}, {4, 6}, {1, 3}, {0, 0}, {0, 7}, {1, 0}, {9, 7}, {10, 0}}),
            (Pixels{0x123456, 0x123456, 0x123456, 0, 0, 0, 0xFF0000, 0xFF0000, 0, 0, 0xFFFFFFFF}))
      << "black when made; outside reads as no pixel";

  OsSurface src = osCreateOffscreen(0, 4, 4);
  OsSurface dst = osCreateOffscreen(0, 3, 3);
  for (int y = 0; y < 4; y++) {
    for (int x = 0; x < 4; x++) fill(src, {x, y, x + 1, y + 1}, static_cast<uint32_t>(x << 8 | y));
  }
  // A block larger than both, starting left of the source: only the part
  // inside both surfaces lands (source x -1 and row 4 are outside).
  osCopyBlock(dst, 1, 0, 10, 10, src, -1, 2);
  EXPECT_EQ(pixelsAt(dst, {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}}), (Pixels{0, 0, 0x000002, 0x000003, 0}));
  // Overlapping copy within one surface, one row down and one column right:
  // (2, 2) lands at (3, 3), not a copy of a copy.
  osCopyBlock(src, 1, 1, 3, 3, src, 0, 0);
  EXPECT_EQ(pixelsAt(src, {{1, 1}, {3, 3}, {2, 3}}), (Pixels{0x000000, 0x000202, 0x000102}));
}

// (How many surfaces are open is checked where the keyboard window closes.)
TEST_F(SimWindowTest, ImpossibleSurfacesAreRefusedAndAStaleHandleDrawsNothing) {
  OsSurface a = osCreateOffscreen(0, 5, 5);
  EXPECT_NE(a, 0);
  EXPECT_NE(osCreateOffscreen(a, 0, 0), 0);
  EXPECT_EQ(osCreateOffscreen(0, -1, 5), 0);
  EXPECT_EQ(osCreateOffscreen(0, 1 << 20, 1 << 20), 0);
  osDestroyOffscreen(a);
  OsSurface c = osCreateOffscreen(0, 5, 5);
  EXPECT_NE(c, a);
  fill(a, {0, 0, 5, 5}, 0x010203);  // not on the surface in its place either
  EXPECT_EQ(simSurfacePixel(c, 0, 0), 0u);
}

// ---- Frame, scroll bars and sizing. (That a new range shows its bar and
// that a user resize ends with WM_EXITSIZEMOVE, the scrolling tests see; that
// the procedure's maximised size is kept, the window tests.)

TEST_F(SimWindowTest, ScrollBarsAndMovesSendSizeOnlyWhenTheClientChanges) {
  OsWindow window = makeBarlessWindow(300, 200);
  osSetScrollRange(window, OS_SB_HORZ, 400, 0);
  ASSERT_EQ(countOf(OS_WM_SIZE), 1);
  EXPECT_EQ(lastOf(OS_WM_SIZE).lParam, sizeParam(300, 200 - 17));
  osSetScrollPos(window, OS_SB_HORZ, 999);
  EXPECT_EQ(simScrollBar(OS_SB_HORZ).position, 400) << "held to the range";
  osShowScrollBar(window, OS_SB_HORZ, 0);
  osSetScrollRange(window, OS_SB_HORZ, 400, 0);
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown) << "the same range shows nothing";
  osShowScrollBar(window, OS_SB_HORZ, 1);
  osSetScrollRange(window, OS_SB_HORZ, 0, 1);
  EXPECT_FALSE(simScrollBar(OS_SB_HORZ).shown);
  EXPECT_EQ(simScrollBar(OS_SB_HORZ).position, 0);
  EXPECT_EQ(clientSize(), Size(300, 200));

  rec.messages.clear();
  const Rect before = windowRect();
  osMoveWindow(window, OS_CW_USEDEFAULT, 0, 308, 231);  // same size, where it stands
  EXPECT_EQ(countOf(OS_WM_SIZE), 0);
  osMoveWindow(window, OS_CW_USEDEFAULT, 0, 508, 131);
  ASSERT_EQ(countOf(OS_WM_SIZE), 1);
  EXPECT_EQ(lastOf(OS_WM_SIZE).lParam, sizeParam(500, 100));
  EXPECT_EQ(windowRect(), (Rect{before[0], before[1], before[0] + 508, before[1] + 131}));
  EXPECT_EQ(simClientPixel(499, 99), 0u) << "grown area is black";
  // No window grows beyond a maximised one: the work area and the frame.
  osMoveWindow(window, 0, 0, 5000, 5000);
  EXPECT_EQ(outerSize(), Size(1920 + 8, 1040 + 8));
}

TEST_F(SimWindowTest, UserResizeMaximiseAndRestore) {
  rec.maxWidth = 500;
  rec.maxHeight = 300;
  makeBarlessWindow(300, 200);
  const Rect normal = windowRect();
  const int r = normal[2];
  simUserResize(1, 208, 231);  // left edge: the right side stays
  ASSERT_EQ(messageList(), (std::vector<unsigned>{0x0231, OS_WM_SIZING, OS_WM_GETMINMAXINFO, OS_WM_SIZE,
                                                  OS_WM_EXITSIZEMOVE}));
  EXPECT_EQ(rec.messages[1].wParam, 1u);
  EXPECT_EQ(std::make_pair(rec.sizingRect.left, rec.sizingRect.right), std::make_pair(r - 208, r));
  EXPECT_EQ(rec.messages[3].lParam, sizeParam(200, 200));
  const Rect resized = {r - 208, normal[1], r, normal[3]};
  EXPECT_EQ(windowRect(), resized);

  simPostMessage(OS_WM_SYSCOMMAND, 0xF030, 0);
  pump();
  EXPECT_EQ(outerSize(), Size(500, 300)) << "the size the procedure gives";
  EXPECT_EQ(windowRect()[0], -4);
  simPostMessage(OS_WM_SYSCOMMAND, OS_SC_RESTORE, 0);
  pump();
  EXPECT_EQ(windowRect(), resized);
  EXPECT_EQ(rec.messages.back().message, unsigned(OS_WM_SIZE));
}

// ---- Messages, threads, painting.

TEST_F(SimWindowTest, OnlyTheWindowThreadDispatchesAndGetsWhatOtherThreadsCause) {
  OsWindow window = makeBarlessWindow(100, 100);
  osValidateWindow(window);
  int dispatchedThere = -1;
  std::thread other([&] {
    for (int i = 0; i < 500; i++) osPostMessage(window, OS_WM_CHAR, static_cast<uintptr_t>(i), 0);
    osMoveWindow(window, OS_CW_USEDEFAULT, 0, 208, 131);
    dispatchedThere = osDispatchOneMessage();
  });
  other.join();
  EXPECT_EQ(dispatchedThere, 0);
  EXPECT_EQ(countOf(OS_WM_SIZE), 0) << "not delivered on the thread that moved the window";
  EXPECT_EQ(simPendingMessages(), 501);
  pump();
  ASSERT_GE(rec.messages.size(), 501u);  // and the paint the grown area needs
  EXPECT_EQ(rec.messages[0].message, unsigned(OS_WM_SIZE)) << "what a call caused comes before posted messages";
  for (int i = 0; i < 500; i++) EXPECT_EQ(rec.messages[i + 1].wParam, static_cast<uintptr_t>(i));
  EXPECT_EQ(rec.thread, std::this_thread::get_id());
}

// (That scrolling asks for a paint, the scrolling tests see.)
TEST_F(SimWindowTest, ScrollWindowMovesPixelsAndAProcedureThatLeavesThemInvalidGetsNoPaintLoop) {
  OsWindow window = makeBarlessWindow(10, 4);
  pump();  // the first paint
  ASSERT_EQ(countOf(OS_WM_PAINT), 1);
  OsSurface screen = osWindowSurface(window);
  fill(screen, {6, 0, 7, 4}, 0x090909);
  fill(screen, {9, 0, 10, 4}, 0x070707);
  osScrollWindow(window, -3, 0);  // the view moves right: pixels move left, the uncovered strip is erased
  EXPECT_EQ(pixelsAt(0, {{3, 2}, {6, 2}, {9, 2}}), (Pixels{0x090909, 0x070707, 0}));
  EXPECT_EQ(simPendingMessages(), 0);

  rec.leavePaintInvalid = true;
  pump();
  EXPECT_EQ(countOf(OS_WM_PAINT), 2);
  EXPECT_TRUE(simWindowNeedsPaint()) << "the procedure's fault stays visible, without a paint loop";
  osScrollWindow(window, 0, 1);
  EXPECT_EQ(pixelsAt(0, {{3, 3}, {3, 0}}), (Pixels{0x090909, 0}));
  rec.leavePaintInvalid = false;
  pump();
  EXPECT_EQ(countOf(OS_WM_PAINT), 3);
  EXPECT_FALSE(simWindowNeedsPaint());
}

TEST_F(SimWindowTest, DestroyDiscardsMessagesAndTheClassThenUnregisters) {
  OsWindow window = makeBarlessWindow(50, 50);
  simPostPointer(OS_WM_LBUTTONDOWN, 0x1234, 7, OS_MK_LBUTTON);
  simPostMessage(OS_WM_CLOSE, 0, 0);
  osPostMessage(window, OS_WM_CHAR, 'a', 0);
  ASSERT_EQ(osDispatchOneMessage(), 1);
  EXPECT_EQ(rec.messages[0].lParam, 0x1234 | 7 << 16);
  EXPECT_EQ(rec.messages[0].wParam, unsigned(OS_MK_LBUTTON));
  osUnregisterWindowClass();  // in use: stays
  EXPECT_TRUE(simWindowClassRegistered());
  ASSERT_EQ(osDispatchOneMessage(), 1);  // WM_CLOSE, destroyed by default processing
  EXPECT_FALSE(simWindowExists());
  EXPECT_EQ(rec.messages.back().message, 0x0002u);  // WM_DESTROY
  EXPECT_EQ(simPendingMessages(), 0);
  EXPECT_EQ(osDispatchOneMessage(), 0);
  osPostMessage(window, OS_WM_CHAR, 'a', 0);  // to a window that is gone
  EXPECT_EQ(simPendingMessages(), 0);
  osUnregisterWindowClass();
  EXPECT_FALSE(simWindowClassRegistered());
  EXPECT_EQ(osCreateWindow("again", 0, 0, 100, 100), 0) << "no class";
}

// (That a released drop is gone, the window tests see.)
TEST_F(SimWindowTest, DroppedNamesAreReadCutToTheBuffer) {
  OsWindow window = makeBarlessWindow(50, 50);
  EXPECT_EQ(simDropFiles({"a.mid"}), 0) << "not accepting yet";
  osAcceptDroppedFiles(window, 1);
  const std::string longName(300, 'x');
  const intptr_t drop = simDropFiles({"C:\\a.mid", longName.c_str()});
  ASSERT_NE(drop, 0);
  pump();
  ASSERT_EQ(countOf(OS_WM_DROPFILES), 1);
  EXPECT_EQ(lastOf(OS_WM_DROPFILES).wParam, static_cast<uintptr_t>(drop));
  EXPECT_EQ(osDroppedFileCount(drop), 2);
  char name[260];
  EXPECT_EQ(osDroppedFileName(drop, 0, name, sizeof name), 8);
  EXPECT_STREQ(name, "C:\\a.mid");
  EXPECT_EQ(osDroppedFileName(drop, 1, name, sizeof name), 259);
  EXPECT_EQ(std::string(name), longName.substr(0, 259));
  EXPECT_EQ(osDroppedFileName(drop, 1, nullptr, 0), 300);
  osReleaseDrop(drop);
  EXPECT_EQ(osDroppedFileCount(drop), 0);
}

// ---- PNG: read back through libpng, every pixel compared.

TEST_F(SimWindowTest, SavedPngHoldsTheSurfacePixels) {
  const int w = 200, h = 120;
  OsSurface s = osCreateOffscreen(0, w, h);
  for (int y = 0; y < h; y += 7) fill(s, {0, y, w, y + 3}, static_cast<uint32_t>(y << 16 | 0x8000 | (255 - y)));
  fill(s, {w - 1, h - 1, w, h}, 0x010203);
  ASSERT_TRUE(simSavePng(s, hostFile("s.png").c_str()));

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, hostFile("s.png").c_str())) << image.message;
  EXPECT_EQ(std::make_pair(image.width, image.height), std::make_pair(uint32_t(w), uint32_t(h)));
  EXPECT_EQ(image.format, static_cast<png_uint_32>(PNG_FORMAT_RGB)) << "8-bit RGB, no alpha";
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      ASSERT_EQ(static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]), simSurfacePixel(s, x, y)) << x << "," << y;
    }
  }
  EXPECT_FALSE(simSavePng(osCreateOffscreen(0, 0, 5), hostFile("empty.png").c_str()));
}

}  // namespace
