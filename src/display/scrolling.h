// Scrolling: the view of the back buffer that the window shows when it is
// smaller than the keyboard, its scroll bars, and the fit back to the
// keyboard's size after the user resizes the window.
#pragma once

#include <atomic>
#include <cstdint>

#include "display/os_window.h"

// Back-buffer pixel shown at the client area's left and top edge. Read by the
// drawing on any thread; changed only while displayLock is held.
extern std::atomic<int> scrollX;
extern std::atomic<int> scrollY;

// Window thread only.
extern int scrollRangeX;     // largest scrollX; 0 = no horizontal scrolling
extern int scrollRangeY;     // largest scrollY; 0 = no vertical scrolling
extern uint8_t hBarWanted;   // 255: the horizontal bar may be shown
extern uint8_t vBarWanted;   // 255: the vertical bar may be shown
extern int lineScrollCount;  // line requests since the pointer last moved over the window

// Everything above back to 0 without touching the window (window creation).
void clearScrolling(void);
// Everything above back to 0 and both bars hidden (every keyboard resize).
void resetScrolling(OsWindow window);

// The window procedure's sizing and scrolling messages.
void scrollSizing(int edge);                         // WM_SIZING: dragged edge 1..8
void scrollSysCommand(unsigned command);             // WM_SYSCOMMAND
void scrollSize(OsWindow window, int cw, int ch);     // WM_SIZE: new client size
void scrollFitWindow(OsWindow window);               // WM_EXITSIZEMOVE
void scrollRequest(OsWindow window, int bar, uintptr_t request);  // WM_HSCROLL, WM_VSCROLL
void scrollPointerMoved(void);                       // WM_NCHITTEST
