// The X connection behind an SDL window, which the window thread's idle wait
// watches. Apart from desktop_window.cpp because SDL_syswm.h brings in Xlib,
// whose names (Screen, Region, None) clash with the window code's own.
#include <SDL.h>
#include <SDL_syswm.h>

#include "platform/desktop/desktop_window.h"

int desktopDisplayConnection(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (window == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return -1;
  }
  return ConnectionNumber(info.info.x11.display);
#else
  (void)window;
  return -1;
#endif
}
