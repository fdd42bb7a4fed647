// The window thread's message pump.
#pragma once

// Dispatches every pending message of the thread to the window procedure.
// A call made while a pump is dispatching does not pump (it only counts down
// the re-entry guard). Returns 0.
int pumpMessages(void);

// Start value of the re-entry guard.
void resetPump(void);
