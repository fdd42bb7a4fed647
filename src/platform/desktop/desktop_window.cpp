// Desktop (Linux) window and drawing services over SDL2: the one window and its
// client pixels, off-screen pixel surfaces, fills and block copies, the scroll
// bars we draw ourselves, dropped files, and the message pump that turns SDL
// events into the Windows messages our window procedure is written for.
//
// Threads. The window thread is the thread that starts SDL video (the class
// registration, just before the window is made) and creates the window: the
// program's main thread. It alone calls SDL. Everything else may be called
// from any thread: fills, copies and off-screen surfaces touch only our own
// pixel buffers; a request that needs SDL (title, z-order, move) made on
// another thread is kept and carried out at the window thread's next dispatch.
//
// Pixels. The client area is a CPU buffer of 0xRRGGBB pixels. Fills and
// copies write it under pixelLock (the program serialises its own drawing;
// the lock only keeps the window thread's upload consistent), widen the band
// of rows drawn since the last presentation and raise the needsPresent flag.
// The window thread presents at the end of a dispatch while the flag is up:
// it uploads only the drawn rows into a streaming texture and copies only
// those to the window; anything else that changes the picture (a size, the
// scroll bars, an exposure) makes the next presentation redo the whole
// window. So a key drawn on the MIDI thread reaches the screen through the
// window thread with the same look, within a frame of the display: while
// the only work is a picture drawn by another thread, the main loop's pause
// lasts until a frame has passed since the last presentation (see Idle), so
// a flood is presented about 60 times a second, not at every pass.
//
// Geometry. SDL sizes a window by its client area and leaves the frame to the
// window manager, which we cannot measure reliably (X11 reports it late, if at
// all). Our "outer" window rectangle is therefore the SDL window: the client
// area plus the scroll bars when shown, with no caption and no frame.
//
// Messages. osDispatchOneMessage hands out, in this order: messages a call or
// an SDL event caused (one SDL event can give several, such as WM_NCHITTEST
// before WM_MOUSEMOVE), posted messages, the next SDL event's messages, the
// timers (end of a user resize, scroll-bar auto-repeat), and WM_PAINT while
// part of the client area is invalid. Messages caused on the window thread by
// a call (WM_SIZE when a bar or the size changes) reach the procedure before
// the call returns, as on Windows.
//
// Idle. The main loop pauses 4 ms between two pumps (osSleep), 250 wake-ups a
// second whether anything happens or not. Once the window thread has had
// nothing to do for kIdleSettle (no message delivered, no SDL event), such a
// pause lasts until the window thread has work: input on the X connection, an
// SDL event queued, or another thread posting a message, drawing (the picture
// to present), asking for a title, z-order or move, or destroying the window,
// or the MIDI system telling of devices (desktopMidiNews), each of which wakes
// it through wakeFd; at most kIdleLongest. Anything that arrives
// is handled at once instead of at the next 4 ms pass. Such a pause whose
// only work is a picture that another thread drew, or keys it noted for the
// pass to paint (osWindowKeysNoted), lasts, in the same way, until a frame
// (framePeriod, from the display's refresh rate) has passed since the last
// presentation. Other pauses are as long as asked.
#include <SDL.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

Shared shared{};
Screen screen{};

std::mutex pixelLock;               // guards client and clientSurface
PixelBuffer client{};               // the client area's pixels
intptr_t clientSurface = 0;         // window surface handle handed out; 0 none
std::atomic<bool> needsPresent{false};  // the screen is behind the pixels or the bars
std::atomic<bool> presentWhole{true};   // more than client rows changed: the next presentation redoes everything
int dirtyTop = 0;                       // client rows drawn since the last presentation (under pixelLock)
int dirtyBottom = 0;

std::atomic<bool> keysNoted{false};     // the drawing noted keys for the window thread's next pass
std::atomic<bool> midiNews{false};      // devices came or went since the last pass began
std::atomic<bool> idleWaiting{false};   // the window thread waits for work and wants waking
std::atomic<int> wakeFd{-1};            // eventfd that wakes it; -1 until the first window
std::atomic<int> quitSignalled{0};      // SIGINT, SIGTERM or SIGHUP came: the window is to close
uint64_t lastActive = 0;                // window thread: last message delivered or SDL event taken

