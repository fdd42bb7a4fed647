// Desktop window backend: SDL events turned into the Windows messages the
// window procedure is written for (pointer, buttons, keys and text, window
// changes, dropped files), the timers of a user resize and a held scroll-bar
// button, and the dropped-file services.
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

// ---- SDL events to Windows messages (window thread).

intptr_t screenPoint(int x, int y) {
  std::lock_guard<std::mutex> hold(shared.lock);
  return packPoint(shared.outer.left + x, shared.outer.top + y);
}

uintptr_t mouseFlags(Uint32 buttons) {
  uintptr_t f = 0;
  if (buttons & SDL_BUTTON_LMASK) f |= OS_MK_LBUTTON;
  if (buttons & SDL_BUTTON_RMASK) f |= kMkRButton;
  if (buttons & SDL_BUTTON_MMASK) f |= kMkMButton;
  if (screen.keyMods & KMOD_SHIFT) f |= OS_MK_SHIFT;
  if (screen.keyMods & KMOD_CTRL) f |= OS_MK_CONTROL;
  return f;
}

// The scroll request of a bar press, as WM_HSCROLL or WM_VSCROLL.
void queueScroll(OsWindow window, int bar, int code, int position) {
  unsigned message = bar == OS_SB_HORZ ? OS_WM_HSCROLL : OS_WM_VSCROLL;
  queueSent(window, message, static_cast<uintptr_t>(code | (position & 0xFFFF) << 16), 0);
}

// Layout of a bar as it stands (thumb at its set position).
BarLayout currentLayout(int bar, int* maximum) {
  std::lock_guard<std::mutex> hold(shared.lock);
  int cw, ch;
  clientSizeLocked(&cw, &ch);
  const Bar& b = shared.bars[bar];
  *maximum = b.maximum;
  return layoutBar(bar == OS_SB_HORZ ? cw : ch, b.maximum, b.position);
}

void pointerMoved(OsWindow window, int x, int y, Uint32 state) {
  screen.pointerX = x;
  screen.pointerY = y;
  if (screen.track.bar >= 0) {
    // Windows' scroll-bar tracking loop sees the pointer alone: no hit tests
    // and no mouse messages while the button is held on a bar.
    if (screen.track.part == kSbThumbTrack) {
      int maximum;
      BarLayout l = currentLayout(screen.track.bar, &maximum);
      int along = screen.track.bar == OS_SB_HORZ ? x : y;
      int p = thumbPositionAt(l, maximum, along, screen.track.grab);
      if (p != screen.track.thumb) {
        screen.track.thumb = p;
        markPresent();
        queueScroll(window, screen.track.bar, kSbThumbTrack, p);
      }
    }
    return;
  }
  int along = 0;
  Region region = regionAt(x, y, &along);
  switch (region) {
    case kClient:
      queueSent(window, OS_WM_NCHITTEST, 0, screenPoint(x, y));
      queueSent(window, OS_WM_MOUSEMOVE, mouseFlags(state), packPoint(x, y));
      break;
    case kHBar:
    case kVBar:
    case kCorner: {
      // Over the bars Windows reports non-client moves, with the hit code.
      const intptr_t at = screenPoint(x, y);
      queueSent(window, OS_WM_NCHITTEST, 0, at);
      queueSent(window, OS_WM_NCMOUSEMOVE, region == kHBar ? kHtHScroll : region == kVBar ? kHtVScroll : kHtNowhere,
                at);
      break;
    }
    case kOutside:
      // SDL keeps reporting the pointer while a button is held (it captures
      // the mouse); Windows, which does not capture for us, would show the
      // pointer crossing the frame as a non-client move.
      if (state & SDL_BUTTON_LMASK) queueSent(window, OS_WM_NCMOUSEMOVE, kHtNowhere, screenPoint(x, y));
      break;
  }
}

