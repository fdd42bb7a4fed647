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
// the lock only keeps the window thread's upload consistent) and raise the
// needsPresent flag; the window thread uploads the buffer into a streaming
// texture, draws the scroll bars and presents whenever the flag is up at the
// end of a dispatch. So a key drawn on the MIDI thread reaches the screen
// through the window thread with the same look, a few milliseconds later.
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
// to present), asking for a title, z-order or move, or destroying the window
// (each wakes it through wakeFd); at most kIdleLongest. Anything that arrives
// is handled at once instead of at the next 4 ms pass. Other pauses, and all
// pauses within kIdleSettle of activity, last exactly as long as asked.
#include <SDL.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/posix/pixels.h"

namespace {

constexpr int kBarSize = 17;              // scroll-bar thickness, also its arrow buttons and thumb
constexpr int kSentCapacity = 64;         // caused messages waiting (a text event gives up to 32)
constexpr int kPostedCapacity = 256;      // posted messages waiting; more are dropped, as a full queue refuses
constexpr uint64_t kSizeMoveQuiet = 250;  // ms without a size change that end a user resize
constexpr uint64_t kOwnResizeGrace = 300; // ms in which a size change answers our own request
constexpr uint64_t kRepeatDelay = 400;    // ms before a held scroll arrow repeats
constexpr uint64_t kRepeatInterval = 50;  // ms between repeats
constexpr uint32_t kOffscreenTag = 0x4F46534Eu;  // marks a live off-screen record
constexpr int kTagWindow = 0xFE;          // low byte of a window handle
constexpr int kTagSurface = 0xFD;         // low byte of a window surface handle
constexpr int kLoopPauseShortest = 4;     // ms: the main loop's pause between two pumps (4, or 8 under
constexpr int kLoopPauseLongest = 8;      // oldWindows), the only pauses an idle window thread stretches
constexpr uint64_t kIdleSettle = 300;     // ms without work before a pause stretches (SDL's own delays are shorter)
constexpr int kIdleLongest = 100;         // ms: longest stretched pause

// Windows values the header has no name for.
constexpr unsigned kWmDestroy = 0x0002;
constexpr unsigned kWmSysKeyDown = 0x0104;
constexpr unsigned kWmSysKeyUp = 0x0105;
constexpr unsigned kScMaximize = 0xF030;
constexpr int kSizeRestored = 0;
constexpr int kSizeMaximized = 2;
constexpr int kSbLineUp = 0;
constexpr int kSbLineDown = 1;
constexpr int kSbPageUp = 2;
constexpr int kSbPageDown = 3;
constexpr int kSbThumbPosition = 4;
constexpr int kSbThumbTrack = 5;
constexpr int kSbEndScroll = 8;
constexpr int kHtNowhere = 0;
constexpr int kHtClient = 1;
constexpr int kHtHScroll = 6;
constexpr int kHtVScroll = 7;
constexpr int kMkRButton = 0x02;
constexpr int kMkMButton = 0x10;
constexpr int kVkMenu = 0x12;
constexpr int kVkF4 = 0x73;
constexpr int kVkF10 = 0x79;

struct Message {
  OsWindow window;   // addressee
  unsigned message;  // Windows value
  uintptr_t wParam;  // as Windows fills it for the message
  intptr_t lParam;   // likewise
};

// A fixed ring of messages (no allocation when the MIDI thread posts).
template <int N>
struct Ring {
  Message items[N];  // the ring
  int head;          // oldest message
  int count;         // messages held
};

template <int N>
bool ringPush(Ring<N>& ring, const Message& m) {
  if (ring.count == N) return false;
  ring.items[(ring.head + ring.count) % N] = m;
  ring.count++;
  return true;
}

template <int N>
bool ringPop(Ring<N>& ring, Message* m) {
  if (ring.count == 0) return false;
  *m = ring.items[ring.head];
  ring.head = (ring.head + 1) % N;
  ring.count--;
  return true;
}

struct Offscreen {
  uint32_t tag;     // kOffscreenTag while the surface lives
  PixelBuffer pixels;  // black when made
};

struct Bar {
  bool shown;       // takes room from the client area
  int maximum;      // range 0..maximum
  int position;     // thumb, within the range
};

// A left-button press on a scroll bar, until its release (window thread).
struct BarTrack {
  int bar = -1;         // OS_SB_HORZ or OS_SB_VERT; -1 when no press is tracked
  int part;             // kSbLineUp .. kSbPageDown, or kSbThumbTrack for the thumb
  int grab;             // thumb: pointer offset from the thumb's start
  int thumb;            // thumb: the position it is dragged to
  uint64_t nextRepeat;  // arrows and page areas: when the request repeats
};

// One drop of files, from SDL_DROPBEGIN to the procedure's osReleaseDrop.
struct Drop {
  std::vector<std::string> names;  // dropped names, UTF-8
};

// Shared state, under lock.
struct Shared {
  std::mutex lock;              // guards everything below
  bool videoUp;                 // SDL video started by the class registration
  std::thread::id sdlThread;    // the thread that started it: the window thread
  bool classRegistered;         // osRegisterWindowClass succeeded, not yet undone
  OsWindowProc procedure;       // the class's window procedure
  intptr_t serial;              // makes every handle unique
  OsWindow window;              // 0: no window
  OsRect outer;                 // the SDL window on the screen (client area plus shown bars)
  Bar bars[2];                  // OS_SB_HORZ, OS_SB_VERT
  bool maximized;               // the window manager maximised the window
  bool needsPaint;              // part of the client area is invalid
  bool paintDelivered;          // WM_PAINT went out for the current invalid area
  bool acceptsDrops;            // osAcceptDroppedFiles is on
  Ring<kSentCapacity> sent;     // messages caused by calls and SDL events
  Ring<kPostedCapacity> posted; // osPostMessage
  bool titlePending;            // asked on another thread, for the window thread
  char title[256];              // the title asked for
  int topmostPending;           // -1 none, else the z-order asked for
  bool movePending;             // a move asked on another thread
  int moveX, moveY, moveW, moveH;  // osMoveWindow's arguments for it
  OsRect workArea;              // last work area read on the window thread
  std::vector<Drop*> drops;     // drops handed to the procedure and not released
};

// Window thread only.
struct Screen {
  SDL_Window* sdl;              // null: no window
  Uint32 sdlId;                 // its id in SDL events
  SDL_Renderer* renderer;       // the software renderer of the window
  SDL_Texture* texture;         // the client pixels on their way to the screen
  int textureWidth;             // its size, at least the client area's
  int textureHeight;
  Uint16 keyMods;               // SDL modifier state after the last key event
  Uint32 buttons;               // mouse buttons held (SDL button masks)
  int pointerX;                 // last pointer position, window coordinates
  int pointerY;
  BarTrack track;               // a press on a scroll bar
  bool sizing;                  // a user resize is under way
  uint64_t lastSizing;          // when its last size change came
  uint64_t ownResizeAt;         // when we last asked for a size; 0 never
  Drop* gathering;              // the drop being received
  int displayFd = -1;           // the X connection, for the idle wait; -1 when unknown
};

Shared shared{};
Screen screen{};

std::mutex pixelLock;               // guards client and clientSurface
PixelBuffer client{};               // the client area's pixels
intptr_t clientSurface = 0;         // window surface handle handed out; 0 none
std::atomic<bool> needsPresent{false};  // the screen is behind the pixels or the bars

std::atomic<bool> idleWaiting{false};   // the window thread waits for work and wants waking
std::atomic<int> wakeFd{-1};            // eventfd that wakes it; -1 until the first window
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

// The picture changed: the window thread presents it at its next dispatch.
void markPresent() {
  // Most calls find the flag set already (a flood marks every fill): reading
  // first keeps them from writing the line the window thread clears.
  if (needsPresent.load(std::memory_order_acquire)) return;
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

// ---- Pixel work. Clipping keeps every access inside the buffers.

// Brings the client buffer to w x h, keeping the top-left pixels; new pixels
// are black. True when it grew in either direction.
bool resizeClient(int w, int h) {
  std::lock_guard<std::mutex> hold(pixelLock);
  if (w == client.width && h == client.height) return false;
  bool grown = w > client.width || h > client.height;
  uint32_t* data = nullptr;
  if (w > 0 && h > 0) {
    data = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, sizeof(uint32_t)));
    if (data == nullptr) w = h = 0;  // out of memory: an empty client area draws nothing
  }
  PixelBuffer fresh = {data, w, h};
  pixelCopy(fresh, 0, 0, w, h, client, 0, 0);
  std::free(client.data);
  client = fresh;
  markPresent();
  return grown;
}

