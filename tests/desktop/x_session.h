// A private X server for the desktop tests and the JACK harness: Xvfb started
// on a display it picks, a connection to it, and the program's top-level
// window found by its title.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

// Starts Xvfb (1280x1024x24, no TCP) as a child of ours and connects to it.
// Returns the connection, null on failure with *why set; *pid and *display
// tell the server's process and display name (":N").
Display* startXvfb(pid_t* pid, std::string* display, std::string* why);

// The window's _NET_WM_NAME as UTF-8, empty when it has none.
std::string windowName(Display* x, Window w);

// Waits (bounded by patience) for a top-level window titled `title`. Returns 0
// when none shows; *ended is set when `program` ended meanwhile (it is then
// reaped).
Window waitForWindow(Display* x, const char* title, pid_t program, std::chrono::milliseconds patience, bool* ended);

// Asks a window to close as a window manager would (WM_DELETE_WINDOW): the
// program ends through its own exit path.
void askToClose(Display* x, Window w);

// Ends a program whose window is w: asks the window to close and waits up to
// 10 s; without a connection or window it sends SIGTERM and waits up to 5 s.
// Returns the program's wait status (-1: it had to be killed).
int closeProgram(Display* x, Window w, pid_t program);

// The pixel of an image at (px, py) as 0xRRGGBB, whatever the visual's masks.
uint32_t rgbAt(XImage* image, int px, int py);

// Ends an Xvfb that startXvfb started.
void stopXvfb(pid_t pid);
