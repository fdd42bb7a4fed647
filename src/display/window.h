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
// Set once the keyboard window has been created: a main loop that finds no
// window then ends normally, one that never had a window ends as a failure.
extern bool windowEverOpened;

extern std::atomic<int> keyboardWidth;   // keyboard picture width in pixels
extern std::atomic<int> keyboardHeight;  // keyboard picture height in pixels
extern int fitWidth;                     // outer window width that shows the picture whole (work area at most)
extern int fitHeight;                    // outer window height likewise

// Surfaces and the window handle; changed only while displayLock is held.
extern OsWindow keyboardWindow;  // the window; 0 = none
extern OsSurface windowSurface;  // the client area's surface
extern OsSurface backBuffer;     // the keyboard picture
extern int backBufferWidth;      // its size in pixels (0 x 0 without one)
extern int backBufferHeight;

// Window thread only.
extern uint8_t shiftHeld;        // 255 while Shift is down
extern uint8_t ctrlHeld;         // 255 while Ctrl is down
extern uint8_t keyIsDown[256];   // 255 while that virtual key is down

// The one route by which what the user does in the window reaches the event
// engine: computer keys (from the window procedure) and notes played with
// the mouse (from the main loop). resetGlobalState points it at the engine's
// keyDownEvent, keyUpEvent, playMouseNote and releaseMouseNote; a test may
// point it elsewhere. A null entry: nowhere.
struct WindowInput {
  int (*keyDown)(int vk);                 // a computer key went down (first time)
  int (*keyUp)(int vk);                   // it went up
  int (*noteOn)(int channel, int note);   // the mouse plays a key of channel's column
  int (*noteOff)(int channel, int note);  // and lets it go
};
extern WindowInput windowInput;

// A left-button event the window procedure recorded for the main loop;
// positions are back-buffer pixels (client position plus the scroll offsets).
enum MouseEventKind {
  kMousePress = 1,  // the left button went down
  kMouseRelease,    // the left button went up
  kMouseDrag,       // the pointer moved in the client area with the button held
  kMouseDragOut,    // the pointer left over the non-client area with the button held
};
struct MouseEvent {
  int kind;  // MouseEventKind
  int x;     // where: x (0 for a drag out)
  int y;     //   and y
};

// What the window procedure records for the main loop. The button events
// keep their order: a press and its release that arrive in the same pass of
// the main loop are both played, in turn. Successive drags keep only the
// latest position.
enum { kMouseQueueSize = 32 };
struct WindowEvents {
  int keyCode;                         // last key or character code; 0 = none
  MouseEvent mouse[kMouseQueueSize];   // button events not yet taken, oldest first
  int mouseCount;                      // entries of mouse in use
  uint8_t leftHeld;                    // 255 between a left press and its end
};
extern WindowEvents windowEvents;

// Taking reads the key code and clears it in one step; peeking leaves it.
int takeKeyCode(void);
int peekKeyCode(void);
// Takes the oldest button event into *event: 1, or 0 when there is none.
int takeMouseEvent(MouseEvent* event);

// Creates the topmost window for a width x height client area. 0, or -1 when a
// window exists already or the platform refuses.
int createKeyboardWindow(int width, int height, const char* title);
// Rebuilds the back buffer for a keyboard of width x height and fits the
// window to it. -1 when there is no window, else 0.
int resizeKeyboardWindow(int width, int height);
// Lays the columns out again, rebuilds the back buffer and draws every key in
// its present look. Safe from the MIDI callback thread. Returns 0.
int relayoutKeyboard(void);
// The short pause that follows a relayout (1 ms), taken by the caller once it
// holds no lock.
void relayoutPause(void);
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