void freeClient() {
  std::lock_guard<std::mutex> hold(pixelLock);
  std::free(client.data);
  client = PixelBuffer{};
  clientSurface = 0;
}

// Resolves a surface handle. The window's own pixels need pixelLock held.
Offscreen* offscreenOf(OsSurface surface) {
  if (surface == 0 || (surface & 0xFF) == kTagSurface) return nullptr;
  Offscreen* o = reinterpret_cast<Offscreen*>(surface);
  return o->tag == kOffscreenTag ? o : nullptr;
}

bool isClientSurfaceLocked(OsSurface surface) { return surface != 0 && surface == clientSurface; }

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

// ---- Scroll bars: layout along a bar, hit-testing and drawing.

struct BarLayout {
  int length;       // along the bar
  int arrow;        // each arrow button
  int thumbStart;   // 0 with thumbLength 0: no thumb
  int thumbLength;
};

BarLayout layoutBar(int length, int maximum, int position) {
  BarLayout l = {length, std::min(kBarSize, length / 2), 0, 0};
  int track = length - 2 * l.arrow;
  // A bar given only a range (no page size) has a square thumb on Windows;
  // ours is the same, and disappears when the track is too short for it.
  if (maximum > 0 && track >= kBarSize) {
    position = std::clamp(position, 0, maximum);
    l.thumbLength = kBarSize;
    l.thumbStart = l.arrow + static_cast<int>(static_cast<long long>(track - kBarSize) * position / maximum);
  }
  return l;
}

