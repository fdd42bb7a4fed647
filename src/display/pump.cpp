// The window thread's message pump, with its re-entry guard: the settings
// reader and the port opening pump too, and they can be reached from inside a
// dispatch.
#include "display/pump.h"

#include "display/os_window.h"

static signed char pumpGuard = 0;  // window thread only

int pumpMessages(void) {
  if (pumpGuard > 0) {
    pumpGuard--;
    return 0;
  }
  pumpGuard = 4;
  while (osDispatchOneMessage()) {
  }
  pumpGuard = 0;
  return 0;
}

void resetPump(void) { pumpGuard = 0; }
