// Per-output locks in a fixed table.
//
// A send holds its output's lock for well under a microsecond, and a message
// routed to 16 outputs takes 16 of them: with a mutex (an atomic operation and
// a library call each way) the locking was a tenth of the Linux program's time
// in a flood to 16 outputs. A flag is taken with one atomic exchange and let
// go with a plain store.
// The lock is rarely wanted by two threads at once (an input's send and a
// mouse note, or a closer); the waiter then yields, and sleeps once the holder
// is plainly waiting for its device (a closer giving a long message its time).
#include "midi/out_lock.h"

#include <atomic>
#include <cassert>
#include <chrono>
#include <thread>

#include "midi/ports.h"

namespace {

constexpr int kYields = 100;  // tries that yield before each further try sleeps 1 ms

std::atomic<bool> outPortTaken[kPortCount];

}  // namespace

void lockOutPort(int output) {
  assert(output >= 0 && output < kPortCount);
  std::atomic<bool>& taken = outPortTaken[output];
  int tries = 0;
  while (taken.exchange(true, std::memory_order_acquire)) {
    while (taken.load(std::memory_order_relaxed)) {
      if (++tries < kYields) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // real time, not the program's clock
      }
    }
  }
}

void unlockOutPort(int output) {
  assert(output >= 0 && output < kPortCount);
  assert(outPortTaken[output].load(std::memory_order_relaxed));
  outPortTaken[output].store(false, std::memory_order_release);
}
