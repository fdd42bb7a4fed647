// The desktop window backend's input on a virtual X server (Xvfb): SDL keys,
// text, pointer and wheel arriving at the window procedure as Windows
// messages, posted messages first, the scroll bars we draw, user resizes and
// dropped files.
#include "desktop_window_fixture.h"

namespace {

TEST_F(DesktopWindow, KeysBecomeKeyMessagesWithWindowsCodes) {
  key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_NONE);
  key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, true);
  key(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A, KMOD_NONE);
  key(SDL_KEYDOWN, SDLK_EQUALS, SDL_SCANCODE_EQUALS, KMOD_NONE);
  key(SDL_KEYDOWN, SDLK_HOME, SDL_SCANCODE_HOME, KMOD_NONE);
  pumpAll();
  ASSERT_EQ(Params({0x41, 0x41, 0xBB, 0x24}), wParams(OS_WM_KEYDOWN));
  EXPECT_EQ(0, only(OS_WM_KEYDOWN)[0].lParam & 1 << 30);  // first press
  EXPECT_NE(0, only(OS_WM_KEYDOWN)[1].lParam & 1 << 30);  // auto-repeat: the key was down
  ASSERT_EQ(Params({0x41}), wParams(OS_WM_KEYUP));
  EXPECT_EQ(0xC0000001u, static_cast<uint32_t>(only(OS_WM_KEYUP)[0].lParam));
  EXPECT_TRUE(only(OS_WM_CHAR).empty());
}

TEST_F(DesktopWindow, TextBecomesCharacterMessages) {
  key(SDL_KEYDOWN, SDLK_EQUALS, SDL_SCANCODE_EQUALS, KMOD_NONE);
  text("=");
  key(SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, KMOD_NONE);
  text("\xC3\xA9");  // UTF-8 e acute: two bytes, two characters
  pumpAll();
  // Escape gives its character too, as on Windows.
  EXPECT_EQ(Params({61, 27, 0xC3, 0xA9}), wParams(OS_WM_CHAR));
  // The character follows its key-down.
  EXPECT_LT(indexOf(OS_WM_KEYDOWN), indexOf(OS_WM_CHAR));
}

TEST_F(DesktopWindow, AltAndCtrlCombinationsFollowWindows) {
  key(SDL_KEYDOWN, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_LALT);
  key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_LALT);
  text("a");
  key(SDL_KEYUP, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_NONE);
  key(SDL_KEYDOWN, SDLK_LCTRL, SDL_SCANCODE_LCTRL, KMOD_LCTRL);
  key(SDL_KEYDOWN, SDLK_EQUALS, SDL_SCANCODE_EQUALS, KMOD_LCTRL);
  text("=");  // X11 gives it; Windows gives no character for Ctrl+=
  key(SDL_KEYDOWN, SDLK_a, SDL_SCANCODE_A, KMOD_LCTRL);
  pumpAll();
  EXPECT_EQ(Params({0x12, 0x41}), wParams(kWmSysKeyDown));  // Alt itself and Alt+A never reach the key table
  EXPECT_EQ(Params({0x61}), wParams(OS_WM_SYSCHAR));
  EXPECT_EQ(Params({0x11, 0xBB, 0x41}), wParams(OS_WM_KEYDOWN));
  EXPECT_EQ(Params({1}), wParams(OS_WM_CHAR));  // Ctrl+A
}

TEST_F(DesktopWindow, PointerMovesComeAfterAHitTestWithButtonAndModifierFlags) {
  key(SDL_KEYDOWN, SDLK_LCTRL, SDL_SCANCODE_LCTRL, KMOD_LCTRL);
  key(SDL_KEYDOWN, SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, KMOD_LCTRL | KMOD_LSHIFT);
  motion(25, 35, SDL_BUTTON_LMASK);
  pumpAll();
  int move = indexOf(OS_WM_MOUSEMOVE);
  ASSERT_GE(move, 1);
  EXPECT_EQ(unsigned{OS_WM_NCHITTEST}, seen[static_cast<size_t>(move) - 1].message);
  EXPECT_EQ(point(40 + 25, 30 + 35), seen[static_cast<size_t>(move) - 1].lParam);  // screen position
  EXPECT_EQ(point(25, 35), seen[static_cast<size_t>(move)].lParam);
  EXPECT_EQ(uintptr_t{OS_MK_LBUTTON | OS_MK_SHIFT | OS_MK_CONTROL}, seen[static_cast<size_t>(move)].wParam);
}