// Which part of a bar lies at distance along from its start; -1 for none.
int barPartAt(const BarLayout& l, int along) {
  if (along < 0 || along >= l.length) return -1;
  if (along < l.arrow) return kSbLineUp;
  if (along >= l.length - l.arrow) return kSbLineDown;
  if (l.thumbLength == 0) return -1;
  if (along < l.thumbStart) return kSbPageUp;
  if (along >= l.thumbStart + l.thumbLength) return kSbPageDown;
  return kSbThumbTrack;
}

// Thumb position for a pointer at distance along, the thumb grabbed at grab.
int thumbPositionAt(const BarLayout& l, int maximum, int along, int grab) {
  int travel = l.length - 2 * l.arrow - kBarSize;
  if (travel <= 0 || maximum <= 0) return 0;
  long long offset = static_cast<long long>(along) - grab - l.arrow;
  long long p = (offset * maximum + travel / 2) / travel;
  return static_cast<int>(std::clamp<long long>(p, 0, maximum));
}

enum Region { kOutside, kClient, kHBar, kVBar, kCorner };

// Where window point (x, y) lies; *along is the distance along a bar.
Region regionAt(int x, int y, int* along) {
  std::lock_guard<std::mutex> hold(shared.lock);
  int w = shared.outer.right - shared.outer.left;
  int h = shared.outer.bottom - shared.outer.top;
  if (x < 0 || y < 0 || x >= w || y >= h) return kOutside;
  int cw, ch;
  clientSizeLocked(&cw, &ch);
  if (x < cw && y < ch) return kClient;
  if (shared.bars[OS_SB_HORZ].shown && x < cw && y >= ch) {
    *along = x;
    return kHBar;
  }
  if (shared.bars[OS_SB_VERT].shown && y < ch && x >= cw) {
    *along = y;
    return kVBar;
  }
  return kCorner;
}

// Colours of the bars: a light track, grey buttons with dark arrows.
constexpr SDL_Color kTrackColour = {0xE8, 0xE8, 0xE8, 0xFF};
constexpr SDL_Color kButtonColour = {0xC8, 0xC8, 0xC8, 0xFF};
constexpr SDL_Color kArrowColour = {0x50, 0x50, 0x50, 0xFF};
constexpr SDL_Color kThumbColour = {0xA0, 0xA0, 0xA0, 0xFF};
constexpr SDL_Color kPressedColour = {0x78, 0x78, 0x78, 0xFF};

