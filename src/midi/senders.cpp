// Output senders: running status per kind of output, the long-message headers
// reused from one long or direct send to the next, and the per-output lock.
#include "midi/senders.h"

#include <atomic>
#include <cassert>
#include <chrono>
#include <cstring>

#include "support/log.h"
#include "support/os_system.h"
#include "midi/midi_errors.h"
#include "midi/os_midi.h"
#include "midi/out_lock.h"
#include "midi/ports.h"
#include "midi/serial.h"

namespace {

// How long a send waits for the device to finish the previous long message.
std::atomic<int> longWaitPolls(1000);  // polls, 1 ms apart
constexpr std::chrono::milliseconds kLongWaitTime(1000);

// Set while the calling thread's sends may not wait for a device (see allowSendWaits).
thread_local bool sendsMayNotWait = false;

// Message assembly for serial long messages (device outputs use their header's
// buffer); each output's row is used under that output's lock.
uint8_t serialLongBuffer[kPortCount][kMidiBufferSize];

bool isChannelStatus(int b) { return b >= 0x80 && b <= 0xEF; }

// Data bytes that MIDI defines after a status byte.
int dataByteCount(int status) {
  if (status >= 0xC0 && status <= 0xDF) return 1;
  if (status >= 0x80 && status <= 0xEF) return 2;
  if (status == 0xF1 || status == 0xF3) return 1;
  if (status == 0xF2) return 2;
  return 0;
}

bool isOpen(int output) { return output >= 0 && output < kPortCount && !outPorts[output].disabled; }

void logSerialBytes(const uint8_t* bytes, int count) {
  if (count == 1) log("%02X.\n", bytes[0]);
  if (count == 2) log("%02X %02X.\n", bytes[0], bytes[1]);
  if (count == 3) log("%02X %02X %02X.\n", bytes[0], bytes[1], bytes[2]);
}

int shortToDevice(OutPort& port, int b1, int b2, int b3) {
  uint32_t word;
  // The mapper takes a channel message without its status when the status is
  // the one sent before; system messages always carry theirs.
  if (isChannelStatus(b1) && b1 == port.lastStatus && port.openDeviceId == kMidiMapper) {
    word = static_cast<uint32_t>(b2 | b3 << 8);
  } else {
    word = static_cast<uint32_t>(b1 | b2 << 8 | b3 << 16);
    port.lastStatus = b1;
  }
  if (osMidiOutShort(port.handle, word) != 0) {
    log("Error Sending short msg to MIDI mapper ");
    port.lastStatus = -1;  // what the device took is unknown: next message carries its status
    return -1;
  }
  return 0;
}

int shortToSerial(int k, OutPort& port, int b1, int b2, int b3) {
  if (serialBytesLost(k)) port.lastStatus = -1;
  uint8_t bytes[3];
  int count = 0;
  if (b1 & 0x80) {
    const int data = dataByteCount(b1);
    if (!(isChannelStatus(b1) && b1 == port.lastStatus)) {
      bytes[count++] = static_cast<uint8_t>(b1);
      port.lastStatus = b1;
    }
    if (data >= 1) bytes[count++] = static_cast<uint8_t>(b2);
    if (data >= 2) bytes[count++] = static_cast<uint8_t>(b3);
  } else {
    // Running-status message: its data bytes, as many as the running status takes.
    bytes[count++] = static_cast<uint8_t>(b1);
    if (!isChannelStatus(port.lastStatus) || dataByteCount(port.lastStatus) == 2) {
      bytes[count++] = static_cast<uint8_t>(b2);
    }
  }
  if (writeSerial(k, bytes, count) != 0) {
    log("Error Sending short msg to COM(port=%d) ", k);
    logSerialBytes(bytes, count);
    port.lastStatus = -1;  // the receiver's running status is unknown now
    return -1;
  }
  return 0;
}

int shortMessage(int k, int b1, int b2, int b3) {
  OutPort& port = outPorts[k];
  if (port.openComPort == 0) return shortToDevice(port, b1 & 0xFF, b2 & 0xFF, b3 & 0xFF);
  return shortToSerial(k, port, b1 & 0xFF, b2 & 0xFF, b3 & 0xFF);
}

// Unprepares header h of output k, waiting (bounded) while the device still
// plays it. The last unprepare result (65: still playing).
int waitHeaderDone(int k, MidiHeader* h) {
  const MidiHandle handle = outPorts[k].handle;
  int result = osMidiOutUnprepare(handle, h);
  if (result != OS_MIDI_STILLPLAYING) return result;
  const auto start = std::chrono::steady_clock::now();
  const int limit = longWaitPolls.load();
  for (int polls = 0; polls < limit && result == OS_MIDI_STILLPLAYING; polls++) {
    if (std::chrono::steady_clock::now() - start >= kLongWaitTime) break;
    osSleep(1);
    result = osMidiOutUnprepare(handle, h);
  }
  return result;
}

void logUnprepareFailure(int result, int prepared) {
  log("Error Unpreparing long msg for MIDI mapper :");
  if (result == OS_MIDI_STILLPLAYING) {
    log(" Still Playing (%d).\n", prepared);
    return;
  }
  static const int named[] = {OS_MIDI_INVALHANDLE, OS_MIDI_INVALPARAM};
  logMidiReason(result, named, 2);
}

// A header of output k that is free for a new message; null when the device
// keeps the buffers (the new message is never written over one it owns).
// The header is free once the device is done with the message before: a
// sender that may wait waits for that (bounded). One that may not (under the
// engine lock) takes the spare header when the device is done with that one,
// so a device that plays long messages slowly holds up no input.
MidiHeader* freeHeader(int k) {
  OutPort& port = outPorts[k];
  if (port.prepared == 0) return &port.header;
  const int result = sendsMayNotWait ? osMidiOutUnprepare(port.handle, &port.header) : waitHeaderDone(k, &port.header);
  if (result == OS_MIDI_STILLPLAYING && sendsMayNotWait) {
    const int spare = port.sparePrepared == 0 ? 0 : osMidiOutUnprepare(port.handle, &port.spareHeader);
    if (spare != 0) logUnprepareFailure(spare, port.prepared + port.sparePrepared);
    if (spare == OS_MIDI_STILLPLAYING) return nullptr;
    port.sparePrepared = 0;
    return &port.spareHeader;
  }
  if (result != 0) logUnprepareFailure(result, port.prepared);
  if (result == OS_MIDI_STILLPLAYING) return nullptr;
  port.prepared = 0;
  return &port.header;
}

int prepareHeader(OutPort& port, MidiHeader* h) {
  const int result = osMidiOutPrepare(port.handle, h);
  if (result != 0) {
    static const int named[] = {OS_MIDI_INVALHANDLE, OS_MIDI_INVALPARAM, OS_MIDI_NOMEM};
    log("Error Preparing long msg to MIDI mapper :");
    logMidiReason(result, named, 3);
    port.lastStatus = -1;
    return -1;
  }
  if (h == &port.header) {
    port.prepared += 1;
  } else {
    port.sparePrepared += 1;
  }
  return 0;
}

void logLongMessage(int first, const uint8_t* data, int n) {
#if defined(NOTALUMEN_LOG_STDERR)
  log("DEBUG %d bytes: ", n + 1);
  log("  0x%02X,", first);
  for (int i = 0; i < n; i++) {
    log("0x%02X,", data[i]);
    if (i % 16 == 14) log(" \n  ");
  }
  log("\n");
#else
  // The dump is a call per byte into a sink that discards it: not worth it.
  (void)first;
  (void)data;
  (void)n;
#endif
}

int longMessage(int k, int first, const uint8_t* data, int n) {
  OutPort& port = outPorts[k];
  if (port.openComPort != 0) {
    uint8_t* bytes = serialLongBuffer[k];
    bytes[0] = static_cast<uint8_t>(first);
    if (n > 0) std::memcpy(bytes + 1, data, static_cast<size_t>(n));
    port.lastStatus = first;
    if (writeSerial(k, bytes, n + 1) != 0) {
      log("Error Sending long msg to COM ");
      port.lastStatus = -1;
      return -1;
    }
    return 0;
  }
  if (n <= 2) {
    return shortToDevice(port, first, n >= 1 ? data[0] : 0, n >= 2 ? data[1] : 0);
  }
  logLongMessage(first, data, n);
  MidiHeader* h = freeHeader(k);
  if (h == nullptr) return -1;
  assert(h->data != nullptr);  // allocated when the device output opened
  h->flags = 0;
  h->data[0] = static_cast<uint8_t>(first);
  std::memcpy(h->data + 1, data, static_cast<size_t>(n));
  h->bufferLength = static_cast<uint32_t>(n + 1);
  port.lastStatus = first;
  if (prepareHeader(port, h) != 0) return -1;
  log("Succeeded in preparing HDR. \n");
  const int result = osMidiOutLong(port.handle, h);
  if (result != 0) {
    log("Error sending long msg to MIDI mapper(%d) ", result);
    if (result == OS_MIDI_INVALPARAM) log(": Invalid param. ");
    port.lastStatus = -1;
    return -1;
  }
  return 0;
}

int directByte(int k, int value) {
  OutPort& port = outPorts[k];
  const uint8_t byte = static_cast<uint8_t>(value);
  if (port.openComPort != 0) {
    port.lastStatus = byte;
    if (writeSerial(k, &byte, 1) != 0) {
      log("Error Sending direct msg to COM ");
      port.lastStatus = -1;
      return -1;
    }
    return 0;
  }
  MidiHeader* h = freeHeader(k);
  if (h == nullptr) return -1;
  assert(h->data != nullptr);
  h->flags = 0;
  h->data[0] = byte;
  h->bufferLength = 1;
  // Timing clock and active sensing leave the running status alone.
  if (byte >= 0x80 && byte != 0xF8 && byte != 0xFE) port.lastStatus = byte;
  if (prepareHeader(port, h) != 0) return -1;
  if (osMidiOutLong(port.handle, h) != 0) {
    log("Error Sending long msg to MIDI mapper ");
    port.lastStatus = -1;
    return -1;
  }
  return 0;
}

}  // namespace