void buttonPressed(OsWindow window, Uint8 button, int x, int y) {
  Uint32 mask = SDL_BUTTON(button);
  screen.buttons |= mask;
  screen.pointerX = x;
  screen.pointerY = y;
  int along = 0;
  Region region = regionAt(x, y, &along);
  if (region == kClient) {
    unsigned message = button == SDL_BUTTON_LEFT    ? OS_WM_LBUTTONDOWN
                       : button == SDL_BUTTON_RIGHT ? OS_WM_RBUTTONDOWN
                       : button == SDL_BUTTON_MIDDLE ? OS_WM_MBUTTONDOWN
                                                     : 0;
    if (message != 0) queueSent(window, message, mouseFlags(screen.buttons), packPoint(x, y));
    return;
  }
  if (button != SDL_BUTTON_LEFT || (region != kHBar && region != kVBar)) return;
  int bar = region == kHBar ? OS_SB_HORZ : OS_SB_VERT;
  int maximum;
  BarLayout l = currentLayout(bar, &maximum);
  int part = barPartAt(l, along);
  if (part < 0) return;
  screen.track = BarTrack{bar, part, along - l.thumbStart, 0, now() + kRepeatDelay};
  if (part == kSbThumbTrack) {
    std::lock_guard<std::mutex> hold(shared.lock);
    screen.track.thumb = shared.bars[bar].position;
  } else {
    queueScroll(window, bar, part, 0);
  }
  markPresent();
}

void buttonReleased(OsWindow window, Uint8 button, int x, int y) {
  screen.buttons &= ~SDL_BUTTON(button);
  screen.pointerX = x;
  screen.pointerY = y;
  if (button == SDL_BUTTON_LEFT && screen.track.bar >= 0) {
    if (screen.track.part == kSbThumbTrack) queueScroll(window, screen.track.bar, kSbThumbPosition, screen.track.thumb);
    queueScroll(window, screen.track.bar, kSbEndScroll, 0);
    screen.track.bar = -1;
    markPresent();
    return;
  }
  int along = 0;
  // A release outside the client area belongs to whatever lies there (the
  // frame, another window): the procedure sees no button-up, as on Windows.
  if (regionAt(x, y, &along) != kClient) return;
  unsigned message = button == SDL_BUTTON_LEFT    ? OS_WM_LBUTTONUP
                     : button == SDL_BUTTON_RIGHT ? OS_WM_RBUTTONUP
                     : button == SDL_BUTTON_MIDDLE ? OS_WM_MBUTTONUP
                                                   : 0;
  if (message != 0) queueSent(window, message, mouseFlags(screen.buttons), packPoint(x, y));
}

// Windows' TranslateMessage characters for keys that give no SDL text.
int controlCharacter(int vk, Uint16 mods) {
  bool ctrl = (mods & KMOD_CTRL) != 0;
  switch (vk) {
    case 0x1B: return 27;
    case 0x0D: return ctrl ? 10 : 13;
    case 0x08: return ctrl ? 127 : 8;
    case 0x09: return ctrl ? 0 : 9;
    default: break;
  }
  if (!ctrl) return 0;
  if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 1;
  if (vk == 0xDB) return 27;  // Ctrl+[
  if (vk == 0xDC) return 28;  // Ctrl+backslash
  if (vk == 0xDD) return 29;  // Ctrl+]
  return 0;
}

// Alt without Ctrl: Windows makes key messages system messages then (AltGr,
// which Windows reports as Ctrl+Alt, gives ordinary ones).
bool altOnly(Uint16 mods) { return (mods & KMOD_ALT) != 0 && (mods & KMOD_CTRL) == 0; }

