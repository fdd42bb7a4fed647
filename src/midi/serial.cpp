// Serial MIDI outputs: opening, configuring, writing and closing COM ports.
#include "midi/serial.h"

#include <cassert>
#include <cstdio>

#include "support/exit.h"
#include "support/log.h"
#include "support/os_system.h"
#include "midi/os_midi.h"
#include "midi/out_lock.h"
#include "midi/ports.h"

enum { kErrorFileNotFound = 2, kErrorInvalidHandle = 6, kErrorInvalidName = 123 };

static bool serialCloserRegistered = false;  // closeAllSerialPorts is in the exit list

void resetSerialState(void) { serialCloserRegistered = false; }

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
  int written = osSerialWrite(port.serialHandle, bytes, count);
  if (written != count) {
    log(".%d ", osSerialLastError());
    return -1;
  }
  return 0;
}

void closeSerialPort(int k) {
  assert(k >= 0 && k < kPortCount);
  OutPort& port = outPorts[k];
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
