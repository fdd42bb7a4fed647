// Desktop window backend: the window thread's pauses, their idle wait and
// their wait for the next frame (see "Idle" at the top of desktop_window.cpp).
#include <SDL.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

// Work for the window thread other than a picture to present. SDL events
// already read from the X connection are taken into SDL's queue first.
bool otherWork() {
  {
    std::lock_guard<std::mutex> hold(shared.lock);
    if (shared.window == 0 || shared.sent.count > 0 || shared.posted.count > 0 || shared.titlePending ||
        shared.movePending || shared.topmostPending >= 0 || (shared.needsPaint && !shared.paintDelivered)) {
      return true;
    }
  }
  SDL_PumpEvents();
  return SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE;
}

// Waits up to ms for input on the X connection or a wake-up from another
// thread (idleWaiting set).
void waitForWork(int ms) {
  pollfd fds[2] = {{screen.displayFd, POLLIN, 0}, {wakeFd.load(), POLLIN, 0}};
  ::poll(fds, 2, ms);
  uint64_t count;
  if (fds[1].revents != 0 && ::read(fds[1].fd, &count, sizeof count) < 0) {
    // Another wait took the count already.
  }
}

// A picture to present, or keys noted for the pass to paint and present.
bool pictureWork() { return needsPresent.load() || keysNoted.load(); }

bool canWait() {
  if (screen.sdl == nullptr || screen.displayFd < 0 || wakeFd.load() < 0) return false;
  return !screen.sizing && screen.track.bar < 0;  // their timers run on the passes
}

// The idle wait (window thread), as the comment at the top of the file
// describes it: false when the window thread has work or was busy lately (the
// pause is then an ordinary one), true after waiting.
bool idleWait() {
  if (!canWait() || now() - lastActive < kIdleSettle) return false;
  idleWaiting.store(true);
  const bool work = pictureWork() || midiNews.load() || otherWork();
  if (!work) waitForWork(kIdleLongest);
  idleWaiting.store(false);
  return !work;
}

// The wait for the next frame (window thread): when the only work is a
// picture to present and the last presentation is less than a frame old,
// waits until the frame has passed (longer than the pause asked, ms) or other
// work comes. False when the pause is an ordinary one (other work waits).
bool frameWait(int ms) {
  if (!canWait() || !pictureWork()) return false;
  const uint64_t due = screen.lastPresent + screen.framePeriod;
  const uint64_t t = now();
  if (due <= t + static_cast<uint64_t>(ms)) return false;
  idleWaiting.store(true);
  const bool work = otherWork();
  if (!work) waitForWork(static_cast<int>(due - t));
  idleWaiting.store(false);
  return !work;
}

}  // namespace desktop_window

using namespace desktop_window;

void desktopPause(int ms) {
  const bool loopPause = ms >= kLoopPauseShortest && ms <= kLoopPauseLongest && onWindowThread();
  bool waited = loopPause && idleWait();
  // Woken by a picture or keys within a frame of the last presentation, the
  // pause lasts until the frame has passed.
  if (loopPause && frameWait(waited ? 0 : ms)) waited = true;
  if (!waited) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  // The main loop's pass that follows paints the keys noted so far and looks
  // at the devices; a key noted after that pass's painting, or news after its
  // look, tells it anew.
  if (loopPause) {
    keysNoted.store(false);
    midiNews.store(false);
  }
}

void desktopMidiNews(void) {
  midiNews.store(true);
  wakeWindowThread();
}
