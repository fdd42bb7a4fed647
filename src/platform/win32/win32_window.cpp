// Windows window and drawing services: the class "gint" and its window, the
// work area and metrics, GDI surfaces (the window's DC, memory DCs with a
// compatible bitmap), fills and block copies, the window's scroll bars,
// dropped files and the message pump.
#include <windows.h>
#include <shellapi.h>

#include <new>

#include "display/os_window.h"
#include "platform/win32/win32.h"

namespace {

const char kClassName[] = "gint";
const DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX | WS_HSCROLL | WS_VSCROLL;

// Every OsSurface is one of these records.
struct Surface {
  HDC dc;             // the window's DC, or a memory DC
  HBITMAP bitmap;     // off-screen only: the bitmap selected into dc
  HGDIOBJ oldBitmap;  // off-screen only: the memory DC's own bitmap, put back before deletion
};

OsWindowProc windowProcedure = nullptr;  // ours, behind the trampoline

HWND hwndOf(OsWindow window) { return reinterpret_cast<HWND>(window); }
Surface* surfaceOf(OsSurface surface) { return reinterpret_cast<Surface*>(surface); }

LRESULT CALLBACK windowTrampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Windows tells every top-level window when devices come and go
  // (DBT_DEVNODES_CHANGED, without registering for anything); the MIDI lists
  // are then worth a new look.
  if (message == WM_DEVICECHANGE) win32MidiDevicesChanged();
  if (windowProcedure == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
  return windowProcedure(reinterpret_cast<OsWindow>(hwnd), message, wParam, lParam);
}

}  // namespace

int osRegisterWindowClass(OsWindowProc procedure) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc = {};
  wc.style = 0;
  wc.lpfnWndProc = windowTrampoline;
  wc.hInstance = instance;
  // Icon resource 128 is the program's own (notalumen.rc); without it the
  // class takes the standard application icon.
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(128));
  if (wc.hIcon == nullptr) wc.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));                       // IDC_ARROW
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kClassName;
  if (RegisterClassA(&wc) == 0) return -1;
  windowProcedure = procedure;
  return 0;
}

void osUnregisterWindowClass(void) { UnregisterClassA(kClassName, GetModuleHandleA(nullptr)); }

// AdjustWindowRect leaves the scroll bars out even though the style names
// them: the rectangle is the one for a client area with both bars hidden.
void osAdjustWindowRect(OsRect* rect) {
  RECT r = {rect->left, rect->top, rect->right, rect->bottom};
  AdjustWindowRect(&r, kStyle, FALSE);
  *rect = {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom)};
}

void osGetWorkArea(OsRect* rect) {
  RECT r;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) {
    r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  *rect = {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom)};
}

int osGetSystemMetric(int index) { return GetSystemMetrics(index); }

