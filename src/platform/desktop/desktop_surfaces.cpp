// Desktop window backend: the client area's pixel buffer, which follows the
// window's size, and off-screen surfaces, with the fills and block copies on
// both, and the window thread's presentation of the client pixels (see
// desktop_window.cpp for the threads, the pixel lock and the presenting).
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

// Client rows top..bottom-1 were drawn (pixelLock held).
void markRowsLocked(long long top, long long bottom) {
  top = std::max(top, 0LL);
  bottom = std::min(bottom, static_cast<long long>(client.height));
  if (top >= bottom) return;
  if (dirtyTop >= dirtyBottom) {
    dirtyTop = static_cast<int>(top);
    dirtyBottom = static_cast<int>(bottom);
  } else {
    dirtyTop = std::min(dirtyTop, static_cast<int>(top));
    dirtyBottom = std::max(dirtyBottom, static_cast<int>(bottom));
  }
  // Most calls find the flag set already (a flood draws every key): reading
  // first keeps them from writing the line the window thread clears.
  if (needsPresent.load(std::memory_order_acquire)) return;
  if (!needsPresent.exchange(true)) wakeWindowThread();
}

// ---- Presenting (window thread).

// Only the drawn rows, when nothing else changed since the last presentation:
// the renderer draws into the window's own surface, which keeps the rest.
// False when the whole window must be presented instead.
bool presentRows(int cw, int ch, int windowW, int windowH) {
  if (presentWhole.exchange(false) || screen.texture == nullptr || cw != screen.shownClientWidth ||
      ch != screen.shownClientHeight || windowW != screen.shownWidth || windowH != screen.shownHeight) {
    return false;
  }
  SDL_Rect r;
  {
    std::lock_guard<std::mutex> hold(pixelLock);
    if (client.width != cw || client.height != ch) return false;
    if (dirtyTop >= dirtyBottom) return true;  // nothing drawn
    r = {0, dirtyTop, cw, dirtyBottom - dirtyTop};
    dirtyTop = dirtyBottom = 0;
    SDL_UpdateTexture(screen.texture, &r, client.data + static_cast<size_t>(r.y) * cw, cw * 4);
  }
  SDL_RenderCopy(screen.renderer, screen.texture, &r, &r);
  SDL_RenderPresent(screen.renderer);
  return true;
}

// Shows the client pixels and the bars when they changed (window thread).
void present() {
  if (screen.renderer == nullptr) return;
  if (!needsPresent.exchange(false)) return;
  screen.lastPresent = now();
  int windowW, windowH;
  SDL_GetWindowSize(screen.sdl, &windowW, &windowH);
  int cw, ch;
  {
    std::lock_guard<std::mutex> hold(pixelLock);
    cw = client.width;
    ch = client.height;
  }
  if (presentRows(cw, ch, windowW, windowH)) return;
  {
    std::lock_guard<std::mutex> hold(pixelLock);
    cw = client.width;
    ch = client.height;
    dirtyTop = dirtyBottom = 0;
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
  screen.shownWidth = windowW;
  screen.shownHeight = windowH;
  screen.shownClientWidth = cw;
  screen.shownClientHeight = ch;
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
  if (rect->left < rect->right) markRowsLocked(rect->top, rect->bottom);
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
  if (to == &client && w > 0) markRowsLocked(dy, static_cast<long long>(dy) + h);
}

// A fill on the client area takes pixelLock and marks rows to present; one
// copy of a key's box does that once.
int osWindowPrefersCopies(void) { return 1; }

// The window is presented at most once a display frame: a key drawn on the
// MIDI thread is painted by the window thread's next pass, once however often
// it changed meanwhile.
int osWindowDefersKeys(void) { return 1; }

// Keys to paint are work of the kind a picture to present is: the window
// thread's pause lasts until a frame has passed since the last presentation,
// so a flood of notes is painted and shown once a frame, not once a pass.
void osWindowKeysNoted(OsWindow) {
  if (!keysNoted.exchange(true)) wakeWindowThread();
}
