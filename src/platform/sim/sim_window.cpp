// Sim window machine: a screen with a work area and system metrics, at most one
// window (frame, scroll bars, client-area pixels, message queue), off-screen
// pixel surfaces, dropped files, and a PNG writer for looking at surfaces.
//
// Threads. One mutex guards the geometry, the queues, the surface and drop
// tables and the window's own pixels (the platform resizes those when the
// window changes size, so they are the platform's to protect). Off-screen
// pixels belong to the program and are written without a lock: the program's
// own serialisation keeps them sound, and the sanitizers can see when it does
// not. The window procedure is never called with the mutex held.
//
// Messages a call causes (WM_GETMINMAXINFO, WM_CREATE, WM_SIZE, WM_DESTROY,
// the user-resize messages) reach the procedure at once when the call is made
// on the window's thread (the one that created it). Made on another thread,
// they wait in the queue of sent messages until the window thread's next
// dispatch, ahead of posted messages; Windows would make the caller wait for
// that instead. Messages that carry a pointer are only delivered on the
// window's thread. Only the window's thread dispatches.
//
// WM_PAINT is not queued: the window keeps a needs-paint flag, and a dispatch
// that finds both queues empty delivers WM_PAINT while the flag is set, as
// Windows does. Unlike Windows, a procedure that leaves the area invalid gets
// no second WM_PAINT until something new needs painting (Windows would send
// them for ever); simWindowNeedsPaint shows the fault instead.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/shared/pixels.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace {

constexpr int kMetricCount = 100;      // system metric indexes 0..99
constexpr int kMaxOffscreens = 64;     // live off-screen surfaces at most
constexpr long long kMaxPixels = 1LL << 25;  // a larger off-screen surface fails, as a bitmap would
constexpr uint32_t kNoPixel = 0xFFFFFFFF;    // what the pixel readers return outside every surface
constexpr int kTagWindow = 0xFE;       // low byte of a window handle
constexpr int kTagSurface = 0xFD;      // low byte of a window surface handle
constexpr int kTagDrop = 0xFC;         // low byte of a drop handle
constexpr unsigned kWmDestroy = 0x0002;
constexpr unsigned kWmEnterSizeMove = 0x0231;
constexpr unsigned kScMaximize = 0xF030;
constexpr unsigned kScClose = 0xF060;
constexpr int kHtClient = 1;
enum { kNormal = 0, kMinimized = 1, kMaximized = 2 };  // placement, also WM_SIZE's wParam

struct Pixels {
  int width = 0;               // in pixels
  int height = 0;
  std::vector<uint32_t> data;  // 0xRRGGBB, row after row
};

struct Offscreen {
  intptr_t handle = 0;  // 0: free slot
  Pixels pixels;        // black when made
};

struct Bar {
  bool shown = false;  // takes room from the client area
  int maximum = 0;     // range 0..maximum; 0 or less is empty
  int position = 0;    // thumb, within the range
};

struct Message {
  OsWindow window;   // addressee
  unsigned message;  // Windows value
  uintptr_t wParam;
  intptr_t lParam;
};

struct Drop {
  intptr_t handle;                 // what WM_DROPFILES carries in wParam
  std::vector<std::string> names;  // dropped names, narrow
};

// The record WM_GETMINMAXINFO points to, in the layout of MINMAXINFO.
struct MinMaxInfo {
  int reservedX, reservedY;
  int maxSizeX, maxSizeY;          // size of the maximised window
  int maxPositionX, maxPositionY;  // its position, relative to the work area
  int minTrackX, minTrackY;        // smallest outer size
  int maxTrackX, maxTrackY;        // largest outer size
};

