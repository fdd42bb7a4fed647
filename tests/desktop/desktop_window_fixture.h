// The desktop window tests' fixture: a virtual X server (Xvfb) and the
// program's window on it, with a window procedure that records every message.
#pragma once

#include <gtest/gtest.h>
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/os_system.h"
#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "child_process.h"
#include "x_session.h"

// Shared by the window test files: one X server and one record of what the
// window procedure received for the whole process.

// Windows values the platform header has no name for.
constexpr unsigned kWmSysKeyDown = 0x0104;
constexpr int kSbEndScroll = 8;
constexpr int kSbThumbTrack = 5;
constexpr int kSbThumbPosition = 4;

// ---- The virtual X server: one for the whole process, started by the first
// test (SDL video stays connected to it from the first window on).

inline pid_t xvfb = 0;
inline Display* x = nullptr;  // the tests' own connection to it
inline std::string xvfbFailure;

// ---- What the window procedure receives.

struct Seen {
  unsigned message;  // Windows value
  uintptr_t wParam;  // as the backend filled them
  intptr_t lParam;
};

inline std::vector<Seen> seen;  // window thread only

inline intptr_t recordingProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  seen.push_back({message, wParam, lParam});
  return osDefaultWindowProc(window, message, wParam, lParam);
}

// The messages of one kind, in order.
inline std::vector<Seen> only(unsigned message) {
  std::vector<Seen> out;
  for (const Seen& s : seen) {
    if (s.message == message) out.push_back(s);
  }
  return out;
}

// The wParams of the messages of one kind, in order.
inline std::vector<uintptr_t> wParams(unsigned message) {
  std::vector<uintptr_t> out;
  for (const Seen& s : only(message)) out.push_back(s.wParam);
  return out;
}
using Params = std::vector<uintptr_t>;

// Index of the first message of a kind at or after from, -1 if none.
inline int indexOf(unsigned message, size_t from = 0) {
  for (size_t i = from; i < seen.size(); i++) {
    if (seen[i].message == message) return static_cast<int>(i);
  }
  return -1;
}

inline intptr_t point(int x, int y) { return static_cast<intptr_t>(static_cast<uint32_t>((x & 0xFFFF) | (y & 0xFFFF) << 16)); }

inline void pumpAll() {
  while (osDispatchOneMessage()) {
  }
}

// Pumps until the condition holds; the X server answers at its own pace, so
// this waits (up to a generous bound) rather than assume a delay.
inline bool pumpUntil(const std::function<bool()>& done) {
  auto give = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    pumpAll();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > give) return false;
    SDL_Delay(5);
  }
}

class DesktopWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!onPath("Xvfb")) {
      if (std::getenv("CI")) FAIL() << "Xvfb is not installed";
      GTEST_SKIP() << "Xvfb is not installed";
    }
    if (xvfb == 0 && xvfbFailure.empty()) {
      std::string display;
      x = startXvfb(&xvfb, &display, &xvfbFailure);
      if (x != nullptr) setenv("DISPLAY", display.c_str(), 1);
    }
    ASSERT_NE(nullptr, x) << xvfbFailure;
    seen.clear();
    ASSERT_EQ(0, osRegisterWindowClass(recordingProc)) << SDL_GetError();
    window = osCreateWindow("Notalumen test", 40, 30, 320, 160);
    ASSERT_NE(0, window) << SDL_GetError();
    id = SDL_GetWindowID(desktopSdlWindow());
    surface = osWindowSurface(window);
    ASSERT_NE(0, surface);
    pumpAll();
    creation = seen;
    seen.clear();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(desktopSdlWindow(), &info)) << SDL_GetError();
    xwindow = info.info.x11.window;
  }

  void TearDown() override {
    if (surface != 0) osReleaseWindowSurface(window, surface);
    if (window != 0) osDestroyWindow(window);
    osUnregisterWindowClass();
  }

  // Reads a pixel of the window from the X server, as 0xRRGGBB.
  uint32_t screenPixel(int px, int py) {
    XImage* image = XGetImage(x, xwindow, px, py, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return 0xFFFFFFFF;
    const uint32_t rgb = rgbAt(image, 0, 0);
    XDestroyImage(image);
    return rgb;
  }
  // Several pixels, in the order given.
  std::vector<uint32_t> screenPixels(std::initializer_list<std::pair<int, int>> points) {
    std::vector<uint32_t> out;
    for (const auto& p : points) out.push_back(screenPixel(p.first, p.second));
    return out;
  }

  // The window's rectangle on the screen and its client rectangle.
  using Rect = std::array<int, 4>;  // left, top, right, bottom
  Rect windowRect() {
    OsRect r;
    osGetWindowRect(window, &r);
    return {r.left, r.top, r.right, r.bottom};
  }
  Rect clientRect() {
    OsRect r;
    osGetClientRect(window, &r);
    return {r.left, r.top, r.right, r.bottom};
  }

  void fill(int l, int t, int r, int b, uint32_t rgb) {
    OsRect rect = {l, t, r, b};
    osFillRect(surface, &rect, static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
               static_cast<uint8_t>(rgb));
  }

  void push(SDL_Event e) { ASSERT_EQ(1, SDL_PushEvent(&e)) << SDL_GetError(); }

  void key(SDL_EventType type, SDL_Keycode sym, SDL_Scancode code, Uint16 mods, bool repeat = false) {
    SDL_Event e{};
    e.type = type;
    e.key.windowID = id;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = code;
    e.key.keysym.mod = mods;
    push(e);
  }

  void text(const char* t) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    e.text.windowID = id;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", t);
    push(e);
  }

  void motion(int px, int py, Uint32 state) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id;
    e.motion.x = px;
    e.motion.y = py;
    e.motion.state = state;
    push(e);
  }

  void button(SDL_EventType type, Uint8 which, int px, int py) {
    SDL_Event e{};
    e.type = type;
    e.button.windowID = id;
    e.button.button = which;
    e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = px;
    e.button.y = py;
    push(e);
  }

  void click(int px, int py) {
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, px, py);
    button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, px, py);
  }

  void windowEvent(SDL_WindowEventID what) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id;
    e.window.event = what;
    push(e);
  }

  OsWindow window = 0;
  OsSurface surface = 0;
  Uint32 id = 0;
  std::vector<Seen> creation;  // what the procedure saw while the window was made
  Window xwindow = 0;
};

// ---- Creation, geometry, window-thread requests.
