// The keyboard window: its life cycle, the back buffer it shows, the re-layout
// sequence, and the window procedure.
//
// Threads. Keys are drawn from two threads: the window thread (start-up, the
// main loop, computer keys, painting) and the MIDI callback thread (the event
// engine, which also re-lays out the keyboard when a channel plays for the
// first time). One display lock (displayLock, a plain std::mutex) orders them:
// drawKey, drawKeyboard, fillRect, painting, scrolling the view and the
// back-buffer rebuild of a relayout each run whole while holding it, so two
// paintings never interleave and the back buffer stays the one true picture,
// with the window showing the same look.
//
// The window itself belongs to the window thread (its id is recorded when the
// window is created). A relayout or resize asked for there happens at once. One
// asked for on any other thread must never wait on the window thread, which may
// be busy or not pumping at all: under the lock it lays the columns out,
// rebuilds the back buffer, resets the scroll offsets and redraws every key
// (into the back buffer and, clipped, into the window as it stands), then posts
// OS_WM_USER_RELAYOUT. When the window thread takes that message it fits the
// window to the new keyboard, resets the scroll bars and repaints the client
// area from the back buffer. While the lock is held the only platform calls
// are surface fills, copies and rebuilds, the view scroll of the window thread
// and that post: nothing that could wait on the other thread.
#include "display/window.h"

#include <cassert>
#include <mutex>
#include <thread>

#include "support/log.h"
#include "support/os_system.h"
#include "display/drawing.h"
#include "display/geometry.h"
#include "display/scrolling.h"
#include "state/display_settings.h"
#include "state/tables.h"

std::atomic<int> windowState;
bool windowEverOpened;
std::atomic<int> keyboardWidth;
std::atomic<int> keyboardHeight;
int fitWidth;
int fitHeight;

OsWindow keyboardWindow;
OsSurface windowSurface;
OsSurface backBuffer;
int backBufferWidth;
int backBufferHeight;

uint8_t shiftHeld;
uint8_t ctrlHeld;
uint8_t keyIsDown[256];

WindowInput windowInput = {nullptr, nullptr, nullptr, nullptr};

WindowEvents windowEvents;

namespace {

std::thread::id windowThread;  // the thread that created the window (displayLock)
int createdClientWidth;        // client size asked for at creation
int createdClientHeight;

enum { kNameSize = 260 };

// Replaces the back buffer by a black one of width x height and puts the view
// back at (0, 0). The caller holds displayLock and has checked the window.
void rebuildBackBuffer(int width, int height) {
  windowState = 1;
  if (backBuffer != 0) osDestroyOffscreen(backBuffer);
  backBuffer = osCreateOffscreen(windowSurface, width, height);
  forgetShownKeys();
  backBufferWidth = backBuffer != 0 ? width : 0;
  backBufferHeight = backBuffer != 0 ? height : 0;
  windowState = -1;
  keyboardWidth = width;
  keyboardHeight = height;
  scrollX = 0;
  scrollY = 0;
}

// Size of a window whose client area is width x height (frame and caption
// added).
void windowSizeFor(int width, int height, int* w, int* h) {
  OsRect outer = {0, 0, width, height};
  osAdjustWindowRect(&outer);
  *w = outer.right - outer.left;
  *h = outer.bottom - outer.top;
}

// True when the window exists and is not being torn down; displayLock held.
bool windowAlive(void) { return keyboardWindow != 0 && windowState == -1; }

// Window thread: fits the window to the keyboard picture, hides the scroll
// bars, and repaints the client area from the back buffer.
void fitKeyboardWindow(OsWindow window) {
  int width = keyboardWidth;
  int height = keyboardHeight;
  int w, h;
  windowSizeFor(width, height, &w, &h);
  OsRect work;
  osGetWorkArea(&work);
  OsRect now;
  osGetWindowRect(window, &now);
  bool relocate = now.left + w <= work.left + 4 || now.top + h <= work.top + 4;
  if (w >= work.right - work.left) {
    w = work.right - work.left;
    relocate = true;
  }
  if (h >= work.bottom - work.top) {
    h = work.bottom - work.top;
    relocate = true;
  }
  fitWidth = w;
  fitHeight = h;
  resetScrolling(window);
  if (relocate) {
    osMoveWindow(window, work.left, work.top, w, h);
  } else {
    osMoveWindow(window, OS_CW_USEDEFAULT, 0, w, h);
  }
  osSetTopmost(window, 0);
  paintFromBackBuffer(window);
}

// Appends a button event for the main loop. A drag replaces a drag just
// before it (only the latest position counts), and a drag out drops it. A
// queue that is full (the loop has not run for 32 events) keeps the newest
// event in its last place.
void recordMouse(int kind, int x, int y) {
  WindowEvents& e = windowEvents;
  bool dragLast = e.mouseCount > 0 && e.mouse[e.mouseCount - 1].kind == kMouseDrag;
  if (dragLast && (kind == kMouseDrag || kind == kMouseDragOut)) e.mouseCount--;
  if (e.mouseCount == kMouseQueueSize) e.mouseCount--;
  e.mouse[e.mouseCount++] = MouseEvent{kind, x, y};
}

// Client position of a pointer message in back-buffer pixels.
int pointerX(intptr_t lParam) { return static_cast<int>(static_cast<uintptr_t>(lParam) & 0xFFFF) + scrollX; }
int pointerY(intptr_t lParam) { return static_cast<int>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFF) + scrollY; }

