// Sim window machine: the control surface that tests and the scenario runner
// use to set up the screen, look at the window and its surfaces (PNG pictures
// included) and play the user (pointer, keys, resizing, dropped files).
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

using namespace sim_window;

// ---- Control surface.

void simSetWorkArea(int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> guard(m.lock);
  m.workArea = {left, top, right, bottom};
}

void simWindowCopies(bool copies) { prefersCopies = copies; }

void simWindowDefersKeys(bool defers) { defersKeys = defers; }

int simKeysNotedCount(void) { return keysNoted.load(); }

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
