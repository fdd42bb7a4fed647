// The keyboard window: creation, resizing to the keyboard, re-layout and
// tear-down; its back buffer; and the window procedure with the events it
// records for the main loop.
#pragma once

#include <atomic>
#include <cstdint>

#include "display/os_window.h"

// 0: no window; -1 while it exists; 1 while the back buffer is being rebuilt
// or the window torn down. The main loop ends the program once it reads 0.
extern std::atomic<int> windowState;

extern std::atomic<int> keyboardWidth;   // keyboard picture width in pixels
extern std::atomic<int> keyboardHeight;  // keyboard picture height in pixels
extern int fitWidth;                     // outer window width that shows the picture whole (work area at most)
extern int fitHeight;                    // outer window height likewise

// Surfaces and the window handle; changed only while displayLock is held.
extern OsWindow keyboardWindow;  // the window; 0 = none
extern OsSurface windowSurface;  // the client area's surface
extern OsSurface backBuffer;     // the keyboard picture

// Window thread only.
extern uint8_t shiftHeld;        // 255 while Shift is down
extern uint8_t ctrlHeld;         // 255 while Ctrl is down
extern uint8_t keyIsDown[256];   // 255 while that virtual key is down

// Where computer-key presses and releases go: the event engine's keyDownEvent
// and keyUpEvent (a test may point them elsewhere).
extern int (*keyDownHandler)(int vk);
extern int (*keyUpHandler)(int vk);

// What the window procedure records for the main loop; positions are
// back-buffer pixels (client position plus the scroll offsets).
struct WindowEvents {
  int keyCode;           // last key or character code; 0 = none
  uint8_t leftPressed;   // 255: the left button went down
  int pressX;            // where it went down: x
  int pressY;            //   and y
  uint8_t leftReleased;  // 255: the left button went up
  int releaseX;          // where it went up: x
  int releaseY;          //   and y
  uint8_t dragMoved;     // 255: the pointer moved in the client area with the button held
  int dragX;             // where it moved to: x
  int dragY;             //   and y
  uint8_t dragLeft;      // 255: the pointer left over the non-client area with the button held
  uint8_t leftHeld;      // 255 between a left press and its end
};
extern WindowEvents windowEvents;

// Taking reads a flag and clears it in one step (non-zero when it was set) and
// hands out its position; x and y may be null. Peeking leaves it set.
int takeKeyCode(void);
int peekKeyCode(void);
int takeLeftPressed(int* x, int* y);
int takeLeftReleased(int* x, int* y);
int takeDragMoved(int* x, int* y);
int takeDragLeft(void);

// Creates the topmost window for a width x height client area. 0, or -1 when a
// window exists already or the platform refuses.
int createKeyboardWindow(int width, int height, const char* title);
// Rebuilds the back buffer for a keyboard of width x height and fits the
// window to it. -1 when there is no window, else 0.
int resizeKeyboardWindow(int width, int height);
// Lays the columns out again, rebuilds the back buffer and draws every key
// Off. Safe from the MIDI callback thread. Returns 0.
int relayoutKeyboard(void);
// Tears the window down. 1 when there is none, else 0.
int destroyKeyboardWindow(void);
void setWindowTitle(const char* text);
void dropTopmost(void);  // normal z-order, no move or size

// The window procedure registered with the class.
intptr_t keyboardWindowProc(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Copies the back buffer, from the scroll offsets on, to the client area.
void paintFromBackBuffer(OsWindow window);

// Start values of the window, scrolling and event state (no platform calls).
void resetKeyboardDisplay(void);