void keyChanged(OsWindow window, const SDL_KeyboardEvent& k) {
  screen.keyMods = k.keysym.mod;
  int vk = desktopVirtualKey(k.keysym.sym, k.keysym.scancode, k.keysym.mod);
  if (vk == 0) return;
  bool down = k.type == SDL_KEYDOWN;
  bool alt = altOnly(k.keysym.mod);
  // Windows sends Alt itself, Alt combinations and F10 as WM_SYSKEYDOWN and
  // WM_SYSKEYUP, which never reach the program's key table.
  bool sys = alt || vk == kVkMenu || vk == kVkF10;
  // lParam as Windows builds it: repeat count 1, bit 29 Alt, bit 30 the
  // key's previous state, bit 31 set on release. The scan-code bits stay 0:
  // SDL does not hand out the keyboard's own codes.
  uint32_t lParam = 1;
  if (alt) lParam |= 1u << 29;
  if (!down || k.repeat) lParam |= 1u << 30;
  if (!down) lParam |= 1u << 31;
  unsigned message = down ? (sys ? kWmSysKeyDown : unsigned{OS_WM_KEYDOWN}) : (sys ? kWmSysKeyUp : unsigned{OS_WM_KEYUP});
  queueSent(window, message, static_cast<uintptr_t>(vk), static_cast<intptr_t>(lParam));
  if (!down || sys) return;
  int c = controlCharacter(vk, k.keysym.mod);
  if (c != 0) queueSent(window, OS_WM_CHAR, static_cast<uintptr_t>(c), static_cast<intptr_t>(lParam));
}

// SDL text comes after its key event, in UTF-8: the program's narrow code
// page on Linux, so each byte is one character message, as a double-byte
// code page gives lead and trail bytes on Windows.
void textEntered(OsWindow window, const char* text) {
  Uint16 mods = screen.keyMods;
  // X11 still gives text for Ctrl+"=" and the like; Windows gives none.
  if ((mods & KMOD_CTRL) && !(mods & KMOD_ALT)) return;
  bool alt = altOnly(mods);
  intptr_t lParam = alt ? 1 | 1 << 29 : 1;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    queueSent(window, alt ? OS_WM_SYSCHAR : OS_WM_CHAR, *p, lParam);
  }
}

void userResized(OsWindow window, int w, int h) {
  OsRect was;
  bool maximized;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    was = shared.outer;
    maximized = shared.maximized;
  }
  // X11 may report the new size before the maximised state; SDL has read
  // both from the server by now.
  if (SDL_GetWindowFlags(screen.sdl) & SDL_WINDOW_MAXIMIZED) maximized = true;
  int oldW = was.right - was.left;
  int oldH = was.bottom - was.top;
  if (w == oldW && h == oldH) return;  // our own request, already counted
  OsRect rect = {was.left, was.top, was.left + w, was.top + h};
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.outer = rect;
  }
  // The window manager's late answer to our own request, or its maximising,
  // is no user resize: only the size is reported.
  bool answer = screen.ownResizeAt != 0 && now() - screen.ownResizeAt < kOwnResizeGrace;
  if (!answer && !maximized) {
    // X11 does not tell which edge the user drags: it is guessed from the
    // dimension that changed (right, bottom, or the bottom-right corner).
    int edge = w != oldW && h != oldH ? 8 : w != oldW ? 2 : 6;
    static OsRect dragged;  // what WM_SIZING's lParam points to (window thread)
    dragged = rect;
    queueSent(window, OS_WM_SIZING, static_cast<uintptr_t>(edge), reinterpret_cast<intptr_t>(&dragged));
    screen.sizing = true;
    screen.lastSizing = now();
  }
  markPresent();
  int cw, ch;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    clientSizeLocked(&cw, &ch);
  }
  if (resizeClient(cw, ch)) {
    std::lock_guard<std::mutex> hold(shared.lock);
    invalidateLocked();
  }
  queueSent(window, OS_WM_SIZE, maximized ? kSizeMaximized : kSizeRestored, packPoint(cw, ch));
}

