// Windows values and handle tags that the desktop and sim window backends both
// use: message and command numbers the os_window.h services do not name, the
// scroll-bar thickness, and the low bytes that mark their handles.
#pragma once

constexpr int kBarSize = 17;               // scroll-bar thickness (SM_CXVSCROLL, SM_CYHSCROLL)
constexpr int kTagWindow = 0xFE;           // low byte of a window handle
constexpr int kTagSurface = 0xFD;          // low byte of a window surface handle
constexpr unsigned kWmDestroy = 0x0002;    // WM_DESTROY
constexpr unsigned kScMaximize = 0xF030;   // SC_MAXIMIZE
constexpr int kHtClient = 1;               // HTCLIENT
