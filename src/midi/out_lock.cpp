// Per-output locks in a fixed table.
#include "midi/out_lock.h"

#include <cassert>
#include <mutex>

#include "midi/ports.h"

static std::mutex outPortLocks[kPortCount];

void lockOutPort(int output) {
  assert(output >= 0 && output < kPortCount);
  outPortLocks[output].lock();
}

void unlockOutPort(int output) {
  assert(output >= 0 && output < kPortCount);
  outPortLocks[output].unlock();
}