void windowEvent(OsWindow window, const SDL_WindowEvent& e) {
  switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
      queueSent(window, OS_WM_CLOSE, 0, 0);
      break;
    case SDL_WINDOWEVENT_EXPOSED: {
      std::lock_guard<std::mutex> hold(shared.lock);
      invalidateLocked();
      markPresent();
      break;
    }
    case SDL_WINDOWEVENT_MOVED: {
      std::lock_guard<std::mutex> hold(shared.lock);
      int w = shared.outer.right - shared.outer.left;
      int h = shared.outer.bottom - shared.outer.top;
      shared.outer = {e.data1, e.data2, e.data1 + w, e.data2 + h};
      break;
    }
    case SDL_WINDOWEVENT_RESIZED:
      userResized(window, e.data1, e.data2);
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      // The window manager has done it already; the procedure learns of it
      // as Windows tells it, before the change.
      queueSent(window, OS_WM_SYSCOMMAND, OS_SC_MINIMIZE, 0);
      break;
    case SDL_WINDOWEVENT_MAXIMIZED: {
      {
        std::lock_guard<std::mutex> hold(shared.lock);
        shared.maximized = true;
      }
      queueSent(window, OS_WM_SYSCOMMAND, kScMaximize, 0);
      break;
    }
    case SDL_WINDOWEVENT_RESTORED: {
      int cw, ch;
      {
        std::lock_guard<std::mutex> hold(shared.lock);
        shared.maximized = false;
        clientSizeLocked(&cw, &ch);
      }
      queueSent(window, OS_WM_SYSCOMMAND, OS_SC_RESTORE, 0);
      queueSent(window, OS_WM_SIZE, kSizeRestored, packPoint(cw, ch));
      break;
    }
    case SDL_WINDOWEVENT_ENTER:
      queueSent(window, OS_WM_NCHITTEST, 0, screenPoint(screen.pointerX, screen.pointerY));
      break;
    case SDL_WINDOWEVENT_LEAVE:
      if ((screen.buttons & SDL_BUTTON_LMASK) && screen.track.bar < 0) {
        queueSent(window, OS_WM_NCMOUSEMOVE, kHtNowhere, screenPoint(screen.pointerX, screen.pointerY));
      }
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      screen.keyMods = static_cast<Uint16>(SDL_GetModState());
      break;
    default:
      break;
  }
}

void dropEvent(OsWindow window, const SDL_DropEvent& e) {
  switch (e.type) {
    case SDL_DROPBEGIN:
      if (screen.gathering == nullptr) screen.gathering = new (std::nothrow) Drop;
      break;
    case SDL_DROPFILE:
      if (screen.gathering == nullptr) screen.gathering = new (std::nothrow) Drop;
      if (screen.gathering != nullptr && e.file != nullptr) screen.gathering->names.emplace_back(e.file);
      break;
    case SDL_DROPCOMPLETE: {
      Drop* drop = screen.gathering;
      screen.gathering = nullptr;
      if (drop == nullptr) break;
      std::lock_guard<std::mutex> hold(shared.lock);
      if (!shared.acceptsDrops || drop->names.empty() || !isWindowLocked(window) ||
          !ringPush(shared.sent, Message{window, OS_WM_DROPFILES, reinterpret_cast<uintptr_t>(drop), 0})) {
        delete drop;
        break;
      }
      shared.drops.push_back(drop);
      break;
    }
    default:
      break;
  }
}

// Event ids of the window an event is for (0: not tied to a window).
Uint32 eventWindowId(const SDL_Event& e) {
  switch (e.type) {
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPCOMPLETE: return e.drop.windowID;
    default: return 0;
  }
}

void translate(OsWindow window, SDL_Event& e) {
  Uint32 id = eventWindowId(e);
  bool ours = id == 0 || id == screen.sdlId;
  switch (e.type) {
    case SDL_QUIT:
      queueSent(window, OS_WM_CLOSE, 0, 0);
      break;
    case SDL_WINDOWEVENT:
      if (ours) windowEvent(window, e.window);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      if (ours) keyChanged(window, e.key);
      break;
    case SDL_TEXTINPUT:
      if (ours) textEntered(window, e.text.text);
      break;
    case SDL_MOUSEMOTION:
      if (ours && e.motion.which != SDL_TOUCH_MOUSEID) pointerMoved(window, e.motion.x, e.motion.y, e.motion.state);
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (ours && e.button.which != SDL_TOUCH_MOUSEID) buttonPressed(window, e.button.button, e.button.x, e.button.y);
      break;
    case SDL_MOUSEBUTTONUP:
      if (ours && e.button.which != SDL_TOUCH_MOUSEID) buttonReleased(window, e.button.button, e.button.x, e.button.y);
      break;
    case SDL_MOUSEWHEEL: {
      if (!ours) break;
      int delta = e.wheel.y * 120;  // WHEEL_DELTA per notch, away from the user positive
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) delta = -delta;
      uintptr_t wParam = mouseFlags(screen.buttons) | static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16;
      queueSent(window, OS_WM_MOUSEWHEEL, wParam, screenPoint(e.wheel.mouseX, e.wheel.mouseY));
      break;
    }
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPCOMPLETE:
      if (ours) dropEvent(window, e.drop);
      if (e.type == SDL_DROPFILE) SDL_free(e.drop.file);
      break;
    case SDL_DROPTEXT:
      SDL_free(e.drop.file);
      break;
    default:
      break;
  }
}

