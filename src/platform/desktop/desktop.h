// Desktop backend entry points that the program's main hands its arguments to,
// and the backend's one clock.
#pragma once

#include <cstdint>

void desktopSetArguments(int argc, char** argv);

// --help, -h and --version, answered before anything else: prints the usage
// text or the version to standard output and returns true (the program then
// ends with 0); false when none of them is among the arguments.
bool desktopEarlyOptions(int argc, char** argv);

// Milliseconds on the monotonic clock (CLOCK_MONOTONIC): MIDI time stamps,
// serial and retry timings, and osMilliseconds.
int64_t desktopMilliseconds(void);