// ---- Small helpers.

uint64_t now() { return SDL_GetTicks64(); }

// Another thread left work for the window thread: wakes it when it waits idle.
void wakeWindowThread() {
  if (!idleWaiting.load()) return;
  const int fd = wakeFd.load();
  const uint64_t one = 1;
  if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) {
    // The counter is full, so a wake-up is pending already.
  }
}

// A quit signal asks the window to close, as its close box does, so the
// program ends through its exit path: the notes it holds are ended and its
// MIDI ports closed (a JACK client killed outright also leaves a synchronous
// server waiting for it). Only an atomic store and a write here: both are
// safe in a signal handler.
void onQuitSignal(int) {
  quitSignalled.store(1);
  const int fd = wakeFd.load();
  const uint64_t one = 1;
  if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) {
    // A wake-up is pending already.
  }
}

void catchQuitSignals() {
  struct sigaction action = {};
  action.sa_handler = onQuitSignal;
  action.sa_flags = SA_RESTART;  // calls under way on other threads go on
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// The picture changed: the window thread presents it at its next dispatch.
void markPresent() {
  presentWhole.store(true);
  if (!needsPresent.exchange(true)) wakeWindowThread();
}

bool isWindowLocked(OsWindow window) { return window != 0 && window == shared.window; }

// Back to no window: bars, flags, queues and pending requests as at start.
// Messages for the window that was are discarded. shared.lock held.
void forgetWindowLocked() {
  shared.window = 0;
  shared.outer = {};
  shared.bars[0] = shared.bars[1] = Bar{false, 0, 0};
  shared.maximized = false;
  shared.needsPaint = shared.paintDelivered = false;
  shared.acceptsDrops = false;
  shared.sent = {};
  shared.posted = {};
  shared.titlePending = shared.movePending = false;
  shared.topmostPending = -1;
}

bool onWindowThreadLocked() { return shared.videoUp && std::this_thread::get_id() == shared.sdlThread; }

bool onWindowThread() {
  std::lock_guard<std::mutex> hold(shared.lock);
  return onWindowThreadLocked();
}

intptr_t packPoint(int x, int y) {
  return static_cast<intptr_t>(static_cast<uint32_t>((x & 0xFFFF) | (y & 0xFFFF) << 16));
}

void clientSizeLocked(int* w, int* h) {
  int cw = shared.outer.right - shared.outer.left;
  int ch = shared.outer.bottom - shared.outer.top;
  if (shared.bars[OS_SB_VERT].shown) cw -= kBarSize;
  if (shared.bars[OS_SB_HORZ].shown) ch -= kBarSize;
  *w = std::max(cw, 0);
  *h = std::max(ch, 0);
}

void invalidateLocked() {
  shared.needsPaint = true;
  shared.paintDelivered = false;
}

// Queues a message caused on the window thread (or by a call elsewhere).
void queueSent(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    ringPush(shared.sent, Message{window, message, wParam, lParam});
  }
  wakeWindowThread();
}

// Calls the procedure for a live window, with no lock held (window thread).
intptr_t deliver(const Message& m) {
  lastActive = now();
  OsWindowProc procedure;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(m.window)) return 0;
    procedure = shared.procedure;
  }
  return procedure ? procedure(m.window, m.message, m.wParam, m.lParam) : 0;
}

// A message a call causes: at once on the window thread, else queued.
void sendMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  if (onWindowThread()) {
    deliver(Message{window, message, wParam, lParam});
  } else {
    queueSent(window, message, wParam, lParam);
  }
}
// After the bars or the size changed: the client buffer follows, a grown area
// needs painting, and WM_SIZE tells the procedure.
void clientChanged(OsWindow window) {
  int w, h;
  bool maximized;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    clientSizeLocked(&w, &h);
    maximized = shared.maximized;
  }
  int oldW, oldH;
  {
    std::lock_guard<std::mutex> hold(pixelLock);
    oldW = client.width;
    oldH = client.height;
  }
  if (w == oldW && h == oldH) return;
  if (resizeClient(w, h)) {
    std::lock_guard<std::mutex> hold(shared.lock);
    invalidateLocked();
  }
  sendMessage(window, OS_WM_SIZE, maximized ? kSizeMaximized : kSizeRestored, packPoint(w, h));
}
// ---- Window-thread work that other threads leave for the next dispatch.