struct Machine {
  std::mutex lock;
  OsRect workArea{0, 0, 1920, 1040};  // desktop without task bars
  int metrics[kMetricCount] = {0, 0, 17, 17, 23};  // GetSystemMetrics values (scroll bars, caption)
  int border = 4;               // sizing frame on each side
  int caption = 23;             // caption bar of the frame
  intptr_t serial = 0;          // makes every handle unique
  bool classRegistered = false;
  OsWindowProc procedure = nullptr;  // the class's window procedure
  OsWindow window = 0;          // 0: no window
  bool destroying = false;      // WM_DESTROY is being sent
  std::thread::id owner;        // thread that created the window
  std::string title;
  bool topmost = false;
  bool acceptsDrops = false;
  OsRect outer{};               // window rectangle on the screen
  int placement = kNormal;      // normal, minimised or maximised
  OsRect normalRect{};          // rectangle to restore from maximised or minimised
  int placementBeforeMinimize = kNormal;
  OsRect rectBeforeMinimize{};
  Pixels client;                // the client area's pixels
  intptr_t surface = 0;         // the window surface handed out, 0 none
  Bar bars[2];                  // OS_SB_HORZ, OS_SB_VERT
  bool needsPaint = false;      // part of the client area is invalid
  bool paintDelivered = false;  // WM_PAINT went out for the current invalid area
  int maxSizeX = 0;             // ptMaxSize after the last WM_GETMINMAXINFO
  int maxSizeY = 0;
  std::deque<Message> sent;     // messages caused on another thread
  std::deque<Message> posted;   // posted messages
  Offscreen offscreens[kMaxOffscreens];
  std::vector<Drop> drops;      // drops not yet released
  int consoleFlushes = 0;       // osFlushConsoleInput calls
  bool keyDown[256] = {};       // simPostKey's key state
};

Machine m;

intptr_t newHandleLocked(int tag) { return (++m.serial << 8) | tag; }

bool isWindowLocked(OsWindow window) { return window != 0 && window == m.window; }

void resetLocked() {
  m.workArea = {0, 0, 1920, 1040};
  std::fill(std::begin(m.metrics), std::end(m.metrics), 0);
  m.metrics[OS_SM_CXVSCROLL] = 17;
  m.metrics[OS_SM_CYHSCROLL] = 17;
  m.metrics[OS_SM_CYCAPTION] = 23;
  m.border = 4;
  m.caption = 23;
  m.classRegistered = false;
  m.procedure = nullptr;
  m.window = 0;
  m.destroying = false;
  m.owner = std::thread::id();
  m.title.clear();
  m.topmost = false;
  m.acceptsDrops = false;
  m.outer = {};
  m.placement = kNormal;
  m.normalRect = {};
  m.placementBeforeMinimize = kNormal;
  m.rectBeforeMinimize = {};
  m.client = Pixels();
  m.surface = 0;
  m.bars[0] = m.bars[1] = Bar();
  m.needsPaint = m.paintDelivered = false;
  m.maxSizeX = m.maxSizeY = 0;
  m.sent.clear();
  m.posted.clear();
  for (Offscreen& o : m.offscreens) o = Offscreen();
  m.drops.clear();
  m.consoleFlushes = 0;
  std::fill(std::begin(m.keyDown), std::end(m.keyDown), false);
}

// ---- Pixels: fills and copies with exclusive bounds, clipped.

void resizePixels(Pixels& p, int w, int h) {
  std::vector<uint32_t> data(static_cast<size_t>(w) * h, 0);
  int keepW = std::min(w, p.width), keepH = std::min(h, p.height);
  for (int y = 0; y < keepH && keepW > 0; y++) {
    std::memcpy(&data[static_cast<size_t>(y) * w], &p.data[static_cast<size_t>(y) * p.width],
                keepW * sizeof(uint32_t));
  }
  p.width = w;
  p.height = h;
  p.data.swap(data);
}

PixelBuffer bufferOf(Pixels& p) { return PixelBuffer{p.data.data(), p.width, p.height}; }

void fillPixels(Pixels& p, long long left, long long top, long long right, long long bottom, uint32_t colour) {
  pixelFill(bufferOf(p), left, top, right, bottom, colour);
}

void copyPixels(Pixels& d, long long dx, long long dy, long long w, long long h, Pixels& s, long long sx,
                long long sy) {
  pixelCopy(bufferOf(d), dx, dy, w, h, bufferOf(s), sx, sy);
}

// An off-screen surface's pixels, found without the lock: the program owns
// them and hands the handle between its threads itself.
Pixels* offscreenPixels(OsSurface surface) {
  intptr_t slot = surface & 0xFF;
  if (surface == 0 || slot >= kMaxOffscreens || m.offscreens[slot].handle != surface) return nullptr;
  return &m.offscreens[slot].pixels;
}