void logModifiers(uintptr_t flags) {
  if (flags & OS_MK_CONTROL) log("CTRL+");
  if (flags & OS_MK_SHIFT) log("SHIFT+");
}

// Returns true when the message is not to go on to default processing.
bool keyDown(uintptr_t v) {
  if (v == 0x10) shiftHeld = 255;
  if (v == 0x11) ctrlHeld = 255;
  int k = static_cast<int>(v & 0xFF);
  windowEvents.keyCode = k;
  if (!keyIsDown[k]) {
    keyIsDown[k] = 255;
    if (windowInput.keyDown != nullptr) windowInput.keyDown(k);
  }
  if (v < 0x21 || v > 0x2E) return false;
  int code = static_cast<int>(v);
  if (ctrlHeld && shiftHeld) {
    windowEvents.keyCode = code | 0x400;
  } else if (ctrlHeld) {
    windowEvents.keyCode = code | 0x300;
  } else if (shiftHeld) {
    windowEvents.keyCode = code | 0x200;
  } else {
    windowEvents.keyCode = code | 0x100;
  }
  return true;
}

void keyUp(uintptr_t v) {
  if (v == 0x10) shiftHeld = 0;
  if (v == 0x11) ctrlHeld = 0;
  int k = static_cast<int>(v & 0xFF);
  if (keyIsDown[k]) {
    keyIsDown[k] = 0;
    if (windowInput.keyUp != nullptr) windowInput.keyUp(k);
  }
}

// The names are read and not used. The platform copies at most 259
// characters into the buffer, so a name too long for it is found by asking
// for its full length first.
void readDroppedFiles(uintptr_t drop) {
  int count = osDroppedFileCount(drop);
  char name[kNameSize];
  for (int i = 0; i < count; i++) {
    if (osDroppedFileName(drop, i, nullptr, 0) >= kNameSize) log("Path Too Long.\n");
    osDroppedFileName(drop, i, name, kNameSize);
  }
  osReleaseDrop(drop);
}

}  // namespace

int takeKeyCode(void) {
  int code = windowEvents.keyCode;
  windowEvents.keyCode = 0;
  return code;
}

int peekKeyCode(void) { return windowEvents.keyCode; }

int takeMouseEvent(MouseEvent* event) {
  assert(event != nullptr);
  if (windowEvents.mouseCount <= 0) return 0;
  *event = windowEvents.mouse[0];
  windowEvents.mouseCount--;
  for (int i = 0; i < windowEvents.mouseCount; i++) windowEvents.mouse[i] = windowEvents.mouse[i + 1];
  return 1;
}