void applyTitle(const char* title) {
  if (screen.sdl != nullptr) SDL_SetWindowTitle(screen.sdl, title ? title : "");
}

void applyTopmost(int topmost) {
  if (screen.sdl != nullptr) SDL_SetWindowAlwaysOnTop(screen.sdl, topmost ? SDL_TRUE : SDL_FALSE);
}

void applyMove(OsWindow window, int x, int y, int w, int h) {
  if (screen.sdl == nullptr) return;
  w = std::max(w, 1);
  h = std::max(h, 1);
  OsRect was;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    was = shared.outer;
  }
  // Both calls wait (up to 100 ms each, inside SDL) for the X server and the
  // window manager to carry the change out, so they are made only when
  // something changes.
  if (x != OS_CW_USEDEFAULT && (x != was.left || y != was.top)) SDL_SetWindowPosition(screen.sdl, x, y);
  if (w != was.right - was.left || h != was.bottom - was.top) {
    screen.ownResizeAt = now();
    SDL_SetWindowSize(screen.sdl, w, h);
  }
  // What SDL reports now is what the window manager granted.
  int ax, ay, aw, ah;
  SDL_GetWindowPosition(screen.sdl, &ax, &ay);
  SDL_GetWindowSize(screen.sdl, &aw, &ah);
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.outer = {ax, ay, ax + aw, ay + ah};
  }
  markPresent();
  clientChanged(window);
}

void applyDeferred() {
  OsWindow window;
  bool title, move;
  char text[sizeof shared.title];
  int topmost, x, y, w, h;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!shared.titlePending && !shared.movePending && shared.topmostPending < 0) return;
    window = shared.window;
    title = shared.titlePending;
    move = shared.movePending;
    topmost = shared.topmostPending;
    std::memcpy(text, shared.title, sizeof text);
    x = shared.moveX;
    y = shared.moveY;
    w = shared.moveW;
    h = shared.moveH;
    shared.titlePending = false;
    shared.movePending = false;
    shared.topmostPending = -1;
  }
  if (window == 0) return;
  if (title) applyTitle(text);
  if (topmost >= 0) applyTopmost(topmost);
  if (move) applyMove(window, x, y, w, h);
}
void destroyScreen() {
  if (screen.texture != nullptr) SDL_DestroyTexture(screen.texture);
  if (screen.renderer != nullptr) SDL_DestroyRenderer(screen.renderer);
  if (screen.sdl != nullptr) SDL_DestroyWindow(screen.sdl);
  delete screen.gathering;
  screen = Screen{};
}
namespace {

// Starts SDL video on a real display. When the X server refuses a
// connection (Xvfb drops one now and then under quick reconnects), SDL 2.26
// falls back to its "offscreen" driver without a word, and the program would
// run with a window no one can see: that is taken as a failure and tried
// again. A driver asked for by name (SDL_VIDEODRIVER) is taken as it comes.
bool startVideo() {
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  for (int attempt = 0; attempt < 5; attempt++) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) {
      const char* driver = SDL_GetCurrentVideoDriver();
      bool invisible = driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
      if (!invisible || (asked != nullptr && *asked != '\0')) return true;
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      SDL_SetError("no display could be opened");
    }
    SDL_Delay(20);
  }
  return false;
}

}  // namespace

}  // namespace desktop_window

using namespace desktop_window;

void desktopPresentWindow(void) {
  if (onWindowThread()) present();
}

SDL_Window* desktopSdlWindow(void) { return screen.sdl; }
// ---- Services.

