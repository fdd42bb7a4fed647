// Desktop window backend entry points beyond the platform window services: the
// key-code mapping, the picture presentation the message box asks for, and
// the SDL window for the backend's own tests.
#pragma once

struct SDL_Window;

// Windows virtual-key code for an SDL key (keycode, scancode, modifier state);
// 0 when the key has none. Letters and digits follow the keyboard layout as
// Windows' codes do; other keys outside ASCII fall back to the US position of
// their scancode.
int desktopVirtualKey(int keycode, int scancode, unsigned modifiers);

// Window thread: shows what was drawn and not presented yet (a message box is
// about to block the message pump). Does nothing on any other thread.
void desktopPresentWindow(void);

// The SDL window behind the platform window, null when there is none. For
// tests that read back the screen or address injected events.
SDL_Window* desktopSdlWindow(void);
