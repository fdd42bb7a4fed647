// Scrolling state machine of the keyboard window. A bar may appear only after
// the user drags a window edge in its direction; the ranges follow the client
// size; line requests accelerate while the pointer stays still; the end of a
// user resize snaps the window to the keyboard in every direction that no
// longer needs scrolling. Runs on the window thread; the scroll offsets are
// changed under the display lock because the MIDI thread draws with them, and
// whenever they change without the window's pixels being moved along, the
// client area is repainted from the back buffer.
#include "display/scrolling.h"

#include <mutex>

#include "display/geometry.h"
#include "display/window.h"

std::atomic<int> scrollX;
std::atomic<int> scrollY;
int scrollRangeX;
int scrollRangeY;
uint8_t hBarWanted;
uint8_t vBarWanted;
int lineScrollCount;

namespace {

// Sets the offsets under the display lock; true when either changed.
bool setOffsets(int x, int y) {
  std::lock_guard<std::mutex> hold(displayLock);
  bool changed = scrollX != x || scrollY != y;
  scrollX = x;
  scrollY = y;
  return changed;
}

// One direction of WM_SIZE. Returns the new offset.
int sizeBar(OsWindow window, int bar, uint8_t* wanted, int* range, int picture, int client, int offset) {
  if (!*wanted) {
    osShowScrollBar(window, bar, 0);
    return offset;
  }
  *range = picture - client > 0 ? picture - client : 0;
  osSetScrollRange(window, bar, *range, 0);
  if (*range == 0) {
    *wanted = 0;
    return 0;
  }
  if (offset > *range) offset = *range;
  osSetScrollPos(window, bar, offset);
  return offset;
}

}  // namespace

void clearScrolling(void) {
  setOffsets(0, 0);
  scrollRangeX = 0;
  scrollRangeY = 0;
  hBarWanted = 0;
  vBarWanted = 0;
  lineScrollCount = 0;
}

void resetScrolling(OsWindow window) {
  clearScrolling();
  osSetScrollRange(window, OS_SB_HORZ, 0, 1);
  osSetScrollRange(window, OS_SB_VERT, 0, 1);
  osShowScrollBar(window, OS_SB_HORZ, 0);
  osShowScrollBar(window, OS_SB_VERT, 0);
}

void scrollSizing(int edge) {
  switch (edge) {
    case 1:
    case 2:
      hBarWanted = 255;
      break;
    case 3:
    case 6:
      vBarWanted = 255;
      break;
    case 4:
    case 5:
    case 7:
    case 8:
      hBarWanted = 255;
      vBarWanted = 255;
      break;
    default:
      break;
  }
}

void scrollSysCommand(unsigned command) {
  if (command != OS_SC_MINIMIZE && command != OS_SC_RESTORE) return;
  hBarWanted = scrollRangeX > 0 ? 255 : 0;
  vBarWanted = scrollRangeY > 0 ? 255 : 0;
}

void scrollSize(OsWindow window, int cw, int ch) {
  // Showing or hiding a bar changes the client size, and the platform sends
  // the WM_SIZE for that at once: when one came in the meantime, it has
  // handled the newer size and this one is stale.
  static int generation;
  int mine = ++generation;
  int x = sizeBar(window, OS_SB_HORZ, &hBarWanted, &scrollRangeX, keyboardWidth, cw, scrollX);
  if (generation != mine) return;
  int y = sizeBar(window, OS_SB_VERT, &vBarWanted, &scrollRangeY, keyboardHeight, ch, scrollY);
  if (generation != mine) return;
  if (setOffsets(x, y)) paintFromBackBuffer(window);
}

void scrollFitWindow(OsWindow window) {
  OsRect r;
  osGetWindowRect(window, &r);
  int W = r.right - r.left;
  int H = r.bottom - r.top;
  int sv = osGetSystemMetric(OS_SM_CXVSCROLL);
  int sh = osGetSystemMetric(OS_SM_CYHSCROLL);
  int cap = osGetSystemMetric(OS_SM_CYCAPTION);
  int kw = keyboardWidth;
  int kh = keyboardHeight;
  int nw = W;
  int nh = H;
  int x = scrollX;
  int y = scrollY;

  if (scrollRangeX > 0 && scrollRangeY > 0) {
    if (W >= kw + sv) {
      nw = fitWidth;
      hBarWanted = 0;
      x = 0;
      if (H >= kh + cap) {
        nh = fitHeight;
        vBarWanted = 0;
        y = 0;
      }
    }
    if (H >= kh + cap + sh) {
      nh = fitHeight;
      vBarWanted = 0;
      y = 0;
      if (W >= kw) {
        nw = fitWidth;
        hBarWanted = 0;
        x = 0;
      }
    }
  } else if (scrollRangeX > 0) {
    nh = fitHeight + sh;
    if (W >= kw) {
      nw = fitWidth;
      nh = fitHeight;
      hBarWanted = 0;
      x = 0;
    }
  } else if (scrollRangeY > 0) {
    nw = fitWidth + sv;
    if (H >= kh + cap) {
      nw = fitWidth;
      nh = fitHeight;
      vBarWanted = 0;
      y = 0;
    }
  } else {
    nw = fitWidth;
    nh = fitHeight;
  }

  bool moved = setOffsets(x, y);
  osMoveWindow(window, OS_CW_USEDEFAULT, 0, nw, nh);
  osSetTopmost(window, 0);
  if (moved) paintFromBackBuffer(window);
}

void scrollRequest(OsWindow window, int bar, uintptr_t request) {
  bool horizontal = bar == OS_SB_HORZ;
  int range = horizontal ? scrollRangeX : scrollRangeY;
  int code = static_cast<int>(request & 0xFFFF);
  int step = 0;
  if (code == 0 || code == 1) {
    lineScrollCount++;
    if (lineScrollCount < 10) {
      step = 1;
    } else {
      step = lineScrollCount - 8;
      if (step > range / 10) step = range / 10;
    }
  }

  int p;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    int now = horizontal ? scrollX : scrollY;
    switch (code) {
      case 0:
        p = now - step;
        break;
      case 1:
        p = now + step;
        break;
      case 2:
        p = now - range / 10;
        break;
      case 3:
        p = now + range / 10;
        break;
      case 4:
        p = static_cast<int>((request >> 16) & 0xFFFF);
        break;
      default:
        return;
    }
    if (p < 0) p = 0;
    if (p > range) p = range;
    if (p == now) return;
    // The window's pixels move with the offset in one step, so a key drawn
    // from the MIDI thread lands where the view shows it.
    if (horizontal) {
      osScrollWindow(window, now - p, 0);
      scrollX = p;
    } else {
      osScrollWindow(window, 0, now - p);
      scrollY = p;
    }
  }
  osSetScrollPos(window, bar, p);
}

void scrollPointerMoved(void) { lineScrollCount = 0; }