Pixels* windowPixelsLocked(OsSurface surface) {
  if (surface == 0 || m.window == 0 || surface != m.surface) return nullptr;
  return &m.client;
}

// Any surface for the readers; 0 stands for the client area.
const Pixels* anyPixelsLocked(intptr_t surface) {
  if (surface == 0 || (m.window != 0 && surface == m.surface)) return m.window != 0 ? &m.client : nullptr;
  return offscreenPixels(surface);
}

// ---- Geometry.

void invalidateLocked() {
  m.needsPaint = true;
  m.paintDelivered = false;
}

int clampInt(long long v, long long low, long long high) { return static_cast<int>(std::max(low, std::min(v, high))); }

// Default limits of WM_GETMINMAXINFO: a maximised window covers the work area
// with its sizing frame outside it, and no window grows beyond that size.
MinMaxInfo defaultMinMaxLocked() {
  MinMaxInfo info{};
  info.maxSizeX = m.workArea.right - m.workArea.left + 2 * m.border;
  info.maxSizeY = m.workArea.bottom - m.workArea.top + 2 * m.border;
  info.maxPositionX = info.maxPositionY = -m.border;
  info.minTrackX = 2 * m.border;
  info.minTrackY = m.caption + 2 * m.border;
  info.maxTrackX = info.maxSizeX;
  info.maxTrackY = info.maxSizeY;
  return info;
}

void clientSizeLocked(int* w, int* h) {
  if (m.placement == kMinimized) {
    *w = *h = 0;
    return;
  }
  long long cw = static_cast<long long>(m.outer.right) - m.outer.left - 2 * m.border;
  long long ch = static_cast<long long>(m.outer.bottom) - m.outer.top - m.caption - 2 * m.border;
  if (m.bars[OS_SB_VERT].shown) cw -= m.metrics[OS_SM_CXVSCROLL];
  if (m.bars[OS_SB_HORZ].shown) ch -= m.metrics[OS_SM_CYHSCROLL];
  *w = clampInt(cw, 0, 1 << 15);
  *h = clampInt(ch, 0, 1 << 15);
}

// Brings the client pixels to the size the frame and the shown bars leave
// (kept top-left, new pixels black; a grown area needs painting). Returns
// true with WM_SIZE's parameters when the size changed.
bool refreshClientLocked(uintptr_t* wParam, intptr_t* lParam) {
  int w, h;
  clientSizeLocked(&w, &h);
  if (w == m.client.width && h == m.client.height) return false;
  bool grown = w > m.client.width || h > m.client.height;
  resizePixels(m.client, w, h);
  if (grown) invalidateLocked();
  *wParam = static_cast<uintptr_t>(m.placement);
  *lParam = static_cast<intptr_t>(static_cast<uint32_t>((w & 0xFFFF) | (h & 0xFFFF) << 16));
  return true;
}

// Delivers a message that a call caused: at once on the window's thread, else
// (unless it carries a pointer) through the sent queue.
intptr_t sendMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam, bool carriesPointer) {
  OsWindowProc procedure;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window) || m.procedure == nullptr) return 0;
    if (std::this_thread::get_id() != m.owner) {
      if (!carriesPointer) m.sent.push_back({window, message, wParam, lParam});
      return 0;
    }
    procedure = m.procedure;
  }
  return procedure(window, message, wParam, lParam);
}

// Asks the procedure for the size limits; keeps the maximised size it leaves.
MinMaxInfo queryMinMax(OsWindow window) {
  MinMaxInfo info;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    info = defaultMinMaxLocked();
  }
  sendMessage(window, OS_WM_GETMINMAXINFO, 0, reinterpret_cast<intptr_t>(&info), true);
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) {
    m.maxSizeX = info.maxSizeX;
    m.maxSizeY = info.maxSizeY;
  }
  return info;
}

void sendSizeIfChanged(OsWindow window, bool changed, uintptr_t wParam, intptr_t lParam) {
  if (changed) sendMessage(window, OS_WM_SIZE, wParam, lParam, false);
}

