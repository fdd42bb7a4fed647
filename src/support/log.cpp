// Diagnostics sink: silent by default, standard error in a logging build.
#include "support/log.h"

#include <cstdarg>
#include <cstdio>

volatile unsigned char logQuiet = 0;

int log(const char* format, ...) {
#if defined(NOTALUMEN_LOG_STDERR)
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
#else
  (void)format;
#endif
  return 0;
}