int setLongMessageWaitPolls(int polls) {
  assert(polls >= 0);
  return longWaitPolls.exchange(polls);
}

int waitLongMessageDone(int k) {
  OutPort& port = outPorts[k];
  if (port.sparePrepared != 0) {
    // Whichever the device plays last, both are let go before the buffers are.
    waitHeaderDone(k, &port.spareHeader);
    port.sparePrepared = 0;
  }
  return waitHeaderDone(k, &port.header);
}

bool allowSendWaits(bool allowed) {
  const bool was = !sendsMayNotWait;
  sendsMayNotWait = !allowed;
  return was;
}

int sendShort(int output, int b1, int b2, int b3) {
  if (output < 0 || output >= kPortCount) return 0;
  OutPortLock lock(output);
  if (!isOpen(output)) return 0;
  return shortMessage(output, b1, b2, b3);
}

int sendLong(int output, int first, const uint8_t* data, int n) {
  if (output < 0 || output >= kPortCount) return 0;
  assert(n >= 0 && n < kMidiBufferSize && (data != nullptr || n == 0));
  if (n < 0 || n >= kMidiBufferSize || (data == nullptr && n != 0)) {
    log("Long msg of %d bytes not sent.\n", n + 1);
    return -1;
  }
  OutPortLock lock(output);
  if (!isOpen(output)) return 0;
  return longMessage(output, first & 0xFF, data, n);
}

int sendDirect(int output, int value) {
  if (output < 0 || output >= kPortCount) return 0;
  OutPortLock lock(output);
  if (!isOpen(output)) return 0;
  return directByte(output, value);
}
