// Desktop window backend: the window thread's pauses and their idle wait (see
// "Idle" at the top of desktop_window.cpp).
#include <SDL.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/desktop/desktop_window.h"
#include "platform/desktop/desktop_window_internal.h"

namespace desktop_window {

// The idle wait (window thread), as the comment at the top of the file
// describes it: false when the window thread has work or was busy lately (the
// pause is then an ordinary one), true after waiting.
bool idleWait() {
  if (screen.sdl == nullptr || screen.displayFd < 0 || wakeFd.load() < 0) return false;
  if (screen.sizing || screen.track.bar >= 0) return false;  // their timers run on the passes
  if (now() - lastActive < kIdleSettle) return false;
  idleWaiting.store(true);
  bool work = needsPresent.load();
  if (!work) {
    std::lock_guard<std::mutex> hold(shared.lock);
    work = shared.window == 0 || shared.sent.count > 0 || shared.posted.count > 0 || shared.titlePending ||
           shared.movePending || shared.topmostPending >= 0 || (shared.needsPaint && !shared.paintDelivered);
  }
  if (!work) {
    // Whatever Xlib has read already goes into SDL's queue; after that only
    // new input on the connection can bring more.
    SDL_PumpEvents();
    work = SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE;
  }
  if (!work) {
    pollfd fds[2] = {{screen.displayFd, POLLIN, 0}, {wakeFd.load(), POLLIN, 0}};
    ::poll(fds, 2, kIdleLongest);
    uint64_t count;
    if (fds[1].revents != 0 && ::read(fds[1].fd, &count, sizeof count) < 0) {
      // Another wait took the count already.
    }
  }
  idleWaiting.store(false);
  return !work;
}

}  // namespace desktop_window

using namespace desktop_window;

void desktopPause(int ms) {
  if (ms >= kLoopPauseShortest && ms <= kLoopPauseLongest && onWindowThread() && idleWait()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