void fillBox(int x, int y, int w, int h, SDL_Color c) {
  SDL_SetRenderDrawColor(screen.renderer, c.r, c.g, c.b, c.a);
  SDL_Rect r = {x, y, w, h};
  SDL_RenderFillRect(screen.renderer, &r);
}

// A small triangle in the button at (x, y), pointing by direction (0 left,
// 1 right, 2 up, 3 down), drawn as a stack of lines.
void drawArrow(int x, int y, int size, int direction) {
  SDL_SetRenderDrawColor(screen.renderer, kArrowColour.r, kArrowColour.g, kArrowColour.b, 0xFF);
  int cx = x + size / 2;
  int cy = y + size / 2;
  int half = std::max(size / 4, 1);
  for (int i = 0; i < half; i++) {
    int reach = i;  // half-width of this line of the triangle
    int offset = i - half / 2;
    switch (direction) {
      case 0: SDL_RenderDrawLine(screen.renderer, cx + offset, cy - reach, cx + offset, cy + reach); break;
      case 1: SDL_RenderDrawLine(screen.renderer, cx - offset, cy - reach, cx - offset, cy + reach); break;
      case 2: SDL_RenderDrawLine(screen.renderer, cx - reach, cy + offset, cx + reach, cy + offset); break;
      default: SDL_RenderDrawLine(screen.renderer, cx - reach, cy - offset, cx + reach, cy - offset); break;
    }
  }
}

void drawBar(int bar, const Bar& b, int cw, int ch) {
  bool horizontal = bar == OS_SB_HORZ;
  int length = horizontal ? cw : ch;
  int x0 = horizontal ? 0 : cw;
  int y0 = horizontal ? ch : 0;
  bool tracked = screen.track.bar == bar;
  int position = tracked && screen.track.part == kSbThumbTrack ? screen.track.thumb : b.position;
  BarLayout l = layoutBar(length, b.maximum, position);
  auto box = [&](int start, int size, SDL_Color c) {
    if (horizontal) {
      fillBox(x0 + start, y0, size, kBarSize, c);
    } else {
      fillBox(x0, y0 + start, kBarSize, size, c);
    }
  };
  box(0, length, kTrackColour);
  if (l.arrow <= 0) return;
  box(0, l.arrow, tracked && screen.track.part == kSbLineUp ? kPressedColour : kButtonColour);
  box(length - l.arrow, l.arrow, tracked && screen.track.part == kSbLineDown ? kPressedColour : kButtonColour);
  if (horizontal) {
    drawArrow(x0, y0, l.arrow, 0);
    drawArrow(x0 + length - l.arrow, y0, l.arrow, 1);
  } else {
    drawArrow(x0, y0, l.arrow, 2);
    drawArrow(x0, y0 + length - l.arrow, l.arrow, 3);
  }
  if (l.thumbLength > 0) {
    box(l.thumbStart, l.thumbLength, tracked && screen.track.part == kSbThumbTrack ? kPressedColour : kThumbColour);
  }
}

// ---- Presenting (window thread).

void present() {
  if (screen.renderer == nullptr) return;
  if (!needsPresent.exchange(false)) return;
  int cw, ch;
  {
    std::lock_guard<std::mutex> hold(pixelLock);
    cw = client.width;
    ch = client.height;
    if (cw > 0 && ch > 0) {
      if (screen.texture == nullptr || cw > screen.textureWidth || ch > screen.textureHeight) {
        // Grown past the texture: a new one with room to spare, so that a
        // user dragging an edge does not make one per step.
        if (screen.texture != nullptr) SDL_DestroyTexture(screen.texture);
        screen.textureWidth = std::max(cw, screen.textureWidth) + 64;
        screen.textureHeight = std::max(ch, screen.textureHeight) + 64;
        screen.texture = SDL_CreateTexture(screen.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                           screen.textureWidth, screen.textureHeight);
        if (screen.texture == nullptr) screen.textureWidth = screen.textureHeight = 0;
      }
      SDL_Rect r = {0, 0, cw, ch};
      // RGB888 is 0x00RRGGBB in a 32-bit word: our pixels as they are.
      if (screen.texture != nullptr) SDL_UpdateTexture(screen.texture, &r, client.data, cw * 4);
    }
  }
  SDL_SetRenderDrawColor(screen.renderer, 0, 0, 0, 0xFF);
  SDL_RenderClear(screen.renderer);
  if (screen.texture != nullptr && cw > 0 && ch > 0) {
    SDL_Rect r = {0, 0, cw, ch};
    SDL_RenderCopy(screen.renderer, screen.texture, &r, &r);
  }
  Bar bars[2];
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    bars[0] = shared.bars[0];
    bars[1] = shared.bars[1];
  }
  if (bars[OS_SB_HORZ].shown) drawBar(OS_SB_HORZ, bars[OS_SB_HORZ], cw, ch);
  if (bars[OS_SB_VERT].shown) drawBar(OS_SB_VERT, bars[OS_SB_VERT], cw, ch);
  if (bars[OS_SB_HORZ].shown && bars[OS_SB_VERT].shown) fillBox(cw, ch, kBarSize, kBarSize, kTrackColour);
  SDL_RenderPresent(screen.renderer);
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

