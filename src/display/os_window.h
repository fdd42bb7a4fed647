// Platform window and drawing services, shaped after the Windows calls the
// display relies on: one top-level window whose messages (with the Windows
// message values) reach our window procedure on the window thread, an
// off-screen pixel surface, RGB rectangle fills, block copies, the window's own
// scroll bars, and the message pump. OS types stay out: handles are integers.
#pragma once

#include <cstdint>

typedef intptr_t OsWindow;   // top-level window; 0 = none
typedef intptr_t OsSurface;  // drawing surface (window client area or off-screen); 0 = none

// Messages with their Windows values; the desktop backend translates its
// events into these.
enum {
  OS_WM_CREATE = 0x0001,
  OS_WM_SIZE = 0x0005,
  OS_WM_PAINT = 0x000F,
  OS_WM_CLOSE = 0x0010,
  OS_WM_ERASEBKGND = 0x0014,
  OS_WM_GETMINMAXINFO = 0x0024,
  OS_WM_NCHITTEST = 0x0084,
  OS_WM_NCMOUSEMOVE = 0x00A0,
  OS_WM_KEYDOWN = 0x0100,
  OS_WM_KEYUP = 0x0101,
  OS_WM_CHAR = 0x0102,
  OS_WM_SYSCHAR = 0x0106,
  OS_WM_SYSCOMMAND = 0x0112,
  OS_WM_HSCROLL = 0x0114,
  OS_WM_VSCROLL = 0x0115,
  OS_WM_MOUSEMOVE = 0x0200,
  OS_WM_LBUTTONDOWN = 0x0201,
  OS_WM_LBUTTONUP = 0x0202,
  OS_WM_RBUTTONDOWN = 0x0204,
  OS_WM_RBUTTONUP = 0x0205,
  OS_WM_MBUTTONDOWN = 0x0207,
  OS_WM_MBUTTONUP = 0x0208,
  OS_WM_MOUSEWHEEL = 0x020A,
  OS_WM_SIZING = 0x0214,
  OS_WM_EXITSIZEMOVE = 0x0232,
  OS_WM_DROPFILES = 0x0233,
  OS_WM_USER_RELAYOUT = 0x0401  // our own: the window thread is asked to resize
};

enum { OS_SC_MINIMIZE = 0xF020, OS_SC_RESTORE = 0xF120 };
enum { OS_SB_HORZ = 0, OS_SB_VERT = 1 };
enum { OS_MK_LBUTTON = 1, OS_MK_SHIFT = 4, OS_MK_CONTROL = 8 };
enum { OS_CW_USEDEFAULT = INT32_MIN };

// System metrics the scrolling code uses.
enum { OS_SM_CXVSCROLL = 2, OS_SM_CYHSCROLL = 3, OS_SM_CYCAPTION = 4 };

struct OsRect {
  int left;    // inclusive
  int top;     // inclusive
  int right;   // exclusive
  int bottom;  // exclusive
};

// The window procedure: our code, called by the platform on the window thread
// for each message. wParam and lParam carry what Windows puts there (pointer
// position in lParam as two unsigned 16-bit halves, key code in wParam, ...).
typedef intptr_t (*OsWindowProc)(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Class "gint" with arrow cursor and black background. 0 on success.
int osRegisterWindowClass(OsWindowProc procedure);
void osUnregisterWindowClass(void);

// Outer window rectangle that gives a client area of rect (with our style).
void osAdjustWindowRect(OsRect* rect);
void osGetWorkArea(OsRect* rect);
int osGetSystemMetric(int index);

// Creates the window (caption, system menu, sizing frame, maximise box, both
// scroll bars) at x, y (OS_CW_USEDEFAULT: the platform's choice) with outer
// size w x h, topmost, shown. Returns 0 on failure.
OsWindow osCreateWindow(const char* title, int x, int y, int w, int h);
void osDestroyWindow(OsWindow window);
void osSetWindowTitle(OsWindow window, const char* title);
void osSetTopmost(OsWindow window, int topmost);  // z-order only, no move or size
void osMoveWindow(OsWindow window, int x, int y, int w, int h);  // x OS_CW_USEDEFAULT: size only
void osGetClientRect(OsWindow window, OsRect* rect);
void osGetWindowRect(OsWindow window, OsRect* rect);
intptr_t osDefaultWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Dropped files: accept them, and read the names of one drop (then release it).
void osAcceptDroppedFiles(OsWindow window, int accept);
int osDroppedFileCount(uintptr_t drop);
int osDroppedFileName(uintptr_t drop, int index, char* name, int size);  // length reported
void osReleaseDrop(uintptr_t drop);

// Maximised size for WM_GETMINMAXINFO (lParam).
void osSetMaximizedSize(intptr_t minMaxInfo, int w, int h);

// Surfaces. The window surface stays usable outside paint messages.
OsSurface osWindowSurface(OsWindow window);
void osReleaseWindowSurface(OsWindow window, OsSurface surface);
OsSurface osCreateOffscreen(OsSurface compatible, int w, int h);  // black
void osDestroyOffscreen(OsSurface surface);
// Fills left..right-1, top..bottom-1 (exclusive bounds), clipped to the surface.
void osFillRect(OsSurface surface, const OsRect* rect, uint8_t r, uint8_t g, uint8_t b);
// Copies a w x h block from source (sx, sy) to destination (dx, dy), clipped.
void osCopyBlock(OsSurface destination, int dx, int dy, int w, int h, OsSurface source, int sx, int sy);
void osValidateWindow(OsWindow window);  // the whole client area needs no paint
// 1 when a drawn key reaches the window for less as one block copy of its box
// from the back buffer (osCopyBlock) than as each of its fills repeated on the
// window surface; 0 when every fill goes to both surfaces.
int osWindowPrefersCopies(void);
// 1 when a drawn key may reach the window at the window thread's next pass
// instead of at once (the window is shown at the display's rate anyway): the
// drawing then only notes the key, and a key drawn many times between two
// passes is painted once. 0 when every drawn key is painted at once.
int osWindowDefersKeys(void);
// Where keys are deferred, the drawing calls this for the first key it notes
// after paintPendingKeys ran: the window thread is to make a pass that paints
// and shows the noted keys, at most once a display frame.
void osWindowKeysNoted(OsWindow window);

// The window's own scroll bars; a range 0..0 hides a bar.
void osSetScrollRange(OsWindow window, int bar, int maximum, int redraw);
void osSetScrollPos(OsWindow window, int bar, int position);
void osShowScrollBar(OsWindow window, int bar, int show);
// Moves the client area's pixels by dx, dy; the uncovered strip gets a paint.
void osScrollWindow(OsWindow window, int dx, int dy);

// Removes and dispatches one pending message of the thread; 0 when none was.
int osDispatchOneMessage(void);
// Posts a message to the window's queue; safe from any thread.
void osPostMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Discards pending console input (nothing without a console).
void osFlushConsoleInput(void);
