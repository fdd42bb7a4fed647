// Sim serial ports: the platform serial services over the scripted ports of
// sim_midi.cpp's machine, with their faults.
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "midi/os_midi.h"
#include "platform/shared/midi_headers.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_midi_internal.h"
#include "platform/sim/sim_state.h"

using namespace sim_midi;

// ---- Serial ports.

// Port number of "COMn" (n 1..9) or "\\.\COMn"; 0 when the name names no port.
static int serialNumber(const char* name) {
  bool prefixed = std::strncmp(name, "\\\\.\\", 4) == 0;
  const char* p = prefixed ? name + 4 : name;
  if ((p[0] | 0x20) != 'c' || (p[1] | 0x20) != 'o' || (p[2] | 0x20) != 'm') return 0;
  p += 3;
  int number = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++) number = number * 10 + (*p - '0');
  if (*p != '\0' || digits == 0) return 0;
  // Only COM1..COM9 are known without the device-namespace prefix.
  if (!prefixed && number > 9) return 0;
  return number;
}

int osSerialOpen(const char* deviceName, SerialHandle* handle) {
  assert(deviceName != nullptr && handle != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  note("serialOpen", deviceName);
  if (deviceName[0] == '\0') return kErrInvalidName;
  SimSerialPort* p = serialPort(serialNumber(deviceName));
  if (!p) return kErrFileNotFound;
  // No sharing: a port held by another program or already opened is refused.
  if (p->busy || p->handle != 0) return kErrAccessDenied;
  p->handle = newHandle();
  *handle = p->handle;
  return 0;
}

int osSerialConfigure(SerialHandle handle, int* failedStep) {
  assert(failedStep != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialByHandle(handle);
  note("serialConfigure", p ? comName(p->number) : "?");
  if (!p) {
    *failedStep = 1;
    return kErrInvalidHandle;
  }
  *failedStep = p->configureStep;
  return p->configureStep ? p->configureCode : 0;
}

// Both writes, machineLock held: the count written, or -1 (now: a write that
// fails part way is a failure). A stalled port takes nothing now; a write
// that may wait waits (real time, on a thread of the program's) for it to
// take bytes again, and gives up after a second as a real port would.
static int serialWrite(std::unique_lock<std::mutex>& lock, SerialHandle handle, const uint8_t* bytes, int count,
                       bool now) {
  assert(count >= 0 && (bytes != nullptr || count == 0));
  SimSerialPort* p = serialByHandle(handle);
  note("serialWrite", p ? comName(p->number) : "?");
  if (p && p->stalled) {
    if (now) return 0;
    if (!serialUnstalled.wait_for(lock, std::chrono::seconds(1), [&] {
          p = serialByHandle(handle);
          return p == nullptr || !p->stalled;
        })) {
      serialError = kErrCounterTimeout;
      return 0;
    }
  }
  if (!p) {
    serialError = kErrInvalidHandle;
    return -1;
  }
  if (takeFault(p->failWrites)) {
    serialError = kErrWriteFault;
    return -1;
  }
  int n = count;
  if (takeFault(p->partialWrites)) {
    // A write that timed out: part of the bytes went, the call succeeded.
    n = count / 2;
    serialError = kErrCounterTimeout;
  }
  p->bytes.insert(p->bytes.end(), bytes, bytes + n);
  return now && n < count ? -1 : n;
}

int osSerialWriteNow(SerialHandle handle, const uint8_t* bytes, int count) {
  std::unique_lock<std::mutex> lock(machineLock);
  return serialWrite(lock, handle, bytes, count, true);
}

int osSerialWrite(SerialHandle handle, const uint8_t* bytes, int count) {
  std::unique_lock<std::mutex> lock(machineLock);
  return serialWrite(lock, handle, bytes, count, false);
}

void osSerialClose(SerialHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialByHandle(handle);
  note("serialClose", p ? comName(p->number) : "?");
  if (p) p->handle = 0;
}

int osSerialLastError(void) { return serialError; }