// Places the window at rect (outer size held to the track limits), as
// SetWindowPos does: WM_GETMINMAXINFO first, WM_SIZE when the client changed.
void placeWindow(OsWindow window, OsRect rect) {
  MinMaxInfo info = queryMinMax(window);
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  bool changed;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window)) return;
    int w = clampInt(static_cast<long long>(rect.right) - rect.left, info.minTrackX, info.maxTrackX);
    int h = clampInt(static_cast<long long>(rect.bottom) - rect.top, info.minTrackY, info.maxTrackY);
    m.outer = {rect.left, rect.top, rect.left + w, rect.top + h};
    changed = refreshClientLocked(&wParam, &lParam);
  }
  sendSizeIfChanged(window, changed, wParam, lParam);
}

// Maximise, minimise and restore, as the default processing of WM_SYSCOMMAND.
void changePlacement(OsWindow window, int target) {
  MinMaxInfo info{};
  if (target == kMaximized) info = queryMinMax(window);
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  bool changed;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window) || target == m.placement) return;
    if (m.placement == kNormal) m.normalRect = m.outer;
    if (target == kMinimized) {
      m.placementBeforeMinimize = m.placement;
      m.rectBeforeMinimize = m.outer;
      m.outer = {-32000, -32000, -32000 + 160, -32000 + 28};  // where Windows parks minimised windows
    } else if (target == kMaximized) {
      int x = m.workArea.left + info.maxPositionX, y = m.workArea.top + info.maxPositionY;
      m.outer = {x, y, x + info.maxSizeX, y + info.maxSizeY};
    } else if (m.placement == kMinimized) {
      target = m.placementBeforeMinimize;
      m.outer = m.rectBeforeMinimize;
    } else {
      m.outer = m.normalRect;
    }
    m.placement = target;
    changed = refreshClientLocked(&wParam, &lParam);  // coming back from minimised: all needs painting
  }
  sendSizeIfChanged(window, changed, wParam, lParam);
}

}  // namespace

void simResetWindow(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  resetLocked();
}

// ---- Services.

int osRegisterWindowClass(OsWindowProc procedure) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.classRegistered || procedure == nullptr) return -1;  // the class exists already
  m.classRegistered = true;
  m.procedure = procedure;
  return 0;
}

void osUnregisterWindowClass(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.window != 0) return;  // a class in use stays registered
  m.classRegistered = false;
  m.procedure = nullptr;
}

void osAdjustWindowRect(OsRect* rect) {
  std::lock_guard<std::mutex> guard(m.lock);
  rect->left -= m.border;
  rect->top -= m.border + m.caption;
  rect->right += m.border;
  rect->bottom += m.border;
}

void osGetWorkArea(OsRect* rect) {
  std::lock_guard<std::mutex> guard(m.lock);
  *rect = m.workArea;
}

int osGetSystemMetric(int index) {
  std::lock_guard<std::mutex> guard(m.lock);
  return index >= 0 && index < kMetricCount ? m.metrics[index] : 0;
}

OsWindow osCreateWindow(const char* title, int x, int y, int w, int h) {
  OsWindow window;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!m.classRegistered || m.window != 0) return 0;
    window = newHandleLocked(kTagWindow);
    m.window = window;
    m.owner = std::this_thread::get_id();
    m.title = title ? title : "";
    m.topmost = true;
    m.acceptsDrops = false;
    if (x == OS_CW_USEDEFAULT) x = y = 100;  // like Windows, y is ignored with a default x
    MinMaxInfo info = defaultMinMaxLocked();
    w = clampInt(w, info.minTrackX, info.maxTrackX);
    h = clampInt(h, info.minTrackY, info.maxTrackY);
    m.outer = {x, y, clampInt(static_cast<long long>(x) + w, INT32_MIN, INT32_MAX),
               clampInt(static_cast<long long>(y) + h, INT32_MIN, INT32_MAX)};
    m.placement = kNormal;
    // A window made with both scroll-bar styles starts with both bars shown,
    // range 0..100.
    m.bars[OS_SB_HORZ] = m.bars[OS_SB_VERT] = Bar{true, 100, 0};
    m.client = Pixels();
    uintptr_t ignoredW;
    intptr_t ignoredL;
    refreshClientLocked(&ignoredW, &ignoredL);
    m.surface = 0;
    invalidateLocked();  // shown: the whole client area needs painting
    m.sent.clear();
    m.posted.clear();
  }
  queryMinMax(window);
  if (sendMessage(window, OS_WM_CREATE, 0, 0, false) == -1) {  // the procedure refuses the window
    osDestroyWindow(window);
    return 0;
  }
  intptr_t lParam;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window)) return 0;
    lParam = static_cast<intptr_t>(static_cast<uint32_t>(m.client.width | m.client.height << 16));
  }
  sendMessage(window, OS_WM_SIZE, kNormal, lParam, false);  // the first showing sizes the window
  return window;
}