int osRegisterWindowClass(OsWindowProc procedure) {
  bool up;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (shared.classRegistered || procedure == nullptr) return -1;  // the class exists already
    up = shared.videoUp;
  }
  if (!up) {
    // Settings at default priority, so the SDL_* environment variables still
    // win. SDL would otherwise turn the screen saver off while the window
    // lives, catch SIGINT and SIGTERM as a quit request, and end on the last
    // window's close by itself; the program keeps none of that. The picture
    // is a CPU buffer of a few rectangles at a time, which the software
    // renderer puts on the X window by itself (shared-memory images) without
    // a GL driver. Left alone, SDL would slip an OpenGL texture under even
    // the software renderer's window surface ("framebuffer acceleration"),
    // with Mesa's threads behind it.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_RENDER_DRIVER, "software", SDL_HINT_DEFAULT);
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    // The window's class, whatever the program file is called (SDL would
    // take the file's name).
    ::setenv("SDL_VIDEO_X11_WMCLASS", NOTALUMEN_WINDOW_CLASS, 0);
    ::setenv("SDL_VIDEO_WAYLAND_WMCLASS", NOTALUMEN_WINDOW_CLASS, 0);
    if (!startVideo()) {
      // The program goes on without a window (a /list needs none) and ends
      // with exit code 1 at its main loop.
      std::fprintf(stderr, "Notalumen: no display: the keyboard window cannot open (%s).\n", SDL_GetError());
      return -1;
    }
    // Every X event also as an SDL event (which the translation ignores): X
    // traffic that SDL acts on only later (a focus change, 200 ms on) keeps
    // the window thread from the idle wait in the meantime.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    std::lock_guard<std::mutex> hold(shared.lock);
    shared.videoUp = true;
    shared.sdlThread = std::this_thread::get_id();
  }
  std::lock_guard<std::mutex> hold(shared.lock);
  shared.classRegistered = true;
  shared.procedure = procedure;
  return 0;
}

// A class whose window still lives stays registered, as on Windows. SDL
// video stays up until the process ends: stopping it unloads the X
// libraries, and starting it again loads them anew and leaves a little of
// their memory behind each time.
void osUnregisterWindowClass(void) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (shared.window != 0) return;
  shared.classRegistered = false;
  shared.procedure = nullptr;
}

// The outer rectangle is the client area: SDL sizes windows by their client
// area and the frame is the window manager's. The scroll bars are left out,
// as Windows leaves them out of AdjustWindowRect.
void osAdjustWindowRect(OsRect* rect) { (void)rect; }

void osGetWorkArea(OsRect* rect) {
  bool here;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    here = onWindowThreadLocked();
  }
  if (here) {
    int display = screen.sdl != nullptr ? SDL_GetWindowDisplayIndex(screen.sdl) : 0;
    SDL_Rect r;
    if (SDL_GetDisplayUsableBounds(display < 0 ? 0 : display, &r) == 0) {
      std::lock_guard<std::mutex> hold(shared.lock);
      shared.workArea = {r.x, r.y, r.x + r.w, r.y + r.h};
    }
  }
  std::lock_guard<std::mutex> hold(shared.lock);
  *rect = shared.workArea;
  if (rect->right <= rect->left || rect->bottom <= rect->top) *rect = {0, 0, 1024, 768};  // never read yet
}

// Our own bars are 17 pixels thick, as Windows' standard ones; there is no
// caption inside the outer rectangle (see osAdjustWindowRect).
int osGetSystemMetric(int index) {
  switch (index) {
    case OS_SM_CXVSCROLL:
    case OS_SM_CYHSCROLL: return kBarSize;
    case OS_SM_CYCAPTION: return 0;
    default: return 0;
  }
}

