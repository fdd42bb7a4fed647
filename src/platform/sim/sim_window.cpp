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
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/shared/pixels.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"
#include "platform/sim/sim_window_internal.h"

namespace sim_window {

Machine m;
std::atomic<bool> prefersCopies{true};
std::atomic<bool> defersKeys{false};
std::atomic<int> keysNoted{0};

intptr_t newHandleLocked(int tag) { return (++m.serial << 8) | tag; }

bool isWindowLocked(OsWindow window) { return window != 0 && window == m.window; }

void resetLocked() {
  prefersCopies = true;
  defersKeys = false;
  keysNoted = 0;
  m.workArea = {0, 0, 1920, 1040};
  std::fill(std::begin(m.metrics), std::end(m.metrics), 0);
  m.metrics[OS_SM_CXVSCROLL] = kBarSize;
  m.metrics[OS_SM_CYHSCROLL] = kBarSize;
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

}  // namespace sim_window

using namespace sim_window;

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
void osValidateWindow(OsWindow window) {
  std::lock_guard<std::mutex> guard(m.lock);
  if (isWindowLocked(window)) m.needsPaint = false;
}

// A fill on the client area takes the machine's lock; one copy of a key's box
// takes it once.
int osWindowPrefersCopies(void) { return prefersCopies.load(std::memory_order_relaxed) ? 1 : 0; }

int osWindowDefersKeys(void) { return defersKeys.load(std::memory_order_relaxed) ? 1 : 0; }

// Counted for the tests; the sim's window thread is the test itself.
void osWindowKeysNoted(OsWindow) { keysNoted.fetch_add(1); }

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
