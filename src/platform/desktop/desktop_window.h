// Desktop window backend entry points beyond the platform window services: the
// key-code mapping, the picture presentation the message box asks for, the
// pauses (which the window thread's idle wait needs), the X connection, and
// the SDL window for the backend's own tests.
#pragma once

#include <cstdint>

struct SDL_Window;

// The window's class on X11 (WM_CLASS) and its application id on Wayland;
// the installed .desktop file names it as its StartupWMClass.
#define NOTALUMEN_WINDOW_CLASS "notalumen"

// The program's icon, square, as 0xAARRGGBB words row by row: made from
// data/notalumen.svg at build time (tools/icon_files.py).
extern const int desktopIconSize;
extern const uint32_t desktopIconPixels[];

// Windows virtual-key code for an SDL key (keycode, scancode, modifier state);
// 0 when the key has none. Letters and digits follow the keyboard layout as
// Windows' codes do; other keys outside ASCII fall back to the US position of
// their scancode.
int desktopVirtualKey(int keycode, int scancode, unsigned modifiers);

// Window thread: shows what was drawn and not presented yet (a message box is
// about to block the message pump). Does nothing on any other thread.
void desktopPresentWindow(void);

// osSleep: pauses the calling thread for ms milliseconds. On the window
// thread, the main loop's pause (4 to 8 ms) goes on while the window thread
// has had nothing to do for a while and nothing new comes (see the idle wait
// in desktop_window.cpp).
void desktopPause(int ms);

// Any thread: the MIDI system told of devices coming or going. The window
// thread's next pass looks at them; an idle wait ends for it.
void desktopMidiNews(void);

// The descriptor of the X connection behind an SDL window, -1 when the window
// is not on X11.
int desktopDisplayConnection(SDL_Window* window);

// The SDL window behind the platform window, null when there is none. For
// tests that read back the screen or address injected events.
SDL_Window* desktopSdlWindow(void);
