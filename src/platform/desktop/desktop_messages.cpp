// Desktop (Linux) window services of the message side: the pump that hands
// out the window's messages in Windows' order, posting, the default
// processing, and the console flush (see desktop_window.cpp on the threads
// and the order of messages).
#include <termios.h>
#include <unistd.h>

#include <mutex>

#include "display/os_window.h"
#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

using namespace desktop_window;

// What Windows' default processing does, as far as it applies here. System
// commands come after the window manager has acted, so they need nothing.
intptr_t osDefaultWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case OS_WM_CLOSE:
      osDestroyWindow(window);
      return 0;
    case OS_WM_PAINT:
      osValidateWindow(window);
      return 0;
    case OS_WM_ERASEBKGND:
      return 1;  // new client pixels are black already: the class's black background
    case OS_WM_NCHITTEST:
      return kHtClient;
    case kWmSysKeyDown:
      // Alt+F4 closes the window when no window manager took it first.
      if (wParam == kVkF4 && (static_cast<uintptr_t>(lParam) & 1u << 29)) osPostMessage(window, OS_WM_CLOSE, 0, 0);
      return 0;
    default:
      return 0;
  }
}
// The window manager decides the maximised size (WM_GETMINMAXINFO is never
// sent here); a record handed in anyway gets the size where Windows keeps it.
void osSetMaximizedSize(intptr_t minMaxInfo, int w, int h) {
  if (minMaxInfo == 0) return;
  int* fields = reinterpret_cast<int*>(minMaxInfo);
  fields[2] = w;  // ptMaxSize.x, after ptReserved
  fields[3] = h;
}
void osValidateWindow(OsWindow window) {
  std::lock_guard<std::mutex> hold(shared.lock);
  if (isWindowLocked(window)) shared.needsPaint = false;
}

int osDispatchOneMessage(void) {
  OsWindow window;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!onWindowThreadLocked()) return 0;
    window = shared.window;
  }
  if (window == 0) return 0;
  applyDeferred();
  if (quitSignalled.exchange(0) != 0) queueSent(window, OS_WM_CLOSE, 0, 0);
  Message m;
  bool got;
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    got = ringPop(shared.sent, &m) || ringPop(shared.posted, &m);
  }
  if (!got && pollEvents(window)) {
    std::lock_guard<std::mutex> hold(shared.lock);
    got = ringPop(shared.sent, &m);
  }
  if (!got) got = timerMessage(window, &m);
  if (!got) {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (isWindowLocked(window) && shared.needsPaint && !shared.paintDelivered) {
      // Unlike Windows, a procedure that leaves the area invalid gets no
      // second WM_PAINT until something new needs painting: the pump would
      // never run dry otherwise.
      shared.paintDelivered = true;
      m = Message{window, OS_WM_PAINT, 0, 0};
      got = true;
    }
  }
  if (got) deliver(m);
  present();
  return got ? 1 : 0;
}

void osPostMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (!isWindowLocked(window)) return;
    ringPush(shared.posted, Message{window, message, wParam, lParam});
  }
  wakeWindowThread();
}

// Pending keyboard input of a terminal on standard input is discarded; any
// other standard input (a file, a pipe, nothing) is left alone.
void osFlushConsoleInput(void) {
  if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
}
