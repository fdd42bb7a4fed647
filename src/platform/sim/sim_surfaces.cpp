// Sim window machine: the surfaces' pixels (the window's client area, which
// follows the window's size, and off-screen surfaces) with their fills and
// block copies.
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

}  // namespace sim_window

using namespace sim_window;

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