void destroyScreen() {
  if (screen.texture != nullptr) SDL_DestroyTexture(screen.texture);
  if (screen.renderer != nullptr) SDL_DestroyRenderer(screen.renderer);
  if (screen.sdl != nullptr) SDL_DestroyWindow(screen.sdl);
  delete screen.gathering;
  screen = Screen{};
}

// Keys by SDL keycode. Letters and digits are handled before this table.
struct KeyCode {
  int sdl;  // SDL keycode
  int vk;   // Windows virtual-key code
};

const KeyCode kKeyTable[] = {
    {SDLK_BACKSPACE, 0x08}, {SDLK_TAB, 0x09}, {SDLK_CLEAR, 0x0C}, {SDLK_RETURN, 0x0D}, {SDLK_RETURN2, 0x0D},
    {SDLK_PAUSE, 0x13}, {SDLK_CAPSLOCK, 0x14}, {SDLK_ESCAPE, 0x1B}, {SDLK_SPACE, 0x20}, {SDLK_PAGEUP, 0x21},
    {SDLK_PAGEDOWN, 0x22}, {SDLK_END, 0x23}, {SDLK_HOME, 0x24}, {SDLK_LEFT, 0x25}, {SDLK_UP, 0x26},
    {SDLK_RIGHT, 0x27}, {SDLK_DOWN, 0x28}, {SDLK_SELECT, 0x29}, {SDLK_EXECUTE, 0x2B}, {SDLK_PRINTSCREEN, 0x2C},
    {SDLK_INSERT, 0x2D}, {SDLK_DELETE, 0x2E}, {SDLK_HELP, 0x2F}, {SDLK_LGUI, 0x5B}, {SDLK_RGUI, 0x5C},
    {SDLK_APPLICATION, 0x5D}, {SDLK_SLEEP, 0x5F}, {SDLK_KP_MULTIPLY, 0x6A}, {SDLK_KP_PLUS, 0x6B},
    {SDLK_KP_MINUS, 0x6D}, {SDLK_KP_DIVIDE, 0x6F}, {SDLK_KP_ENTER, 0x0D}, {SDLK_NUMLOCKCLEAR, 0x90},
    {SDLK_SCROLLLOCK, 0x91}, {SDLK_LSHIFT, 0x10}, {SDLK_RSHIFT, 0x10}, {SDLK_LCTRL, 0x11}, {SDLK_RCTRL, 0x11},
    {SDLK_LALT, 0x12}, {SDLK_RALT, 0x12}, {SDLK_MODE, 0x12}, {SDLK_MUTE, 0xAD}, {SDLK_VOLUMEDOWN, 0xAE},
    {SDLK_VOLUMEUP, 0xAF}, {SDLK_AUDIONEXT, 0xB0}, {SDLK_AUDIOPREV, 0xB1}, {SDLK_AUDIOSTOP, 0xB2},
    {SDLK_AUDIOPLAY, 0xB3},
    // Punctuation as the US layout has it unshifted (VK_OEM_1 .. VK_OEM_7),
    // and "+", which Windows names VK_OEM_PLUS on every layout.
    {';', 0xBA}, {'=', 0xBB}, {'+', 0xBB}, {',', 0xBC}, {'-', 0xBD}, {'.', 0xBE}, {'/', 0xBF}, {'`', 0xC0},
    {'[', 0xDB}, {'\\', 0xDC}, {']', 0xDD}, {'\'', 0xDE},
};