int createKeyboardWindow(int width, int height, const char* title) {
  if (windowState != 0) return -1;
  if (osRegisterWindowClass(keyboardWindowProc) != 0) return -1;
  windowState = -1;
  keyboardWidth = width;
  keyboardHeight = height;
  createdClientWidth = width;
  createdClientHeight = height;

  int w, h;
  windowSizeFor(width, height, &w, &h);
  OsRect work;
  osGetWorkArea(&work);
  bool clipped = false;
  if (w > work.right - work.left) {
    w = work.right - work.left;
    clipped = true;
  }
  if (h > work.bottom - work.top) {
    h = work.bottom - work.top;
    clipped = true;
  }
  fitWidth = w;
  fitHeight = h;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    windowThread = std::this_thread::get_id();
  }

  OsWindow window = clipped ? osCreateWindow(title, work.left, work.top, w, h)
                            : osCreateWindow(title, OS_CW_USEDEFAULT, OS_CW_USEDEFAULT, w, h);
  if (window == 0) {
    osUnregisterWindowClass();
    windowState = 0;
    return -1;
  }
  osAcceptDroppedFiles(window, 1);
  OsSurface surface = osWindowSurface(window);
  OsSurface buffer = osCreateOffscreen(surface, width, height + 32);
  {
    std::lock_guard<std::mutex> hold(displayLock);
    keyboardWindow = window;
    windowEverOpened = true;
    windowSurface = surface;
    backBuffer = buffer;
    forgetShownKeys();
    backBufferWidth = buffer != 0 ? width : 0;
    backBufferHeight = buffer != 0 ? height + 32 : 0;
  }
  osFlushConsoleInput();
  return 0;
}

int resizeKeyboardWindow(int width, int height) {
  OsWindow window;
  bool here;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    if (!windowAlive()) return -1;
    rebuildBackBuffer(width, height);
    window = keyboardWindow;
    here = std::this_thread::get_id() == windowThread;
    if (!here) osPostMessage(window, OS_WM_USER_RELAYOUT, 0, 0);
  }
  if (here) fitKeyboardWindow(window);
  return 0;
}

int relayoutKeyboard(void) {
  OsWindow window = 0;
  bool here = false;
  int height;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    layoutColumns();
    height = totalY;
    if (windowAlive()) {
      rebuildBackBuffer(gxright - gxleft + 1, totalY);
      drawKeyboardLocked();
      window = keyboardWindow;
      here = std::this_thread::get_id() == windowThread;
      if (!here) osPostMessage(window, OS_WM_USER_RELAYOUT, 0, 0);
    }
  }
  if (here) fitKeyboardWindow(window);
  log("GWin Resized %d. \n", height);
  return 0;
}

void relayoutPause(void) { osSleep(1); }

int destroyKeyboardWindow(void) {
  if (windowState == 0) return 1;
  OsWindow window;
  OsSurface surface;
  OsSurface buffer;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    if (keyboardWindow == 0) return 1;  // a tear-down is already under way
    window = keyboardWindow;
    surface = windowSurface;
    buffer = backBuffer;
    windowState = 1;
    keyboardWindow = 0;
    windowSurface = 0;
    backBuffer = 0;
    backBufferWidth = backBufferHeight = 0;
  }
  osAcceptDroppedFiles(window, 0);
  if (buffer != 0) osDestroyOffscreen(buffer);
  if (surface != 0) osReleaseWindowSurface(window, surface);
  osDestroyWindow(window);
  osUnregisterWindowClass();
  osSleep(100);
  windowState = 0;
  return 0;
}

void setWindowTitle(const char* text) {
  if (keyboardWindow != 0) osSetWindowTitle(keyboardWindow, text);
}

void dropTopmost(void) {
  if (keyboardWindow != 0) osSetTopmost(keyboardWindow, 0);
}

void paintFromBackBuffer(OsWindow window) {
  OsRect client;
  osGetClientRect(window, &client);
  int w = client.right - client.left;
  int h = client.bottom - client.top;
  if (w < createdClientWidth) w = createdClientWidth;
  if (h < createdClientHeight) h = createdClientHeight;
  std::lock_guard<std::mutex> hold(displayLock);
  if (windowSurface == 0 || backBuffer == 0) return;
  osCopyBlock(windowSurface, 0, 0, w, h, backBuffer, scrollX, scrollY);
}

