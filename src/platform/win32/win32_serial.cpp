// Windows serial services: a COM port opened without sharing, set to 38400
// baud 8N1 with DTR raised, and written synchronously with a bounded wait.
#include <windows.h>

#include <cassert>

#include "midi/os_midi.h"

namespace {

// Sends run on the window thread and the MIDI callback thread: each keeps the
// error of its own last failed write.
thread_local DWORD lastWriteError = 0;

// How long one write may wait for the port to take its bytes. Flow control is
// left as the port had it, so a port whose other end never signals ready
// would otherwise hold the sending thread for good.
constexpr DWORD kWriteTimeoutMs = 1000;

HANDLE portOf(SerialHandle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

int osSerialOpen(const char* deviceName, SerialHandle* handle) {
  assert(deviceName != nullptr && handle != nullptr);
  // COM10 and above are only found by their device-namespace name ("\\.\COM10");
  // the caller builds that form.
  HANDLE h = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error ? static_cast<int>(error) : ERROR_GEN_FAILURE;
  }
  *handle = reinterpret_cast<SerialHandle>(h);
  return 0;
}

int osSerialConfigure(SerialHandle handle, int* failedStep) {
  assert(failedStep != nullptr);
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(portOf(handle), &dcb)) {
    *failedStep = 1;
    return static_cast<int>(GetLastError());
  }
  // Only the framing changes; flow control and the rest stay as the port had them.
  dcb.BaudRate = 38400;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(portOf(handle), &dcb)) {
    *failedStep = 2;
    return static_cast<int>(GetLastError());
  }
  *failedStep = 0;

  // Reads return at once (nothing is ever read). Writes are bounded by a
  // constant: a write that runs out of time succeeds with fewer bytes written.
  COMMTIMEOUTS timeouts;
  ZeroMemory(&timeouts, sizeof timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  SetCommTimeouts(portOf(handle), &timeouts);
  // Raise DTR: a serial MIDI interface may wait for it before taking data.
  EscapeCommFunction(portOf(handle), SETDTR);
  return 0;
}

int osSerialWrite(SerialHandle handle, const uint8_t* bytes, int count) {
  assert(count >= 0 && (bytes != nullptr || count == 0));
  DWORD written = 0;
  if (!WriteFile(portOf(handle), bytes, static_cast<DWORD>(count), &written, nullptr)) {
    lastWriteError = GetLastError();
    return -1;
  }
  // A timed-out write reports success with a short count and leaves the last
  // error as it was: name the time-out ourselves.
  if (written < static_cast<DWORD>(count)) lastWriteError = ERROR_COUNTER_TIMEOUT;
  return static_cast<int>(written);
}

// Windows has no non-blocking write on a port opened for synchronous use;
// what it tells is how much the driver's output queue holds and how large it
// is. A write that fits the free room is taken by the driver at once; when it
// does not fit (or the queue's size is unknown and it is not empty), nothing
// is written and the bytes wait for the writer thread.
int osSerialWriteNow(SerialHandle handle, const uint8_t* bytes, int count) {
  assert(count >= 0 && (bytes != nullptr || count == 0));
  if (count == 0) return 0;
  DWORD errors = 0;
  COMSTAT status;
  ZeroMemory(&status, sizeof status);
  if (!ClearCommError(portOf(handle), &errors, &status)) {
    lastWriteError = GetLastError();
    return -1;
  }
  COMMPROP properties;
  ZeroMemory(&properties, sizeof properties);
  const DWORD size = GetCommProperties(portOf(handle), &properties) ? properties.dwCurrentTxQueue : 0;
  const bool fits = size != 0 ? status.cbOutQue + static_cast<DWORD>(count) <= size : status.cbOutQue == 0;
  if (!fits) return 0;
  const int written = osSerialWrite(handle, bytes, count);
  if (written != count) return -1;  // a write that stopped part way failed
  return written;
}

void osSerialClose(SerialHandle handle) { CloseHandle(portOf(handle)); }

int osSerialLastError(void) { return static_cast<int>(lastWriteError); }
