// Desktop window backend: the client area's pixel buffer, which follows the
// window's size, and off-screen surfaces, with the fills and block copies on
// both (see desktop_window.cpp for the threads and the pixel lock).
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

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

}  // namespace desktop_window

using namespace desktop_window;

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

// A fill on the client area takes pixelLock and marks rows to present; one
// copy of a key's box does that once.
int osWindowPrefersCopies(void) { return 1; }