// Keys by scancode: the US position of a key whose keycode is not above
// (a letter of another script, a layout's own punctuation).
const KeyCode kScancodeTable[] = {
    {SDL_SCANCODE_SEMICOLON, 0xBA}, {SDL_SCANCODE_EQUALS, 0xBB}, {SDL_SCANCODE_COMMA, 0xBC},
    {SDL_SCANCODE_MINUS, 0xBD}, {SDL_SCANCODE_PERIOD, 0xBE}, {SDL_SCANCODE_SLASH, 0xBF},
    {SDL_SCANCODE_GRAVE, 0xC0}, {SDL_SCANCODE_LEFTBRACKET, 0xDB}, {SDL_SCANCODE_BACKSLASH, 0xDC},
    {SDL_SCANCODE_NONUSHASH, 0xDC}, {SDL_SCANCODE_RIGHTBRACKET, 0xDD}, {SDL_SCANCODE_APOSTROPHE, 0xDE},
    {SDL_SCANCODE_NONUSBACKSLASH, 0xE2}, {SDL_SCANCODE_INTERNATIONAL1, 0xE2}, {SDL_SCANCODE_INTERNATIONAL3, 0xDC},
};

// Keypad keys with NumLock off, as Windows reports them: the navigation keys.
const KeyCode kKeypadNavigation[] = {
    {SDLK_KP_0, 0x2D}, {SDLK_KP_1, 0x23}, {SDLK_KP_2, 0x28}, {SDLK_KP_3, 0x22}, {SDLK_KP_4, 0x25},
    {SDLK_KP_5, 0x0C}, {SDLK_KP_6, 0x27}, {SDLK_KP_7, 0x24}, {SDLK_KP_8, 0x26}, {SDLK_KP_9, 0x21},
    {SDLK_KP_PERIOD, 0x2E},
};

// The idle wait (window thread), as the comment at the top of the file
// describes it: false when the window thread has work or was busy lately (the
// pause is then an ordinary one), true after waiting.
bool idleWait() {
  if (screen.sdl == nullptr || screen.displayFd < 0 || wakeFd.load() < 0) return false;
  if (screen.sizing || screen.track.bar >= 0) return false;  // their timers run on the passes
  if (now() - lastActive < kIdleSettle) return false;
  idleWaiting.store(true);
  bool work = needsPresent.load();
  if (!work) {
    std::lock_guard<std::mutex> hold(shared.lock);
    work = shared.window == 0 || shared.sent.count > 0 || shared.posted.count > 0 || shared.titlePending ||
           shared.movePending || shared.topmostPending >= 0 || (shared.needsPaint && !shared.paintDelivered);
  }
  if (!work) {
    // Whatever Xlib has read already goes into SDL's queue; after that only
    // new input on the connection can bring more.
    SDL_PumpEvents();
    work = SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE;
  }
  if (!work) {
    pollfd fds[2] = {{screen.displayFd, POLLIN, 0}, {wakeFd.load(), POLLIN, 0}};
    ::poll(fds, 2, kIdleLongest);
    uint64_t count;
    if (fds[1].revents != 0 && ::read(fds[1].fd, &count, sizeof count) < 0) {
      // Another wait took the count already.
    }
  }
  idleWaiting.store(false);
  return !work;
}

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

int desktopVirtualKey(int keycode, int scancode, unsigned modifiers) {
  if (keycode >= 'a' && keycode <= 'z') return keycode - 'a' + 0x41;
  // The top row gives the digit codes on every Windows layout, whatever it
  // prints (AZERTY's "&", "\"", "-" ...).
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return scancode - SDL_SCANCODE_1 + 0x31;
  if (scancode == SDL_SCANCODE_0) return 0x30;
  if (keycode >= '0' && keycode <= '9') return keycode;
  if (keycode >= SDLK_F1 && keycode <= SDLK_F12) return keycode - SDLK_F1 + 0x70;
  if (keycode >= SDLK_F13 && keycode <= SDLK_F24) return keycode - SDLK_F13 + 0x7C;
  bool numLock = (modifiers & KMOD_NUM) != 0;
  if (keycode >= SDLK_KP_1 && keycode <= SDLK_KP_0) {
    // SDL numbers them 1..9, 0.
    for (const KeyCode& k : kKeypadNavigation) {
      if (!numLock && k.sdl == keycode) return k.vk;
    }
    return keycode == SDLK_KP_0 ? 0x60 : keycode - SDLK_KP_1 + 0x61;
  }
  if (keycode == SDLK_KP_PERIOD) return numLock ? 0x6E : 0x2E;
  for (const KeyCode& k : kKeyTable) {
    if (k.sdl == keycode) return k.vk;
  }
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return scancode - SDL_SCANCODE_A + 0x41;
  for (const KeyCode& k : kScancodeTable) {
    if (k.sdl == scancode) return k.vk;
  }
  return 0;
}