TEST_F(DesktopWindow, ButtonsInTheClientAreaOnly) {
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 25, 35);
  motion(400, 35, SDL_BUTTON_LMASK);  // dragged out of the window (SDL keeps reporting)
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 400, 35);
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 7, 8);
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 7, 8);
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 30, 40);
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 31, 41);
  pumpAll();
  std::vector<Seen> downs = only(OS_WM_LBUTTONDOWN);
  ASSERT_EQ(2u, downs.size());
  EXPECT_EQ(point(25, 35), downs[0].lParam);
  EXPECT_EQ(uintptr_t{OS_MK_LBUTTON}, downs[0].wParam);
  EXPECT_EQ(1u, only(OS_WM_NCMOUSEMOVE).size());
  std::vector<Seen> ups = only(OS_WM_LBUTTONUP);
  ASSERT_EQ(1u, ups.size());  // the release outside reached no one
  EXPECT_EQ(point(31, 41), ups[0].lParam);
  EXPECT_EQ(0u, ups[0].wParam);
  ASSERT_EQ(1u, only(OS_WM_RBUTTONDOWN).size());
  EXPECT_EQ(point(7, 8), only(OS_WM_RBUTTONDOWN)[0].lParam);
  EXPECT_EQ(1u, only(OS_WM_RBUTTONUP).size());
}

TEST_F(DesktopWindow, WheelGivesWheelDeltaInTheHighWord) {
  SDL_Event e{};
  e.type = SDL_MOUSEWHEEL;
  e.wheel.windowID = id;
  e.wheel.y = -1;
  e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
  e.wheel.mouseX = 5;
  e.wheel.mouseY = 6;
  push(e);
  pumpAll();
  ASSERT_EQ(1u, only(OS_WM_MOUSEWHEEL).size());
  EXPECT_EQ(-120, static_cast<int16_t>(only(OS_WM_MOUSEWHEEL)[0].wParam >> 16));
  EXPECT_EQ(point(45, 36), only(OS_WM_MOUSEWHEEL)[0].lParam);
}

TEST_F(DesktopWindow, CloseRequestDestroysThroughTheDefaultProcessing) {
  windowEvent(SDL_WINDOWEVENT_CLOSE);
  pumpAll();
  ASSERT_EQ(1u, only(OS_WM_CLOSE).size());
  EXPECT_EQ(nullptr, desktopSdlWindow());
  OsRect r;
  osGetWindowRect(window, &r);
  EXPECT_EQ(0, r.right);
  EXPECT_EQ(0, osDispatchOneMessage());
  window = 0;
  surface = 0;
}

// ---- The queue.

TEST_F(DesktopWindow, APostedMessageIsDispatchedBeforeSdlEvents) {
  EXPECT_EQ(0, osDispatchOneMessage());  // nothing pending
  key(SDL_KEYDOWN, SDLK_b, SDL_SCANCODE_B, KMOD_NONE);
  std::thread midi([&] {
    osPostMessage(window, OS_WM_USER_RELAYOUT, 7, 9);
    osPostMessage(window + 0x100, OS_WM_USER_RELAYOUT, 8, 0);  // no such window: dropped
  });
  midi.join();
  ASSERT_EQ(1, osDispatchOneMessage());
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(unsigned{OS_WM_USER_RELAYOUT}, seen[0].message);
  EXPECT_EQ(7u, seen[0].wParam);
  EXPECT_EQ(9, seen[0].lParam);
  pumpAll();
  EXPECT_EQ(1u, only(OS_WM_USER_RELAYOUT).size());
  EXPECT_EQ(Params({0x42}), wParams(OS_WM_KEYDOWN));
}

