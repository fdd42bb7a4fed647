// Exit-handler list in the manner of the C library's, kept by the program so
// that the sim platform (and every test) can start it afresh.
#include "support/exit.h"

#include <cassert>

#include "support/os_system.h"

static ExitHandler exitHandlers[16];
static int exitHandlerCount = 0;

void registerExitHandler(ExitHandler handler) {
  assert(handler != nullptr);
  assert(exitHandlerCount < 16);
  if (exitHandlerCount < 16) exitHandlers[exitHandlerCount++] = handler;
}

void exitProgram(int code) {
  // A handler that ends the program itself must not see the others run twice.
  while (exitHandlerCount > 0) {
    ExitHandler handler = exitHandlers[--exitHandlerCount];
    handler();
  }
  osExit(code);
}

void resetExitHandlers(void) { exitHandlerCount = 0; }
