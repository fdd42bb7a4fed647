// The 64-bit tick count that the threads library (winpthreads) asks Windows
// for, answered from the 32-bit GetTickCount that every Windows has: the
// library's import of GetTickCount64, a Vista addition, would keep the
// program from loading on Windows XP.
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

// The running tick: its low 32 bits are the last GetTickCount seen, the high
// bits count the wraps (every 49.7 days).
std::atomic<uint64_t> runningTick{0};

// Extends the 32-bit tick by the distance travelled since the last call, so
// it stays right across the wrap as long as two calls lie less than 49.7 days
// apart. A thread that read the tick just before another stored a later one
// sees a small step back (under a minute): it gets the stored value, and the
// count never runs backwards.
constexpr uint32_t kStepBack = 60000;

ULONGLONG WINAPI tickCount64(void) {
  uint64_t seen = runningTick.load();
  for (;;) {
    const uint32_t now = GetTickCount();
    const uint32_t step = now - static_cast<uint32_t>(seen);
    if (seen != 0 && step > UINT32_MAX - kStepBack) return seen;
    const uint64_t next = seen == 0 ? now : seen + step;
    if (runningTick.compare_exchange_weak(seen, next)) return next;
  }
}

}  // namespace

// The import slot that the library's calls go through: defined here, it
// takes the place of kernel32's, which the linker then never pulls in.
#if defined(__i386__)
#define NOTALUMEN_TICK_IMPORT "__imp__GetTickCount64@0"
#else
#define NOTALUMEN_TICK_IMPORT "__imp_GetTickCount64"
#endif
extern "C" ULONGLONG(WINAPI* tickCount64Import)(void) __asm__(NOTALUMEN_TICK_IMPORT);
__attribute__((used)) ULONGLONG(WINAPI* tickCount64Import)(void) = tickCount64;