// ---- Scroll bars.

TEST_F(DesktopWindow, ARangeShowsABarThatTakesRoomFromTheClientArea) {
  osSetScrollRange(window, OS_SB_HORZ, 400, 0);
  ASSERT_EQ(1u, only(OS_WM_SIZE).size());  // sent before the call returned
  EXPECT_EQ(point(320, 143), only(OS_WM_SIZE)[0].lParam);
  osSetScrollRange(window, OS_SB_VERT, 50, 0);
  ASSERT_EQ(2u, only(OS_WM_SIZE).size());
  EXPECT_EQ(point(303, 143), only(OS_WM_SIZE)[1].lParam);
  EXPECT_EQ((Rect{0, 0, 303, 143}), clientRect());
  EXPECT_EQ(320, windowRect()[2] - windowRect()[0]);  // the window keeps its size
  fill(0, 0, 320, 160, 0xFF0000);
  pumpAll();
  EXPECT_EQ(0xFF0000u, screenPixel(302, 142));
  // The horizontal bar, the vertical bar and the corner.
  for (uint32_t rgb : screenPixels({{150, 150}, {310, 70}, {310, 150}})) EXPECT_NE(0xFF0000u, rgb);
  osSetScrollRange(window, OS_SB_HORZ, 0, 1);   // 0..0 hides
  osShowScrollBar(window, OS_SB_VERT, 0);
  ASSERT_EQ(4u, only(OS_WM_SIZE).size());
  EXPECT_EQ(point(320, 160), only(OS_WM_SIZE)[3].lParam);
  pumpAll();
  EXPECT_EQ(0x000000u, screenPixel(150, 150));  // new client pixels are black
  EXPECT_EQ(1u, only(OS_WM_PAINT).size());      // and need painting
}

TEST_F(DesktopWindow, BarClicksBecomeScrollRequests) {
  osSetScrollRange(window, OS_SB_HORZ, 400, 0);
  osSetScrollPos(window, OS_SB_HORZ, 200);
  // Bar 320 long at y 143..159: arrows 0..16 and 303..319; the thumb at
  // 17 + (320 - 51) * 200 / 400 = 151.
  seen.clear();
  click(5, 150);
  click(315, 150);
  click(300, 150);
  click(60, 150);
  pumpAll();
  // Each click a request and its end: left arrow, right arrow, page right, page left.
  EXPECT_EQ(Params({0, kSbEndScroll, 1, kSbEndScroll, 3, kSbEndScroll, 2, kSbEndScroll}), wParams(OS_WM_HSCROLL));
  EXPECT_TRUE(only(OS_WM_LBUTTONDOWN).empty());
  EXPECT_TRUE(only(OS_WM_LBUTTONUP).empty());
}

TEST_F(DesktopWindow, DraggingTheThumbReportsItsPositionOnRelease) {
  osSetScrollRange(window, OS_SB_HORZ, 400, 0);
  osSetScrollPos(window, OS_SB_HORZ, 200);
  seen.clear();
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 155, 150);  // 4 pixels into the thumb
  motion(200, 150, SDL_BUTTON_LMASK);
  motion(200, 60, SDL_BUTTON_LMASK);  // off the bar: the thumb follows along it
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 200, 60);
  pumpAll();
  // (200 - 4 - 17) * 400 / (320 - 51) = 266.2
  EXPECT_EQ(Params({kSbThumbTrack | 266 << 16, kSbThumbPosition | 266 << 16, kSbEndScroll}), wParams(OS_WM_HSCROLL));
  EXPECT_TRUE(only(OS_WM_MOUSEMOVE).empty());  // the bar had the pointer
}

