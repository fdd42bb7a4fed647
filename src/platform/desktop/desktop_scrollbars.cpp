// Desktop window backend: the scroll bars we draw ourselves (layout along a
// bar, hit-testing, drawing) and the scroll-bar and scrolling services.
#include <SDL.h>

#include <algorithm>
#include <mutex>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

// ---- Scroll bars: layout along a bar, hit-testing and drawing.

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

}  // namespace desktop_window

using namespace desktop_window;

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