void osDestroyWindow(OsWindow window) {
  {
    std::lock_guard<std::mutex> guard(m.lock);
    // Only the window's own thread can destroy it, and only once.
    if (!isWindowLocked(window) || std::this_thread::get_id() != m.owner || m.destroying) return;
    m.destroying = true;
  }
  sendMessage(window, kWmDestroy, 0, 0, false);
  std::lock_guard<std::mutex> guard(m.lock);
  if (!isWindowLocked(window)) return;
  m.window = 0;
  m.destroying = false;
  m.owner = std::thread::id();
  m.title.clear();
  m.topmost = m.acceptsDrops = false;
  m.outer = {};
  m.placement = kNormal;
  m.client = Pixels();
  m.surface = 0;
  m.bars[0] = m.bars[1] = Bar();
  m.needsPaint = m.paintDelivered = false;
  m.sent.clear();  // messages for a destroyed window are discarded
  m.posted.clear();
}

void osSetWindowTitle(OsWindow window, const char* title) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.title = title ? title : "";
}

void osSetTopmost(OsWindow window, int topmost) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.topmost = topmost != 0;
}

void osMoveWindow(OsWindow window, int x, int y, int w, int h) {
  OsRect rect;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window)) return;
    if (x == OS_CW_USEDEFAULT) {
      x = m.outer.left;
      y = m.outer.top;
    }
    rect = {x, y, clampInt(static_cast<long long>(x) + std::max(w, 0), INT32_MIN, INT32_MAX),
            clampInt(static_cast<long long>(y) + std::max(h, 0), INT32_MIN, INT32_MAX)};
  }
  placeWindow(window, rect);
}

void osGetClientRect(OsWindow window, OsRect* rect) {
  std::lock_guard<std::mutex> guard(m.lock);
  *rect = isWindowLocked(window) ? OsRect{0, 0, m.client.width, m.client.height} : OsRect{};
}

void osGetWindowRect(OsWindow window, OsRect* rect) {
  std::lock_guard<std::mutex> guard(m.lock);
  *rect = isWindowLocked(window) ? m.outer : OsRect{};
}

intptr_t osDefaultWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case OS_WM_CLOSE:
      osDestroyWindow(window);
      return 0;
    case OS_WM_PAINT:
      osValidateWindow(window);
      return 0;
    case OS_WM_ERASEBKGND:
      return 1;  // the black class brush: new client pixels are black already
    case OS_WM_NCHITTEST:
      return kHtClient;
    case OS_WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case kScMaximize: changePlacement(window, kMaximized); break;
        case OS_SC_MINIMIZE: changePlacement(window, kMinimized); break;
        case OS_SC_RESTORE: changePlacement(window, kNormal); break;
        case kScClose: sendMessage(window, OS_WM_CLOSE, 0, 0, false); break;
        default: break;
      }
      return 0;
    default:
      return 0;
  }
}

void osAcceptDroppedFiles(OsWindow window, int accept) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.acceptsDrops = accept != 0;
}

int osDroppedFileCount(uintptr_t drop) {
  std::lock_guard<std::mutex> guard(m.lock);
  for (const Drop& d : m.drops) {
    if (static_cast<uintptr_t>(d.handle) == drop) return static_cast<int>(d.names.size());
  }
  return 0;
}

