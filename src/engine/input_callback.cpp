// MIDI input callback: finds the input by its handle, keeps its running
// status, turns each short message into a trigger for the event engine, hands
// each received long message to the router and queues its buffer again.
#include "engine/input_callback.h"

#include <atomic>
#include <cassert>

#include "support/log.h"
#include "engine/engine.h"
#include "engine/playback.h"
#include "midi/os_midi.h"

namespace {

enum { kTimingClock = 0xF8 };

// Trigger number of a short message by its status (0: no status known yet).
int triggerOf(int status, int data1, int data2) {
  if (status < 0x80) return 0;
  switch (status & 0xF0) {
    case 0x80: return data1 + 128;
    case 0x90: return data2 == 0 ? data1 + 128 : data1;
    case 0xA0: return 385;
    case 0xB0: return data1 + 256;
    case 0xC0: return 386;
    case 0xD0: return 387;
    case 0xE0: return 384;
    default: return status + 148;  // 0xF0..0xFF: 388..403
  }
}

void shortMessage(int k, uint32_t message, uint32_t time) {
  InPort& port = inPorts[k];
  int b0 = message & 0xFF;
  int b1 = (message >> 8) & 0xFF;
  int b2 = (message >> 16) & 0xFF;
  int status, data1, data2;
  if (b0 & 0x80) {
    status = b0;
    // A real-time byte (F8..FF) may come between any two bytes of a message
    // and leaves the running status as it was (MIDI 1.0): the data bytes
    // after a clock still belong to the note before it.
    if (b0 < 0xF8) port.runningStatus = b0;
    data1 = b1;
    data2 = b2;
  } else {
    status = port.runningStatus & 0xFF;
    data1 = b0;
    data2 = b1;
  }
  if (status == kTimingClock) return;
  // Data bytes are seven bits wide: a device that sets bit 7 gets no other
  // trigger or key than the byte's low seven bits give.
  data1 &= 0x7F;
  data2 &= 0x7F;
  handleMidiEvent(k, triggerOf(status, data1, data2), status, data1, data2, time);
}

// A receive buffer came back (a long message, a long error, or the reset of
// closing): pass its bytes on for a message, then queue it again unless the
// input is closing, so every later long message is received too.
void bufferReturned(int k, MidiHeader* header, bool received, uint32_t time) {
  InPort& port = inPorts[k];
  // Only our own two headers are touched; anything else is not ours to read.
  if (header != &port.header && header != &port.spareHeader) return;
  if ((header->flags & OS_MHDR_DONE) == 0) return;
  uint32_t n = header->bytesRecorded;
  if (n > header->bufferLength) n = header->bufferLength;
  if (n > kMidiBufferSize) n = kMidiBufferSize;
  if (received && n >= 1 && header->data != nullptr) {
    routeLong(k, header->data[0], header->data + 1, static_cast<int>(n - 1), time);
  }
  header->flags &= ~static_cast<uint32_t>(OS_MHDR_DONE);
  if (inputClosing(k)) return;
  osMidiInAddBuffer(port.handle, header);  // a failure leaves one buffer fewer; nothing else to do
}

}  // namespace

void midiInCallback(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2) {
  (void)instance;
  const int k = findInputByHandle(handle);
  if (k < 0) return;
  const uint32_t time = static_cast<uint32_t>(param2);
  switch (message) {
    case OS_MIM_OPEN:
      inPorts[k].runningStatus = 0;
      break;
    case OS_MIM_CLOSE:
      break;
    case OS_MIM_DATA:
      shortMessage(k, static_cast<uint32_t>(param1), time);
      break;
    case OS_MIM_LONGDATA:
      bufferReturned(k, reinterpret_cast<MidiHeader*>(param1), true, time);
      break;
    case OS_MIM_LONGERROR:
      bufferReturned(k, reinterpret_cast<MidiHeader*>(param1), false, time);
      break;
    default:  // short errors and anything else: not passed on; their diagnostics stay off
      break;
  }
}
