// Inner parts of the desktop window backend shared by its files: the window's
// state (one record under a lock, one for the window thread alone), the client
// pixels, the scroll bars' layout, and the helpers the files call one another
// through. Not for the core. How the parts work together: desktop_window.cpp.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/shared/pixels.h"
#include "platform/shared/window_constants.h"

namespace desktop_window {

constexpr int kSentCapacity = 64;         // caused messages waiting (a text event gives up to 32)
constexpr int kPostedCapacity = 256;      // posted messages waiting; more are dropped, as a full queue refuses
constexpr uint64_t kSizeMoveQuiet = 250;  // ms without a size change that end a user resize
constexpr uint64_t kOwnResizeGrace = 300; // ms in which a size change answers our own request
constexpr uint64_t kRepeatDelay = 400;    // ms before a held scroll arrow repeats
constexpr uint64_t kRepeatInterval = 50;  // ms between repeats
constexpr uint32_t kOffscreenTag = 0x4F46534Eu;  // marks a live off-screen record
constexpr int kLoopPauseShortest = 4;     // ms: the main loop's pause between two pumps (4, or 8 under
constexpr int kLoopPauseLongest = 8;      // oldWindows), the only pauses an idle window thread stretches
constexpr uint64_t kIdleSettle = 300;     // ms without work before a pause stretches (SDL's own delays are shorter)
constexpr int kIdleLongest = 1000;        // ms: longest stretched pause

// Windows values the header has no name for.
constexpr unsigned kWmSysKeyDown = 0x0104;
constexpr unsigned kWmSysKeyUp = 0x0105;
constexpr int kSizeRestored = 0;
constexpr int kSizeMaximized = 2;
constexpr int kSbLineUp = 0;
constexpr int kSbLineDown = 1;
constexpr int kSbPageUp = 2;
constexpr int kSbPageDown = 3;
constexpr int kSbThumbPosition = 4;
constexpr int kSbThumbTrack = 5;
constexpr int kSbEndScroll = 8;
constexpr int kHtNowhere = 0;
constexpr int kHtHScroll = 6;
constexpr int kHtVScroll = 7;
constexpr int kMkRButton = 0x02;
constexpr int kMkMButton = 0x10;
constexpr int kVkMenu = 0x12;
constexpr int kVkF4 = 0x73;
constexpr int kVkF10 = 0x79;

struct Message {
  OsWindow window;   // addressee
  unsigned message;  // Windows value
  uintptr_t wParam;  // as Windows fills it for the message
  intptr_t lParam;   // likewise
};

// A fixed ring of messages (no allocation when the MIDI thread posts).
template <int N>
struct Ring {
  Message items[N];  // the ring
  int head;          // oldest message
  int count;         // messages held
};

template <int N>
bool ringPush(Ring<N>& ring, const Message& m) {
  if (ring.count == N) return false;
  ring.items[(ring.head + ring.count) % N] = m;
  ring.count++;
  return true;
}

template <int N>
bool ringPop(Ring<N>& ring, Message* m) {
  if (ring.count == 0) return false;
  *m = ring.items[ring.head];
  ring.head = (ring.head + 1) % N;
  ring.count--;
  return true;
}

struct Offscreen {
  uint32_t tag;     // kOffscreenTag while the surface lives
  PixelBuffer pixels;  // black when made
};

struct Bar {
  bool shown;       // takes room from the client area
  int maximum;      // range 0..maximum
  int position;     // thumb, within the range
};

// A left-button press on a scroll bar, until its release (window thread).
struct BarTrack {
  int bar = -1;         // OS_SB_HORZ or OS_SB_VERT; -1 when no press is tracked
  int part;             // kSbLineUp .. kSbPageDown, or kSbThumbTrack for the thumb
  int grab;             // thumb: pointer offset from the thumb's start
  int thumb;            // thumb: the position it is dragged to
  uint64_t nextRepeat;  // arrows and page areas: when the request repeats
};

// One drop of files, from SDL_DROPBEGIN to the procedure's osReleaseDrop.
struct Drop {
  std::vector<std::string> names;  // dropped names, UTF-8
};

// Shared state, under lock.
struct Shared {
  std::mutex lock;              // guards everything below
  bool videoUp;                 // SDL video started by the class registration
  std::thread::id sdlThread;    // the thread that started it: the window thread
  bool classRegistered;         // osRegisterWindowClass succeeded, not yet undone
  OsWindowProc procedure;       // the class's window procedure
  intptr_t serial;              // makes every handle unique
  OsWindow window;              // 0: no window
  OsRect outer;                 // the SDL window on the screen (client area plus shown bars)
  Bar bars[2];                  // OS_SB_HORZ, OS_SB_VERT
  bool maximized;               // the window manager maximised the window
  bool needsPaint;              // part of the client area is invalid
  bool paintDelivered;          // WM_PAINT went out for the current invalid area
  bool acceptsDrops;            // osAcceptDroppedFiles is on
  Ring<kSentCapacity> sent;     // messages caused by calls and SDL events
  Ring<kPostedCapacity> posted; // osPostMessage
  bool titlePending;            // asked on another thread, for the window thread
  char title[256];              // the title asked for
  int topmostPending;           // -1 none, else the z-order asked for
  bool movePending;             // a move asked on another thread
  int moveX, moveY, moveW, moveH;  // osMoveWindow's arguments for it
  OsRect workArea;              // last work area read on the window thread
  std::vector<Drop*> drops;     // drops handed to the procedure and not released
};

// Window thread only.
struct Screen {
  SDL_Window* sdl;              // null: no window
  Uint32 sdlId;                 // its id in SDL events
  SDL_Renderer* renderer;       // the software renderer of the window
  SDL_Texture* texture;         // the client pixels on their way to the screen
  int textureWidth;             // its size, at least the client area's
  int textureHeight;
  Uint16 keyMods;               // SDL modifier state after the last key event
  Uint32 buttons;               // mouse buttons held (SDL button masks)
  int pointerX;                 // last pointer position, window coordinates
  int pointerY;
  BarTrack track;               // a press on a scroll bar
  bool sizing;                  // a user resize is under way
  uint64_t lastSizing;          // when its last size change came
  uint64_t ownResizeAt;         // when we last asked for a size; 0 never
  Drop* gathering;              // the drop being received
  int displayFd = -1;           // the X connection, for the idle wait; -1 when unknown
  uint64_t framePeriod = 16;    // ms between two presentations at most as often as the display refreshes
  uint64_t lastPresent;         // when the picture was last presented
  int shownWidth;               // SDL window size and client size at that presentation
  int shownHeight;
  int shownClientWidth;
  int shownClientHeight;
};

extern Shared shared;
extern Screen screen;
extern std::mutex pixelLock;               // guards client and clientSurface
extern PixelBuffer client;               // the client area's pixels
extern intptr_t clientSurface;         // window surface handle handed out; 0 none
extern std::atomic<bool> needsPresent;  // the screen is behind the pixels or the bars
extern std::atomic<bool> presentWhole;  // more than client rows changed: the next presentation redoes everything
extern int dirtyTop;                    // client rows drawn since the last presentation: dirtyTop..dirtyBottom-1
extern int dirtyBottom;                 //   (under pixelLock; empty while dirtyTop >= dirtyBottom)
extern std::atomic<int> quitSignalled;  // a quit signal came: the window thread closes the window
extern std::atomic<bool> keysNoted;     // the drawing noted keys for the window thread's next pass
extern std::atomic<bool> midiNews;      // devices came or went since the last pass began
extern std::atomic<bool> idleWaiting;   // the window thread waits for work and wants waking
extern std::atomic<int> wakeFd;            // eventfd that wakes it; -1 until the first window
extern uint64_t lastActive;                // window thread: last message delivered or SDL event taken

struct BarLayout {
  int length;       // along the bar
  int arrow;        // each arrow button
  int thumbStart;   // 0 with thumbLength 0: no thumb
  int thumbLength;
};

enum Region { kOutside, kClient, kHBar, kVBar, kCorner };

// Colours of the bars: a light track, grey buttons with dark arrows.
constexpr SDL_Color kTrackColour = {0xE8, 0xE8, 0xE8, 0xFF};
constexpr SDL_Color kButtonColour = {0xC8, 0xC8, 0xC8, 0xFF};
constexpr SDL_Color kArrowColour = {0x50, 0x50, 0x50, 0xFF};
constexpr SDL_Color kThumbColour = {0xA0, 0xA0, 0xA0, 0xFF};
constexpr SDL_Color kPressedColour = {0x78, 0x78, 0x78, 0xFF};

// desktop_window.cpp: state, messages and the window thread's own work.
uint64_t now();
void wakeWindowThread();
void markPresent();
bool isWindowLocked(OsWindow window);
void forgetWindowLocked();
bool onWindowThreadLocked();
bool onWindowThread();
intptr_t packPoint(int x, int y);
void clientSizeLocked(int* w, int* h);
void invalidateLocked();
void queueSent(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);
intptr_t deliver(const Message& m);
void sendMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam);
void clientChanged(OsWindow window);
// Carries out what other threads asked of the window (title, z-order, move).
void applyDeferred();

// desktop_surfaces.cpp: the client buffer and off-screen surfaces, presenting.
void markRowsLocked(long long top, long long bottom);
void present();
bool resizeClient(int w, int h);
void freeClient();
Offscreen* offscreenOf(OsSurface surface);
bool isClientSurfaceLocked(OsSurface surface);

// desktop_scrollbars.cpp: layout, hit-testing and drawing of the bars.
BarLayout layoutBar(int length, int maximum, int position);
int barPartAt(const BarLayout& l, int along);
int thumbPositionAt(const BarLayout& l, int maximum, int along, int grab);
Region regionAt(int x, int y, int* along);
void fillBox(int x, int y, int w, int h, SDL_Color c);
void drawBar(int bar, const Bar& b, int cw, int ch);

// desktop_events.cpp: SDL events into messages, and the timers.
bool pollEvents(OsWindow window);
bool timerMessage(OsWindow window, Message* m);

// desktop_idle.cpp: the idle wait and the frame wait of the window thread's pauses.
bool idleWait();
bool frameWait(int ms);

}  // namespace desktop_window