// As DragQueryFileA: copies at most size - 1 characters and a terminator and
// returns the number copied; without a buffer, returns the name's length.
int osDroppedFileName(uintptr_t drop, int index, char* name, int size) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (name != nullptr && size > 0) name[0] = '\0';
  for (const Drop& d : m.drops) {
    if (static_cast<uintptr_t>(d.handle) != drop) continue;
    if (index < 0 || index >= static_cast<int>(d.names.size())) return 0;
    const std::string& n = d.names[index];
    if (name == nullptr) return static_cast<int>(n.size());
    if (size <= 0) return 0;
    int copied = std::min(static_cast<int>(n.size()), size - 1);
    std::memcpy(name, n.data(), copied);
    name[copied] = '\0';
    return copied;
  }
  return 0;
}

void osReleaseDrop(uintptr_t drop) {
  std::lock_guard<std::mutex> guard(m.lock);
  std::erase_if(m.drops, [drop](const Drop& d) { return static_cast<uintptr_t>(d.handle) == drop; });
}

void osSetMaximizedSize(intptr_t minMaxInfo, int w, int h) {
  if (minMaxInfo == 0) return;
  MinMaxInfo* info = reinterpret_cast<MinMaxInfo*>(minMaxInfo);
  info->maxSizeX = w;
  info->maxSizeY = h;
}

OsSurface osWindowSurface(OsWindow window) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (!isWindowLocked(window)) return 0;
  if (m.surface == 0) m.surface = newHandleLocked(kTagSurface);
  return m.surface;
}

void osReleaseWindowSurface(OsWindow window, OsSurface surface) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window) && surface == m.surface) m.surface = 0;
}

OsSurface osCreateOffscreen(OsSurface compatible, int w, int h) {
  if (w < 0 || h < 0 || static_cast<long long>(w) * h > kMaxPixels) return 0;
  std::lock_guard<std::mutex> guard(m.lock);
  for (int slot = 0; slot < kMaxOffscreens; slot++) {
    Offscreen& o = m.offscreens[slot];
    if (o.handle != 0) continue;
    o.pixels.width = w;
    o.pixels.height = h;
    o.pixels.data.assign(static_cast<size_t>(w) * h, 0);
    o.handle = newHandleLocked(slot);
    return o.handle;
  }
  return 0;  // out of surfaces
}

void osDestroyOffscreen(OsSurface surface) {
  std::lock_guard<std::mutex> guard(m.lock);
  Pixels* p = offscreenPixels(surface);
  if (p == nullptr) return;
  m.offscreens[surface & 0xFF] = Offscreen();
}

void osFillRect(OsSurface surface, const OsRect* rect, uint8_t r, uint8_t g, uint8_t b) {
  if (rect == nullptr) return;
  uint32_t colour = static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
  if (Pixels* p = offscreenPixels(surface)) {
    fillPixels(*p, rect->left, rect->top, rect->right, rect->bottom, colour);
    return;
  }
  std::lock_guard<std::mutex> guard(m.lock);
  if (Pixels* p = windowPixelsLocked(surface)) fillPixels(*p, rect->left, rect->top, rect->right, rect->bottom, colour);
}

void osCopyBlock(OsSurface destination, int dx, int dy, int w, int h, OsSurface source, int sx, int sy) {
  Pixels* d = offscreenPixels(destination);
  Pixels* s = offscreenPixels(source);
  if (d != nullptr && s != nullptr) {
    copyPixels(*d, dx, dy, w, h, *s, sx, sy);
    return;
  }
  std::lock_guard<std::mutex> guard(m.lock);
  if (d == nullptr) d = windowPixelsLocked(destination);
  if (s == nullptr) s = windowPixelsLocked(source);
  if (d != nullptr && s != nullptr) copyPixels(*d, dx, dy, w, h, *s, sx, sy);
}

void osValidateWindow(OsWindow window) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.needsPaint = false;
}

// A range that changes shows the bar when it is not empty and hides it when it
// is (the position is kept within the range); the same range again changes
// nothing, so a bar hidden by osShowScrollBar stays hidden.
void osSetScrollRange(OsWindow window, int bar, int maximum, int redraw) {
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  bool changed = false;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
    Bar& b = m.bars[bar];
    if (b.maximum == maximum) return;
    b.maximum = maximum;
    b.position = clampInt(b.position, 0, std::max(maximum, 0));
    b.shown = maximum > 0;
    changed = refreshClientLocked(&wParam, &lParam);
  }
  sendSizeIfChanged(window, changed, wParam, lParam);
}

