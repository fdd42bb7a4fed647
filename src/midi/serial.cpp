// Serial MIDI outputs: opening, configuring, writing and closing COM ports,
// and the queue with its writer thread that keeps a slow port from holding up
// the sender.
//
// A send writes what the port takes at once and leaves the rest in the port's
// queue; the port's writer thread writes the queue out, waiting on the port as
// long as it must (a port that takes nothing fails its write after about a
// second). So a sender, which may hold the engine lock, never waits on a port.
// Bytes go out in the order they were sent: while anything is queued, a send
// only queues. The queue's lock is taken last of all locks and held only for
// the non-waiting write and the queue's bookkeeping.
#include "midi/serial.h"

#include <cassert>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "support/exit.h"
#include "support/log.h"
#include "support/os_system.h"
#include "midi/os_midi.h"
#include "midi/out_lock.h"
#include "midi/ports.h"

enum { kErrorFileNotFound = 2, kErrorInvalidHandle = 6, kErrorInvalidName = 123 };

static bool serialCloserRegistered = false;  // closeAllSerialPorts is in the exit list

namespace {

enum { kChunk = 512 };  // bytes the writer thread writes at a time

// The queue of one serial output and the thread that empties it.
struct SerialQueue {
  std::mutex lock;                  // guards the fields below
  std::condition_variable wake;     // bytes were queued, or the writer is to stop
  std::condition_variable emptied;  // the queue became empty
  uint8_t ring[kSerialQueueSize];   // queued bytes, from head on, wrapping
  int head = 0;                     // oldest queued byte
  int count = 0;                    // bytes queued, those being written included
  bool stop = false;                // the writer ends once the queue is empty
  bool lost = false;                // queued bytes were dropped after a failed write
  SerialHandle handle = 0;          // the port the writer writes to
  std::thread writer;               // runs while the port is open
};

// Never destroyed: a writer still running when the process ends must not meet
// a destroyed thread object.
SerialQueue* const queues = new SerialQueue[kPortCount];

void writerLoop(SerialQueue* q) {
  uint8_t chunk[kChunk];
  std::unique_lock<std::mutex> hold(q->lock);
  for (;;) {
    q->wake.wait(hold, [q] { return q->count > 0 || q->stop; });
    if (q->count == 0) return;  // stopped, and everything is out
    int n = q->count < kChunk ? q->count : kChunk;
    if (n > kSerialQueueSize - q->head) n = kSerialQueueSize - q->head;
    std::memcpy(chunk, q->ring + q->head, static_cast<size_t>(n));
    const SerialHandle handle = q->handle;
    hold.unlock();
    const int written = osSerialWrite(handle, chunk, n);
    const int error = written == n ? 0 : osSerialLastError();
    hold.lock();
    if (written == n) {
      q->head = (q->head + n) % kSerialQueueSize;
      q->count -= n;
    } else {
      // The receiver's state is unknown now; what waits behind the failed
      // bytes would only add to the confusion.
      log("Error Sending to COM: %d queued bytes dropped (%d).\n", q->count, error);
      q->head = 0;
      q->count = 0;
      q->lost = true;
    }
    if (q->count == 0) q->emptied.notify_all();
  }
}

void startWriter(int k, SerialHandle handle) {
  SerialQueue& q = queues[k];
  assert(!q.writer.joinable());
  q.head = 0;
  q.count = 0;
  q.stop = false;
  q.lost = false;
  q.handle = handle;
  q.writer = std::thread(writerLoop, &q);
}

// Lets the writer write out what is queued and end.
void stopWriter(int k) {
  SerialQueue& q = queues[k];
  if (!q.writer.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(q.lock);
    q.stop = true;
  }
  q.wake.notify_one();
  q.writer.join();
  q.handle = 0;
}

}  // namespace

void resetSerialState(void) {
  for (int k = 0; k < kPortCount; k++) stopWriter(k);
  serialCloserRegistered = false;
}