// Takes SDL events until one gives a message (queued in sent); false when
// SDL has no more.
bool pollEvents(OsWindow window) {
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    lastActive = now();
    translate(window, e);
    std::lock_guard<std::mutex> hold(shared.lock);
    if (shared.sent.count > 0 || !isWindowLocked(window)) return true;
  }
  return false;
}

// Whether a mouse button is down anywhere on the screen. While the user drags
// a frame edge the window manager holds the pointer, and its size changes can
// pause as long as the user's hand does: the resize ends at the release, as
// Windows ends it with the drag.
bool pointerButtonHeld() {
  int x, y;
  return SDL_GetGlobalMouseState(&x, &y) != 0;
}

// The timers: the end of a user resize, and a held scroll-bar button.
bool timerMessage(OsWindow window, Message* m) {
  uint64_t t = now();
  if (screen.sizing && t - screen.lastSizing >= kSizeMoveQuiet && !pointerButtonHeld()) {
    screen.sizing = false;
    *m = Message{window, OS_WM_EXITSIZEMOVE, 0, 0};
    return true;
  }
  BarTrack& track = screen.track;
  if (track.bar < 0 || track.part == kSbThumbTrack || t < track.nextRepeat) return false;
  track.nextRepeat = t + kRepeatInterval;
  // The request repeats while the pointer stays on the part pressed; a page
  // request stops once the thumb has come up to the pointer.
  int along = 0;
  Region region = regionAt(screen.pointerX, screen.pointerY, &along);
  if (region != (track.bar == OS_SB_HORZ ? kHBar : kVBar)) return false;
  int maximum;
  BarLayout l = currentLayout(track.bar, &maximum);
  if (barPartAt(l, along) != track.part) return false;
  *m = Message{window, track.bar == OS_SB_HORZ ? OS_WM_HSCROLL : OS_WM_VSCROLL, static_cast<uintptr_t>(track.part), 0};
  return true;
}

}  // namespace desktop_window

using namespace desktop_window;

void osAcceptDroppedFiles(OsWindow window, int accept) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (isWindowLocked(window)) shared.acceptsDrops = accept != 0;
}

namespace {

Drop* findDropLocked(uintptr_t drop) {
  for (Drop* d : shared.drops) {
    if (reinterpret_cast<uintptr_t>(d) == drop) return d;
  }
  return nullptr;
}

}  // namespace

int osDroppedFileCount(uintptr_t drop) {
  std::lock_guard<std::mutex> hold(shared.lock);
  Drop* d = findDropLocked(drop);
  return d ? static_cast<int>(d->names.size()) : 0;
}

// As DragQueryFileA: copies at most size - 1 bytes and a terminator and
// returns the number copied; without a buffer, returns the name's length.
int osDroppedFileName(uintptr_t drop, int index, char* name, int size) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (name != nullptr && size > 0) name[0] = '\0';
  Drop* d = findDropLocked(drop);
  if (d == nullptr || index < 0 || index >= static_cast<int>(d->names.size())) return 0;
  const std::string& n = d->names[static_cast<size_t>(index)];
  if (name == nullptr) return static_cast<int>(n.size());
  if (size <= 0) return 0;
  int copied = std::min(static_cast<int>(n.size()), size - 1);
  std::memcpy(name, n.data(), static_cast<size_t>(copied));
  name[copied] = '\0';
  return copied;
}

void osReleaseDrop(uintptr_t drop) {
  Drop* d;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    d = findDropLocked(drop);
    if (d == nullptr) return;
    std::erase(shared.drops, d);
  }
  delete d;
}