void desktopPresentWindow(void) {
  if (onWindowThread()) present();
}

void desktopPause(int ms) {
  if (ms >= kLoopPauseShortest && ms <= kLoopPauseLongest && onWindowThread() && idleWait()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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
    if (!startVideo()) return -1;
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
  SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(desktopIconPixels), desktopIconSize,
                                                         desktopIconSize, 32, desktopIconSize * 4,
                                                         SDL_PIXELFORMAT_ARGB8888);
  if (icon != nullptr) {
    SDL_SetWindowIcon(screen.sdl, icon);
    SDL_FreeSurface(icon);
  }
  screen.displayFd = desktopDisplayConnection(screen.sdl);
  if (wakeFd.load() < 0) wakeFd.store(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
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

// What Windows' default processing does, as far as it applies here. System
// commands come after the window manager has acted, so they need nothing.
intptr_t osDefaultWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case OS_WM_CLOSE:
      osDestroyWindow(window);
      return 0;
    case OS_WM_PAINT:
      osValidateWindow(window);
      return 0;
    case OS_WM_ERASEBKGND:
      return 1;  // new client pixels are black already: the class's black background
    case OS_WM_NCHITTEST:
      return kHtClient;
    case kWmSysKeyDown:
      // Alt+F4 closes the window when no window manager took it first.
      if (wParam == kVkF4 && (static_cast<uintptr_t>(lParam) & 1u << 29)) osPostMessage(window, OS_WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}

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

// The window manager decides the maximised size (WM_GETMINMAXINFO is never
// sent here); a record handed in anyway gets the size where Windows keeps it.
void osSetMaximizedSize(intptr_t minMaxInfo, int w, int h) {
  if (minMaxInfo == 0) return;
  int* fields = reinterpret_cast<int*>(minMaxInfo);
  fields[2] = w;  // ptMaxSize.x, after ptReserved
  fields[3] = h;
}

OsSurface osWindowSurface(OsWindow window) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return 0;
  }
  std::lock_guard<std::mutex> hold(pixelLock);
  if (clientSurface == 0) clientSurface = (window & ~static_cast<intptr_t>(0xFF)) | kTagSurface;
  return clientSurface;
}

void osReleaseWindowSurface(OsWindow window, OsSurface surface) {
  std::lock_guard<std::mutex> hold(pixelLock);
  if (surface == clientSurface) clientSurface = 0;
}

OsSurface osCreateOffscreen(OsSurface compatible, int w, int h) {
  (void)compatible;  // every surface holds 0xRRGGBB pixels
  if (w < 0 || h < 0) return 0;
  Offscreen* o = new (std::nothrow) Offscreen{kOffscreenTag, PixelBuffer{nullptr, w, h}};
  if (o == nullptr) return 0;
  if (w > 0 && h > 0) {
    o->pixels.data = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(w) * h, sizeof(uint32_t)));
    if (o->pixels.data == nullptr) {
      delete o;
      return 0;
    }
  }
  return reinterpret_cast<OsSurface>(o);
}

void osDestroyOffscreen(OsSurface surface) {
  Offscreen* o = offscreenOf(surface);
  if (o == nullptr) return;
  o->tag = 0;
  std::free(o->pixels.data);
  delete o;
}

void osFillRect(OsSurface surface, const OsRect* rect, uint8_t r, uint8_t g, uint8_t b) {
  if (rect == nullptr) return;
  uint32_t colour = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
  if (Offscreen* o = offscreenOf(surface)) {
    pixelFill(o->pixels, rect->left, rect->top, rect->right, rect->bottom, colour);
    return;
  }
  std::lock_guard<std::mutex> hold(pixelLock);
  if (!isClientSurfaceLocked(surface)) return;
  pixelFill(client, rect->left, rect->top, rect->right, rect->bottom, colour);
  markPresent();
}