int serialDeviceName(char* name, int size, int number) {
  assert(size >= 10);
  if (number < 1 || number > 99) return -1;
  if (number <= 9) {
    std::snprintf(name, size, "COM%d", number);
  } else {
    std::snprintf(name, size, "\\\\.\\COM%d", number);
  }
  return 0;
}

int openSerialPort(int k, int number) {
  assert(k >= 0 && k < kPortCount);
  char name[16];
  if (serialDeviceName(name, sizeof name, number) != 0) {
    log("No serial port COM%d.\n", number);
    return -1;
  }
  OutPort& port = outPorts[k];
  SerialHandle handle = 0;
  int error = osSerialOpen(name, &handle);
  if (error != 0) {
    log("Cannot open %s (ErrCode=%d).\n", name, error);
    log("Please check COM%d exist in Ports in Device Manager (in Control Panel).\n", number);
    if (error == kErrorFileNotFound) log("(==ERROR_FILE_NOT_FOUND)");
    if (error == kErrorInvalidName) log("(==ERROR_INVALID_NAME)");
    log("\n");
    return -1;
  }
  port.serialHandle = handle;
  port.serialOpen = 255;

  int failedStep = 0;
  error = osSerialConfigure(handle, &failedStep);
  if (error != 0) {
    log(failedStep == 1 ? "Cannot GetCommState (%d)\n" : "Cannot SetCommState (%d)\n", error);
    osSerialClose(handle);
    port.serialHandle = 0;
    port.serialOpen = 0;
    return -1;
  }
  log("%s Initialized.\n", name);
  startWriter(k, handle);
  if (!serialCloserRegistered) {
    registerExitHandler(closeAllSerialPorts);
    serialCloserRegistered = true;
  }
  return 0;
}

int writeSerial(int k, const uint8_t* bytes, int count) {
  assert(k >= 0 && k < kPortCount);
  assert(count >= 0 && (bytes != nullptr || count == 0));
  const OutPort& port = outPorts[k];
  if (!port.serialOpen) {
    // Closed at exit while a sender was still on its way.
    log(".%d ", static_cast<int>(kErrorInvalidHandle));
    return -1;
  }
  SerialQueue& q = queues[k];
  std::lock_guard<std::mutex> hold(q.lock);
  if (q.count == 0) {
    const int n = osSerialWriteNow(port.serialHandle, bytes, count);
    if (n < 0) {
      log(".%d ", osSerialLastError());
      return -1;
    }
    bytes += n;
    count -= n;
    if (count == 0) return 0;
  }
  if (count > kSerialQueueSize - q.count) {
    log("COM queue full (%d bytes waiting) ", q.count);
    return -1;
  }
  for (int i = 0; i < count; i++) q.ring[(q.head + q.count + i) % kSerialQueueSize] = bytes[i];
  q.count += count;
  q.wake.notify_one();
  return 0;
}

bool serialBytesLost(int k) {
  assert(k >= 0 && k < kPortCount);
  SerialQueue& q = queues[k];
  std::lock_guard<std::mutex> hold(q.lock);
  const bool lost = q.lost;
  q.lost = false;
  return lost;
}

void drainSerial(int k) {
  assert(k >= 0 && k < kPortCount);
  SerialQueue& q = queues[k];
  std::unique_lock<std::mutex> hold(q.lock);
  q.emptied.wait(hold, [&q] { return q.count == 0; });
}

void closeSerialPort(int k) {
  assert(k >= 0 && k < kPortCount);
  OutPort& port = outPorts[k];
  stopWriter(k);
  if (port.serialOpen) {
    osSerialClose(port.serialHandle);
    port.serialHandle = 0;
    port.serialOpen = 0;
  }
}

void closeAllSerialPorts(void) {
  osSleep(500);
  for (int k = 0; k < kPortCount; k++) {
    OutPortLock lock(k);
    closeSerialPort(k);
  }
}