intptr_t keyboardWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case OS_WM_CREATE:
      clearScrolling();
      for (uint8_t& down : keyIsDown) down = 0;
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_SIZE:
      scrollSize(window, static_cast<int>(static_cast<uintptr_t>(lParam) & 0xFFFF),
                 static_cast<int>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFF));
      return 0;
    case OS_WM_PAINT:
      osValidateWindow(window);
      paintFromBackBuffer(window);
      return 0;
    case OS_WM_CLOSE:
      destroyKeyboardWindow();
      return 0;
    case OS_WM_ERASEBKGND:
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_GETMINMAXINFO:
      osSetMaximizedSize(lParam, fitWidth, fitHeight);
      return 0;
    case OS_WM_NCHITTEST:
      scrollPointerMoved();
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_NCMOUSEMOVE:
      if (windowEvents.leftHeld) recordMouse(kMouseDragOut, 0, 0);
      windowEvents.leftHeld = 0;
      return 0;
    case OS_WM_KEYDOWN:
      if (keyDown(wParam)) return 0;
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_KEYUP:
      keyUp(wParam);
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_CHAR:
      windowEvents.keyCode = static_cast<int>(wParam);
      return 0;
    case OS_WM_SYSCHAR:
      if (wParam >= 0x41 && wParam <= 0x7A) windowEvents.keyCode = static_cast<int>(wParam | 0x500);
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_SYSCOMMAND:
      scrollSysCommand(static_cast<unsigned>(wParam));
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_HSCROLL:
      scrollRequest(window, OS_SB_HORZ, wParam);
      return 0;
    case OS_WM_VSCROLL:
      scrollRequest(window, OS_SB_VERT, wParam);
      return 0;
    case OS_WM_MOUSEMOVE:
      if (!(wParam & OS_MK_LBUTTON)) windowEvents.leftHeld = 0;
      if (windowEvents.leftHeld) recordMouse(kMouseDrag, pointerX(lParam), pointerY(lParam));
      return 0;
    case OS_WM_LBUTTONDOWN:
      recordMouse(kMousePress, pointerX(lParam), pointerY(lParam));
      logModifiers(wParam);
      windowEvents.leftHeld = 255;
      return 0;
    case OS_WM_LBUTTONUP:
      recordMouse(kMouseRelease, pointerX(lParam), pointerY(lParam));
      windowEvents.leftHeld = 0;
      return 0;
    case OS_WM_RBUTTONDOWN:
      logModifiers(wParam);
      return 0;
    case OS_WM_RBUTTONUP:
    case OS_WM_MBUTTONDOWN:
    case OS_WM_MBUTTONUP:
    case OS_WM_MOUSEWHEEL:
      return 0;
    case OS_WM_SIZING:
      scrollSizing(static_cast<int>(wParam));
      return osDefaultWindowProc(window, message, wParam, lParam);
    case OS_WM_EXITSIZEMOVE:
      scrollFitWindow(window);
      return 0;
    case OS_WM_DROPFILES:
      readDroppedFiles(wParam);
      return 0;
    case OS_WM_USER_RELAYOUT:
      fitKeyboardWindow(window);
      return 0;
    default:
      return osDefaultWindowProc(window, message, wParam, lParam);
  }
}

void resetKeyboardDisplay(void) {
  {
    std::lock_guard<std::mutex> hold(displayLock);
    keyboardWindow = 0;
    windowSurface = 0;
    backBuffer = 0;
    backBufferWidth = backBufferHeight = 0;
    windowThread = std::thread::id();
  }
  windowState = 0;
  windowEverOpened = false;
  keyboardWidth = 0;
  keyboardHeight = 0;
  fitWidth = 0;
  fitHeight = 0;
  createdClientWidth = 0;
  createdClientHeight = 0;
  shiftHeld = 0;
  ctrlHeld = 0;
  for (uint8_t& down : keyIsDown) down = 0;
  windowEvents = WindowEvents{};
  windowInput = WindowInput{nullptr, nullptr, nullptr, nullptr};  // start-up points it at the engine
  clearScrolling();
}