// WM_GETMINMAXINFO, WM_CREATE and (from the first ShowWindow) WM_SIZE reach
// the procedure before this returns, with the new window as their argument.
OsWindow osCreateWindow(const char* title, int x, int y, int w, int h) {
  // With a default x, y must be the default too: otherwise Windows may take
  // it for a show command.
  if (x == OS_CW_USEDEFAULT) x = y = CW_USEDEFAULT;
  HWND hwnd = CreateWindowExA(0, kClassName, title, kStyle, x, y, w, h, nullptr, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
  if (hwnd == nullptr) return 0;
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  // SW_SHOWDEFAULT follows the show state the program was started with.
  ShowWindow(hwnd, SW_SHOWDEFAULT);
  return reinterpret_cast<OsWindow>(hwnd);
}

void osDestroyWindow(OsWindow window) { DestroyWindow(hwndOf(window)); }

void osSetWindowTitle(OsWindow window, const char* title) { SetWindowTextA(hwndOf(window), title); }

void osSetTopmost(OsWindow window, int topmost) {
  SetWindowPos(hwndOf(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

// The z-order is left alone (osSetTopmost changes it). Called on another
// thread than the window's, SetWindowPos waits until the window thread has
// handled the WM_SIZE it causes.
void osMoveWindow(OsWindow window, int x, int y, int w, int h) {
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  if (x == OS_CW_USEDEFAULT) {
    flags |= SWP_NOMOVE;
    x = y = 0;
  }
  SetWindowPos(hwndOf(window), nullptr, x, y, w, h, flags);
}

void osGetClientRect(OsWindow window, OsRect* rect) {
  RECT r = {0, 0, 0, 0};
  GetClientRect(hwndOf(window), &r);
  *rect = {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom)};
}

void osGetWindowRect(OsWindow window, OsRect* rect) {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(hwndOf(window), &r);
  *rect = {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right), static_cast<int>(r.bottom)};
}

intptr_t osDefaultWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  return DefWindowProcA(hwndOf(window), message, wParam, lParam);
}

void osAcceptDroppedFiles(OsWindow window, int accept) { DragAcceptFiles(hwndOf(window), accept ? TRUE : FALSE); }

int osDroppedFileCount(uintptr_t drop) {
  return static_cast<int>(DragQueryFileA(reinterpret_cast<HDROP>(drop), 0xFFFFFFFF, nullptr, 0));
}

// DragQueryFileA copies at most size - 1 characters and returns the number
// copied, so a cut name reports size - 1, never size; without a buffer it
// returns the whole length. A negative index would read as 0xFFFFFFFF, the
// request for the count, so it is refused here.
int osDroppedFileName(uintptr_t drop, int index, char* name, int size) {
  if (index < 0 || (name != nullptr && size <= 0)) return 0;
  return static_cast<int>(
      DragQueryFileA(reinterpret_cast<HDROP>(drop), static_cast<UINT>(index), name, name ? static_cast<UINT>(size) : 0));
}

void osReleaseDrop(uintptr_t drop) { DragFinish(reinterpret_cast<HDROP>(drop)); }

void osSetMaximizedSize(intptr_t minMaxInfo, int w, int h) {
  MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(minMaxInfo);
  info->ptMaxSize.x = w;
  info->ptMaxSize.y = h;
}

// The window surface is a DC from GetDC, kept until osReleaseWindowSurface.
// A DC from BeginPaint outside WM_PAINT would do too, but it is clipped for
// good to the area that was invalid at that moment, it validates that area as
// a side effect, and it must be ended by EndPaint on the window's thread. A
// GetDC DC covers the whole visible client area, follows the window when it
// is moved or sized, and draws at once from any thread, so drawing outside
// paint messages reaches the window.
OsSurface osWindowSurface(OsWindow window) {
  HDC dc = GetDC(hwndOf(window));
  if (dc == nullptr) return 0;
  Surface* s = new (std::nothrow) Surface{dc, nullptr, nullptr};
  if (s == nullptr) {
    ReleaseDC(hwndOf(window), dc);
    return 0;
  }
  return reinterpret_cast<OsSurface>(s);
}

void osReleaseWindowSurface(OsWindow window, OsSurface surface) {
  Surface* s = surfaceOf(surface);
  if (s == nullptr) return;
  ReleaseDC(hwndOf(window), s->dc);
  delete s;
}

OsSurface osCreateOffscreen(OsSurface compatible, int w, int h) {
  HDC reference = compatible ? surfaceOf(compatible)->dc : nullptr;
  HDC screen = nullptr;
  if (reference == nullptr) reference = screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(reference);
  // The bitmap is made compatible with the reference DC, not with the new
  // memory DC: that one holds a 1x1 monochrome bitmap, and a bitmap
  // compatible with it would be monochrome too.
  HBITMAP bitmap = dc ? CreateCompatibleBitmap(reference, w, h) : nullptr;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  Surface* s = bitmap ? new (std::nothrow) Surface{dc, bitmap, nullptr} : nullptr;
  if (s == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (dc != nullptr) DeleteDC(dc);
    return 0;
  }
  s->oldBitmap = SelectObject(dc, bitmap);
  // A new compatible bitmap holds whatever memory it got: clear it.
  RECT all = {0, 0, w, h};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  return reinterpret_cast<OsSurface>(s);
}

// A bitmap still selected into a DC cannot be deleted: the DC's own bitmap
// goes back in first.
void osDestroyOffscreen(OsSurface surface) {
  Surface* s = surfaceOf(surface);
  if (s == nullptr) return;
  SelectObject(s->dc, s->oldBitmap);
  DeleteObject(s->bitmap);
  DeleteDC(s->dc);
  delete s;
}

// FillRect leaves the right column and the bottom row out, and clips to the DC.
void osFillRect(OsSurface surface, const OsRect* rect, uint8_t r, uint8_t g, uint8_t b) {
  Surface* s = surfaceOf(surface);
  if (s == nullptr || rect == nullptr) return;
  HBRUSH brush = CreateSolidBrush(RGB(r, g, b));
  if (brush == nullptr) return;
  RECT rc = {rect->left, rect->top, rect->right, rect->bottom};
  FillRect(s->dc, &rc, brush);
  DeleteObject(brush);
}

void osCopyBlock(OsSurface destination, int dx, int dy, int w, int h, OsSurface source, int sx, int sy) {
  Surface* d = surfaceOf(destination);
  Surface* s = surfaceOf(source);
  if (d == nullptr || s == nullptr) return;
  BitBlt(d->dc, dx, dy, w, h, s->dc, sx, sy, SRCCOPY);
}

void osValidateWindow(OsWindow window) { ValidateRect(hwndOf(window), nullptr); }

// Every fill goes to the memory DC and to the window DC, as GDI draws them.
int osWindowPrefersCopies(void) { return 0; }

int osWindowDefersKeys(void) { return 0; }

void osWindowKeysNoted(OsWindow) {}  // keys are never deferred here

// A range of 0..0 hides a standard scroll bar; a new non-empty range shows it
// again. Either changes the client area and sends WM_SIZE from inside the call.
void osSetScrollRange(OsWindow window, int bar, int maximum, int redraw) {
  SetScrollRange(hwndOf(window), bar, 0, maximum, redraw ? TRUE : FALSE);
}

void osSetScrollPos(OsWindow window, int bar, int position) { SetScrollPos(hwndOf(window), bar, position, TRUE); }

void osShowScrollBar(OsWindow window, int bar, int show) { ShowScrollBar(hwndOf(window), bar, show ? TRUE : FALSE); }

// The uncovered strip is invalidated; its WM_PAINT comes through the pump.
void osScrollWindow(OsWindow window, int dx, int dy) { ScrollWindow(hwndOf(window), dx, dy, nullptr, nullptr); }

int osDispatchOneMessage(void) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return 1;
}

void osPostMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  PostMessageA(hwndOf(window), message, wParam, lParam);
}

// A GUI program usually has no console: the handle is then null, or a file
// or pipe on which FlushConsoleInputBuffer just fails.
void osFlushConsoleInput(void) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input != nullptr && input != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(input);
}