void osSetScrollPos(OsWindow window, int bar, int position) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
  m.bars[bar].position = clampInt(position, 0, std::max(m.bars[bar].maximum, 0));
}

void osShowScrollBar(OsWindow window, int bar, int show) {
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  bool changed = false;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (!isWindowLocked(window) || (bar != OS_SB_HORZ && bar != OS_SB_VERT)) return;
    m.bars[bar].shown = show != 0;
    changed = refreshClientLocked(&wParam, &lParam);
  }
  sendSizeIfChanged(window, changed, wParam, lParam);
}

// Moves the whole client area; the uncovered strip is erased black and the
// window needs painting.
void osScrollWindow(OsWindow window, int dx, int dy) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (!isWindowLocked(window) || (dx == 0 && dy == 0)) return;
  Pixels& p = m.client;
  copyPixels(p, dx, dy, p.width, p.height, p, 0, 0);
  long long w = p.width, h = p.height;
  if (dx > 0) fillPixels(p, 0, 0, dx, h, 0);
  if (dx < 0) fillPixels(p, w + dx, 0, w, h, 0);
  if (dy > 0) fillPixels(p, 0, 0, w, dy, 0);
  if (dy < 0) fillPixels(p, 0, h + dy, w, h, 0);
  invalidateLocked();
}

int osDispatchOneMessage(void) {
  Message msg;
  OsWindowProc procedure;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.window == 0 || std::this_thread::get_id() != m.owner) return 0;
    if (!m.sent.empty()) {
      msg = m.sent.front();
      m.sent.pop_front();
    } else if (!m.posted.empty()) {
      msg = m.posted.front();
      m.posted.pop_front();
    } else if (m.needsPaint && !m.paintDelivered) {
      msg = {m.window, OS_WM_PAINT, 0, 0};
      m.paintDelivered = true;
    } else {
      return 0;
    }
    procedure = m.procedure;
    if (!isWindowLocked(msg.window)) procedure = nullptr;
  }
  if (procedure != nullptr) procedure(msg.window, msg.message, msg.wParam, msg.lParam);
  return 1;
}

void osPostMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.posted.push_back({window, message, wParam, lParam});
}

void osFlushConsoleInput(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  m.consoleFlushes++;
}

// ---- Control surface.

void simSetWorkArea(int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> guard(m.lock);
  m.workArea = {left, top, right, bottom};
}

void simSetSystemMetric(int index, int value) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (index >= 0 && index < kMetricCount) m.metrics[index] = value;
}

void simSetFrame(int border, int caption) {
  std::lock_guard<std::mutex> guard(m.lock);
  m.border = std::max(border, 0);
  m.caption = std::max(caption, 0);
}

bool simWindowExists(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.window != 0;
}

std::string simWindowTitle(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.title;
}

bool simWindowTopmost(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.window != 0 && m.topmost;
}

void simWindowRect(int* left, int* top, int* right, int* bottom) {
  std::lock_guard<std::mutex> guard(m.lock);
  *left = m.outer.left;
  *top = m.outer.top;
  *right = m.outer.right;
  *bottom = m.outer.bottom;
}

void simClientSize(int* width, int* height) {
  std::lock_guard<std::mutex> guard(m.lock);
  *width = m.client.width;
  *height = m.client.height;
}

uint32_t simClientPixel(int x, int y) { return simSurfacePixel(0, x, y); }

uint32_t simSurfacePixel(intptr_t surface, int x, int y) {
  std::lock_guard<std::mutex> guard(m.lock);
  const Pixels* p = anyPixelsLocked(surface);
  if (p == nullptr || x < 0 || y < 0 || x >= p->width || y >= p->height) return kNoPixel;
  return p->data[static_cast<size_t>(y) * p->width + x];
}

void simSurfaceSize(intptr_t surface, int* width, int* height) {
  std::lock_guard<std::mutex> guard(m.lock);
  const Pixels* p = anyPixelsLocked(surface);
  *width = p ? p->width : 0;
  *height = p ? p->height : 0;
}