TEST_F(DesktopWindow, AHeldArrowRepeatsItsRequest) {
  osSetScrollRange(window, OS_SB_VERT, 100, 0);
  seen.clear();
  button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 310, 150);  // the vertical bar's lower arrow
  ASSERT_TRUE(pumpUntil([] { return only(OS_WM_VSCROLL).size() >= 3; }));
  for (const Seen& s : only(OS_WM_VSCROLL)) EXPECT_EQ(1u, s.wParam);
  button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 310, 150);
  pumpAll();
  EXPECT_EQ(uintptr_t{kSbEndScroll}, only(OS_WM_VSCROLL).back().wParam);
  EXPECT_TRUE(only(OS_WM_NCHITTEST).empty());  // a still pointer keeps the acceleration
}

// ---- User resizes.

TEST_F(DesktopWindow, AUserResizeGivesSizingSizeAndItsEnd) {
  struct Case {
    int w, h;      // new size
    uintptr_t edge;
  };
  const Case cases[] = {{400, 160, 2}, {400, 200, 6}, {300, 120, 8}};
  for (const Case& c : cases) {
    seen.clear();
    XResizeWindow(x, xwindow, static_cast<unsigned>(c.w), static_cast<unsigned>(c.h));
    XSync(x, False);
    ASSERT_TRUE(pumpUntil([] { return indexOf(OS_WM_EXITSIZEMOVE) >= 0; })) << c.w << "x" << c.h;
    int sizing = indexOf(OS_WM_SIZING);
    int size = indexOf(OS_WM_SIZE);
    ASSERT_GE(sizing, 0);
    EXPECT_EQ(c.edge, seen[static_cast<size_t>(sizing)].wParam);
    ASSERT_GT(size, sizing);
    EXPECT_EQ(point(c.w, c.h), seen[static_cast<size_t>(size)].lParam);
    EXPECT_GT(indexOf(OS_WM_EXITSIZEMOVE), size);
    const Rect r = windowRect();
    EXPECT_EQ(point(c.w, c.h), point(r[2] - r[0], r[3] - r[1]));
  }
}

// ---- Dropped files.

TEST_F(DesktopWindow, DroppedFilesArriveAsOneDrop) {
  auto drop = [&](Uint32 type, const char* name) {
    SDL_Event e{};
    e.type = type;
    e.drop.windowID = id;
    e.drop.file = name ? SDL_strdup(name) : nullptr;
    push(e);
  };
  drop(SDL_DROPBEGIN, nullptr);
  drop(SDL_DROPFILE, "/tmp/first.mid");
  drop(SDL_DROPCOMPLETE, nullptr);
  pumpAll();
  EXPECT_TRUE(only(OS_WM_DROPFILES).empty());  // not accepted
  osAcceptDroppedFiles(window, 1);
  drop(SDL_DROPBEGIN, nullptr);
  drop(SDL_DROPFILE, "/tmp/first.mid");
  drop(SDL_DROPFILE, "/tmp/a longer name.ini");
  drop(SDL_DROPCOMPLETE, nullptr);
  pumpAll();
  ASSERT_EQ(1u, only(OS_WM_DROPFILES).size());
  uintptr_t handle = only(OS_WM_DROPFILES)[0].wParam;
  ASSERT_EQ(2, osDroppedFileCount(handle));
  char name[260];
  EXPECT_EQ(14, osDroppedFileName(handle, 0, name, sizeof name));
  EXPECT_STREQ("/tmp/first.mid", name);
  EXPECT_EQ(22, osDroppedFileName(handle, 1, nullptr, 0));  // the whole length
  EXPECT_EQ(4, osDroppedFileName(handle, 1, name, 5));      // cut to the buffer
  EXPECT_STREQ("/tmp", name);
  EXPECT_EQ(0, osDroppedFileName(handle, 2, name, sizeof name));
  osReleaseDrop(handle);
  EXPECT_EQ(0, osDroppedFileCount(handle));
}

}  // namespace