void osCopyBlock(OsSurface destination, int dx, int dy, int w, int h, OsSurface source, int sx, int sy) {
  Offscreen* d = offscreenOf(destination);
  Offscreen* s = offscreenOf(source);
  if (d != nullptr && s != nullptr) {
    pixelCopy(d->pixels, dx, dy, w, h, s->pixels, sx, sy);
    return;
  }
  std::lock_guard<std::mutex> hold(pixelLock);
  PixelBuffer* to = d ? &d->pixels : isClientSurfaceLocked(destination) ? &client : nullptr;
  const PixelBuffer* from = s ? &s->pixels : isClientSurfaceLocked(source) ? &client : nullptr;
  if (to == nullptr || from == nullptr) return;
  pixelCopy(*to, dx, dy, w, h, *from, sx, sy);
  if (to == &client) markPresent();
}

void osValidateWindow(OsWindow window) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (isWindowLocked(window)) shared.needsPaint = false;
}

// As Windows does with a window's standard bars: a non-empty range shows the
// bar, 0..0 hides it, and a change of visibility resizes the client area.
void osSetScrollRange(OsWindow window, int bar, int maximum, int redraw) {
  (void)redraw;  // the bars are drawn with every presentation
  bool changed;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
    Bar& b = shared.bars[bar];
    b.maximum = std::max(maximum, 0);
    b.position = std::clamp(b.position, 0, b.maximum);
    bool show = b.maximum > 0;
    changed = b.shown != show;
    b.shown = show;
  }
  markPresent();
  if (changed) clientChanged(window);
}

void osSetScrollPos(OsWindow window, int bar, int position) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
  Bar& b = shared.bars[bar];
  b.position = std::clamp(position, 0, b.maximum);
  markPresent();
}

void osShowScrollBar(OsWindow window, int bar, int show) {
  bool changed;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
    changed = shared.bars[bar].shown != (show != 0);
    shared.bars[bar].shown = show != 0;
  }
  markPresent();
  if (changed) clientChanged(window);
}

// Moves the client pixels; the uncovered strip turns black (the class
// background) and gets a WM_PAINT.
void osScrollWindow(OsWindow window, int dx, int dy) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window) || (dx == 0 && dy == 0)) return;
    invalidateLocked();
  }
  std::lock_guard<std::mutex> hold(pixelLock);
  int w = client.width;
  int h = client.height;
  pixelCopy(client, dx, dy, w, h, client, 0, 0);
  if (dx > 0) pixelFill(client, 0, 0, dx, h, 0);
  if (dx < 0) pixelFill(client, w + dx, 0, w, h, 0);
  if (dy > 0) pixelFill(client, 0, 0, w, dy, 0);
  if (dy < 0) pixelFill(client, 0, h + dy, w, h, 0);
  markPresent();
}

int osDispatchOneMessage(void) {
  OsWindow window;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!onWindowThreadLocked()) return 0;
    window = shared.window;
  }
  if (window == 0) return 0;
  applyDeferred();
  Message m;
  bool got;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    got = ringPop(shared.sent, &m) || ringPop(shared.posted, &m);
  }
  if (!got && pollEvents(window)) {
    std::lock_guard<std::mutex> hold(shared.lock);
    got = ringPop(shared.sent, &m);
  }
  if (!got) got = timerMessage(window, &m);
  if (!got) {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (isWindowLocked(window) && shared.needsPaint && !shared.paintDelivered) {
      // Unlike Windows, a procedure that leaves the area invalid gets no
      // second WM_PAINT until something new needs painting: the pump would
      // never run dry otherwise.
      shared.paintDelivered = true;
      m = Message{window, OS_WM_PAINT, 0, 0};
      got = true;
    }
  }
  if (got) deliver(m);
  present();
  return got ? 1 : 0;
}

void osPostMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    ringPush(shared.posted, Message{window, message, wParam, lParam});
  }
  wakeWindowThread();
}

// Pending keyboard input of a terminal on standard input is discarded; any
// other standard input (a file, a pipe, nothing) is left alone.
void osFlushConsoleInput(void) {
  if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}