bool simSavePng(intptr_t surface, const char* hostPath) {
  Pixels copy;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    const Pixels* p = anyPixelsLocked(surface);
    if (p == nullptr || p->width == 0 || p->height == 0) return false;  // PNG has no empty image
    copy = *p;
  }
  return simWritePng(hostPath, copy.data.data(), copy.width, copy.height);
}

SimScrollBar simScrollBar(int bar) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (bar != OS_SB_HORZ && bar != OS_SB_VERT) return {false, 0, 0};
  const Bar& b = m.bars[bar];
  return {b.shown, b.maximum, b.position};
}

void simPostMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.window != 0) m.posted.push_back({m.window, message, wParam, lParam});
}

void simPostPointer(unsigned message, int x, int y, unsigned flags) {
  simPostMessage(message, flags, static_cast<intptr_t>(static_cast<uint32_t>((x & 0xFFFF) | (y & 0xFFFF) << 16)));
}

// Key messages carry Windows' lParam: repeat count 1, bit 30 the key's
// previous state (set on auto-repeat and on release), bit 31 set on release.
void simPostKey(int virtualKey, bool down) {
  int k = virtualKey & 0xFF;
  uint32_t lParam;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    lParam = down ? 1u | (m.keyDown[k] ? 1u << 30 : 0u) : 1u | 1u << 30 | 1u << 31;
    m.keyDown[k] = down;
  }
  simPostMessage(down ? OS_WM_KEYDOWN : OS_WM_KEYUP, static_cast<uintptr_t>(k), static_cast<intptr_t>(lParam));
}

void simUserResize(int edge, int outerWidth, int outerHeight) {
  OsWindow window;
  OsRect rect;
  {
    std::lock_guard<std::mutex> guard(m.lock);
    if (m.window == 0) return;
    window = m.window;
    rect = m.outer;
  }
  bool movesLeft = edge == 1 || edge == 4 || edge == 7;  // left, top-left, bottom-left
  bool movesTop = edge == 3 || edge == 4 || edge == 5;   // top, top-left, top-right
  outerWidth = std::max(outerWidth, 0);
  outerHeight = std::max(outerHeight, 0);
  if (movesLeft) {
    rect.left = rect.right - outerWidth;
  } else {
    rect.right = rect.left + outerWidth;
  }
  if (movesTop) {
    rect.top = rect.bottom - outerHeight;
  } else {
    rect.bottom = rect.top + outerHeight;
  }
  sendMessage(window, kWmEnterSizeMove, 0, 0, false);
  sendMessage(window, OS_WM_SIZING, static_cast<uintptr_t>(edge), reinterpret_cast<intptr_t>(&rect), true);
  placeWindow(window, rect);  // the procedure may have changed the rectangle
  sendMessage(window, OS_WM_EXITSIZEMOVE, 0, 0, false);
}

int simPendingMessages(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return static_cast<int>(m.sent.size() + m.posted.size());
}

intptr_t simDropFiles(std::initializer_list<const char*> names) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (m.window == 0 || !m.acceptsDrops) return 0;
  Drop drop{newHandleLocked(kTagDrop), {}};
  for (const char* name : names) drop.names.emplace_back(name);
  m.drops.push_back(drop);
  m.posted.push_back({m.window, OS_WM_DROPFILES, static_cast<uintptr_t>(drop.handle), 0});
  return drop.handle;
}

int simOpenDrops(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return static_cast<int>(m.drops.size());
}

bool simWindowAcceptsDrops(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.window != 0 && m.acceptsDrops;
}

bool simWindowClassRegistered(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.classRegistered;
}

bool simWindowNeedsPaint(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.window != 0 && m.needsPaint;
}

void simMaximizedSize(int* width, int* height) {
  std::lock_guard<std::mutex> guard(m.lock);
  *width = m.maxSizeX;
  *height = m.maxSizeY;
}

int simOffscreenCount(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  int n = 0;
  for (const Offscreen& o : m.offscreens) n += o.handle != 0;
  return n;
}

int simConsoleFlushes(void) {
  std::lock_guard<std::mutex> guard(m.lock);
  return m.consoleFlushes;
}
