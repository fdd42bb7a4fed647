// Inner parts of the sim window machine shared by its files: the machine's
// record under its one lock, the surfaces' pixels, and the helpers the window
// services, the surface services and the control surface call. Not for the
// core. How the machine works: sim_window.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "display/os_window.h"
#include "platform/shared/pixels.h"
#include "platform/shared/window_constants.h"

namespace sim_window {

constexpr int kMetricCount = 100;      // system metric indexes 0..99
constexpr int kMaxOffscreens = 64;     // live off-screen surfaces at most
constexpr long long kMaxPixels = 1LL << 25;  // a larger off-screen surface fails, as a bitmap would
constexpr uint32_t kNoPixel = 0xFFFFFFFF;    // what the pixel readers return outside every surface
constexpr int kTagDrop = 0xFC;         // low byte of a drop handle
constexpr unsigned kWmEnterSizeMove = 0x0231;
constexpr unsigned kScClose = 0xF060;
enum { kNormal = 0, kMinimized = 1, kMaximized = 2 };  // placement, also WM_SIZE's wParam

struct Pixels {
  int width = 0;               // in pixels
  int height = 0;
  std::vector<uint32_t> data;  // 0xRRGGBB, row after row
};

struct Offscreen {
  intptr_t handle = 0;  // 0: free slot
  Pixels pixels;        // black when made
};

struct Bar {
  bool shown = false;  // takes room from the client area
  int maximum = 0;     // range 0..maximum; 0 or less is empty
  int position = 0;    // thumb, within the range
};

struct Message {
  OsWindow window;   // addressee
  unsigned message;  // Windows value
  uintptr_t wParam;
  intptr_t lParam;
};

struct Drop {
  intptr_t handle;                 // what WM_DROPFILES carries in wParam
  std::vector<std::string> names;  // dropped names, narrow
};

// The record WM_GETMINMAXINFO points to, in the layout of MINMAXINFO.
struct MinMaxInfo {
  int reservedX, reservedY;
  int maxSizeX, maxSizeY;          // size of the maximised window
  int maxPositionX, maxPositionY;  // its position, relative to the work area
  int minTrackX, minTrackY;        // smallest outer size
  int maxTrackX, maxTrackY;        // largest outer size
};

struct Machine {
  std::mutex lock;
  OsRect workArea{0, 0, 1920, 1040};  // desktop without task bars
  int metrics[kMetricCount] = {0, 0, kBarSize, kBarSize, 23};  // GetSystemMetrics values (scroll bars, caption)
  int border = 4;               // sizing frame on each side
  int caption = 23;             // caption bar of the frame
  intptr_t serial = 0;          // makes every handle unique
  bool classRegistered = false;
  OsWindowProc procedure = nullptr;  // the class's window procedure
  OsWindow window = 0;          // 0: no window
  bool destroying = false;      // WM_DESTROY is being sent
  std::thread::id owner;        // thread that created the window
  std::string title;
  bool topmost = false;
  bool acceptsDrops = false;
  OsRect outer{};               // window rectangle on the screen
  int placement = kNormal;      // normal, minimised or maximised
  OsRect normalRect{};          // rectangle to restore from maximised or minimised
  int placementBeforeMinimize = kNormal;
  OsRect rectBeforeMinimize{};
  Pixels client;                // the client area's pixels
  intptr_t surface = 0;         // the window surface handed out, 0 none
  Bar bars[2];                  // OS_SB_HORZ, OS_SB_VERT
  bool needsPaint = false;      // part of the client area is invalid
  bool paintDelivered = false;  // WM_PAINT went out for the current invalid area
  int maxSizeX = 0;             // ptMaxSize after the last WM_GETMINMAXINFO
  int maxSizeY = 0;
  std::deque<Message> sent;     // messages caused on another thread
  std::deque<Message> posted;   // posted messages
  Offscreen offscreens[kMaxOffscreens];
  std::vector<Drop> drops;      // drops not yet released
  int consoleFlushes = 0;       // osFlushConsoleInput calls
  bool keyDown[256] = {};       // simPostKey's key state
};

extern Machine m;  // the one machine
extern std::atomic<bool> prefersCopies;  // osWindowPrefersCopies' answer, read without the lock
extern std::atomic<bool> defersKeys;     // osWindowDefersKeys' answer, read without the lock
extern std::atomic<int> keysNoted;       // osWindowKeysNoted calls since the reset

intptr_t newHandleLocked(int tag);
bool isWindowLocked(OsWindow window);
void resetLocked();
void resizePixels(Pixels& p, int w, int h);
PixelBuffer bufferOf(Pixels& p);
void fillPixels(Pixels& p, long long left, long long top, long long right, long long bottom, uint32_t colour);
void copyPixels(Pixels& d, long long dx, long long dy, long long w, long long h, Pixels& s, long long sx, long long sy);
Pixels* offscreenPixels(OsSurface surface);
Pixels* windowPixelsLocked(OsSurface surface);
const Pixels* anyPixelsLocked(intptr_t surface);
void invalidateLocked();
int clampInt(long long v, long long low, long long high);
MinMaxInfo defaultMinMaxLocked();
void clientSizeLocked(int* w, int* h);
bool refreshClientLocked(uintptr_t* wParam, intptr_t* lParam);
intptr_t sendMessage(OsWindow window, unsigned message, uintptr_t wParam, intptr_t lParam, bool carriesPointer);
MinMaxInfo queryMinMax(OsWindow window);
void sendSizeIfChanged(OsWindow window, bool changed, uintptr_t wParam, intptr_t lParam);
void placeWindow(OsWindow window, OsRect rect);
void changePlacement(OsWindow window, int target);

}  // namespace sim_window
