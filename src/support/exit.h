// The program's exit path: handlers run in the reverse order of registration,
// then the platform ends the process with the exit code.
#pragma once

typedef void (*ExitHandler)(void);

// Adds a handler to the list; at most 16 (a precondition of our own code).
void registerExitHandler(ExitHandler handler);

// Runs every registered handler, newest first, and ends the process.
[[noreturn]] void exitProgram(int code);

// Empties the handler list (part of the start values).
void resetExitHandlers(void);
