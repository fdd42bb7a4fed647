// Per-output locks: one send (or the closing) of an output completes before
// another starts on the same output, whichever thread makes it.
#pragma once

void lockOutPort(int output);    // output 0..15; not re-entrant
void unlockOutPort(int output);

// Holds the lock of one output for a scope.
struct OutPortLock {
  explicit OutPortLock(int output) : held(output) { lockOutPort(held); }
  ~OutPortLock() { unlockOutPort(held); }
  OutPortLock(const OutPortLock&) = delete;
  OutPortLock& operator=(const OutPortLock&) = delete;
  int held;  // output whose lock is held
};
