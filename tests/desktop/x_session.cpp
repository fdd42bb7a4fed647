// A private X server and window lookup (see x_session.h).
#include "x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "child_process.h"

Display* startXvfb(pid_t* pid, std::string* display, std::string* why) {
  int fds[2];
  if (::pipe(fds) != 0) {
    *why = "pipe failed";
    return nullptr;
  }
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  *pid = launch({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                "", "", fds[1]);
  ::close(fds[1]);
  std::string number;
  for (;;) {
    pollfd p = {fds[0], POLLIN, 0};
    char c;
    if (::poll(&p, 1, 15000) <= 0 || ::read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  ::close(fds[0]);
  if (number.empty()) {
    *why = "Xvfb did not report its display";
    return nullptr;
  }
  *display = ":" + number;
  Display* x = nullptr;
  for (int attempt = 0; attempt < 50 && x == nullptr; attempt++) {
    x = XOpenDisplay(display->c_str());
    if (x == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (x == nullptr) *why = "cannot connect to Xvfb";
  return x;
}

std::string windowName(Display* x, Window w) {
  Atom name = XInternAtom(x, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(x, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long items, rest;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(x, w, name, 0, 256, False, utf8, &type, &format, &items, &rest, &data) == Success &&
      data != nullptr) {
    out.assign(reinterpret_cast<char*>(data), items);
  }
  if (data != nullptr) XFree(data);
  return out;
}

Window waitForWindow(Display* x, const char* title, pid_t program, std::chrono::milliseconds patience, bool* ended) {
  *ended = false;
  const auto give = std::chrono::steady_clock::now() + patience;
  while (std::chrono::steady_clock::now() < give) {
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    if (XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) {
      for (unsigned i = 0; i < count && found == 0; i++) {
        if (windowName(x, children[i]) == title) found = children[i];
      }
      if (children != nullptr) XFree(children);
    }
    if (found != 0) return found;
    int status = 0;
    if (::waitpid(program, &status, WNOHANG) == program) {
      *ended = true;
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

void askToClose(Display* x, Window w) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(x, w, False, NoEventMask, &e);
  XFlush(x);
}

int closeProgram(Display* x, Window w, pid_t program) {
  if (x != nullptr && w != 0) {
    askToClose(x, w);
    return reap(program, std::chrono::seconds(10));
  }
  ::kill(program, SIGTERM);
  return reap(program, std::chrono::seconds(5));
}

void stopXvfb(pid_t pid) {
  ::kill(pid, SIGTERM);
  reap(pid, std::chrono::seconds(5));
}

uint32_t rgbAt(XImage* image, int px, int py) {
  const unsigned long pixel = XGetPixel(image, px, py);
  auto channel = [pixel](unsigned long mask) {
    int shift = 0;
    while (mask != 0 && !(mask & 1)) {
      mask >>= 1;
      shift++;
    }
    return static_cast<uint32_t>((pixel >> shift) & 0xFF);
  };
  return channel(image->red_mask) << 16 | channel(image->green_mask) << 8 | channel(image->blue_mask);
}