OsWindow osCreateWindow(const char* title, int x, int y, int w, int h) {
  OsWindow window;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!shared.classRegistered || shared.window != 0 || !onWindowThreadLocked()) return 0;
  }
  w = std::max(w, 1);
  h = std::max(h, 1);
  int px = x == OS_CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
  int py = x == OS_CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
  // Made hidden and shown once the procedure has had WM_CREATE, as Windows
  // shows a window after creating it.
  screen = Screen{};
  screen.sdl = SDL_CreateWindow(title ? title : "", px, py, w, h,
                                SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALWAYS_ON_TOP);
  if (screen.sdl != nullptr) screen.renderer = SDL_CreateRenderer(screen.sdl, -1, 0);
  if (screen.renderer == nullptr) {
    destroyScreen();
    return 0;
  }
  screen.sdlId = SDL_GetWindowID(screen.sdl);
  SDL_DisplayMode mode;
  const int display = SDL_GetWindowDisplayIndex(screen.sdl);
  if (SDL_GetCurrentDisplayMode(display < 0 ? 0 : display, &mode) == 0 && mode.refresh_rate >= 30) {
    screen.framePeriod = static_cast<uint64_t>(1000 / mode.refresh_rate);
  }
  SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(desktopIconPixels), desktopIconSize,
                                                         desktopIconSize, 32, desktopIconSize * 4,
                                                         SDL_PIXELFORMAT_ARGB8888);
  if (icon != nullptr) {
    SDL_SetWindowIcon(screen.sdl, icon);
    SDL_FreeSurface(icon);
  }
  screen.displayFd = desktopDisplayConnection(screen.sdl);
  if (wakeFd.load() < 0) {
    wakeFd.store(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    catchQuitSignals();  // from the first window on; before it the signals end the program as usual
  }
  screen.keyMods = static_cast<Uint16>(SDL_GetModState());
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    forgetWindowLocked();  // nothing of an earlier window carries over
    window = (++shared.serial << 8) | kTagWindow;
    shared.window = window;
    int ax, ay;
    SDL_GetWindowPosition(screen.sdl, &ax, &ay);
    shared.outer = {ax, ay, ax + w, ay + h};
  }
  resizeClient(w, h);
  if (deliver(Message{window, OS_WM_CREATE, 0, 0}) == -1) {  // the procedure refuses the window
    osDestroyWindow(window);
    return 0;
  }
  SDL_ShowWindow(screen.sdl);
  // Where the window manager put it.
  int ax, ay, aw, ah;
  SDL_GetWindowPosition(screen.sdl, &ax, &ay);
  SDL_GetWindowSize(screen.sdl, &aw, &ah);
  int cw, ch;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return 0;
    shared.outer = {ax, ay, ax + aw, ay + ah};
    clientSizeLocked(&cw, &ch);
    invalidateLocked();  // shown: the whole client area needs painting
  }
  resizeClient(cw, ch);
  markPresent();
  deliver(Message{window, OS_WM_SIZE, kSizeRestored, packPoint(cw, ch)});
  return window;
}

// On the window thread the window goes at once. Elsewhere (only an exit
// from another thread would do that) it is forgotten without SDL calls; the
// process is ending and takes the SDL window with it.
void osDestroyWindow(OsWindow window) {
  bool here;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    here = onWindowThreadLocked();
  }
  if (here) deliver(Message{window, kWmDestroy, 0, 0});
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    forgetWindowLocked();
  }
  freeClient();
  if (here) {
    destroyScreen();
  } else {
    wakeWindowThread();  // its main loop finds the window gone
  }
}

void osSetWindowTitle(OsWindow window, const char* title) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    if (!onWindowThreadLocked()) {
      std::snprintf(shared.title, sizeof shared.title, "%s", title ? title : "");
      shared.titlePending = true;
      wakeWindowThread();
      return;
    }
  }
  applyTitle(title);
  present();
}

// Also shows what was drawn so far: start-up draws and changes the z-order
// long before its message pump first runs.
void osSetTopmost(OsWindow window, int topmost) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    if (!onWindowThreadLocked()) {
      shared.topmostPending = topmost ? 1 : 0;
      wakeWindowThread();
      return;
    }
  }
  applyTopmost(topmost);
  present();
}

void osMoveWindow(OsWindow window, int x, int y, int w, int h) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    if (!onWindowThreadLocked()) {
      shared.movePending = true;
      shared.moveX = x;
      shared.moveY = y;
      shared.moveW = w;
      shared.moveH = h;
      wakeWindowThread();
      return;
    }
  }
  applyMove(window, x, y, w, h);
}

void osGetClientRect(OsWindow window, OsRect* rect) {
  std::lock_guard<std::mutex> hold(shared.lock);
  int w = 0, h = 0;
  if (isWindowLocked(window)) clientSizeLocked(&w, &h);
  *rect = {0, 0, w, h};
}

void osGetWindowRect(OsWindow window, OsRect* rect) {
  std::lock_guard<std::mutex> hold(shared.lock);
  *rect = isWindowLocked(window) ? shared.outer : OsRect{0, 0, 0, 0};
}
