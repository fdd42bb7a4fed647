// Diagnostics: the one printf-style sink of the program. The shipped program
// discards everything; a build with NOTALUMEN_LOG_STDERR sends it to stderr.
#pragma once

#if defined(__GNUC__)
#define NOTALUMEN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define NOTALUMEN_PRINTF(f, a)
#endif

// Formats and emits one diagnostic; always returns 0. Safe from any thread.
int log(const char* format, ...) NOTALUMEN_PRINTF(1, 2);

// Quiet switch: once start-up sets it, the engine, the long-message router and
// the input callback skip their diagnostic calls altogether.
extern volatile unsigned char logQuiet;
