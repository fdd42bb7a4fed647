// Desktop MIDI outputs: the output services over the ports of alsa_ports.cpp
// (ALSA) or the queues of jack_ports.cpp (JACK). One lock per send: the
// caller's lock of its output (the core's output lock) covers the calls on a
// handle, which come one at a time; the slot's own lock is taken only to open
// and close.
#include <cassert>
#include <cstdio>
#include <mutex>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/alsa_ports.h"
#include "platform/desktop/desktop_midi_internal.h"
#include "platform/desktop/jack_ports.h"
#include "platform/shared/midi_headers.h"

using namespace desktop_midi;

namespace {

// The output behind a handle, locked in *hold; null (nothing locked) when the
// handle is not an open one.
OutSlot* lockOpenOutput(MidiHandle handle, std::unique_lock<std::mutex>* hold) {
  uint32_t generation = 0;
  OutSlot* o = outSlotOf(handle, &generation);
  if (!o) return nullptr;
  *hold = std::unique_lock<std::mutex>(o->lock);
  if (!o->open || o->generation != generation) {
    hold->unlock();
    return nullptr;
  }
  return o;
}

// The output behind a handle for a send; null when the handle is not an open
// one. No lock: sends and the close of one handle come one at a time from
// their caller.
OutSlot* openOutput(MidiHandle handle) {
  uint32_t generation = 0;
  OutSlot* o = outSlotOf(handle, &generation);
  if (!o || !o->open || o->generation != generation) return nullptr;
  return o;
}

// ---- Output sending (under the caller's lock of the output).

int sendMessage(OutSlot* o, const uint8_t* bytes, size_t count) {
  if (count == 0) return OS_MIDI_OK;
  // The mapper's handles share one port: one writer at a time.
  std::unique_lock<std::mutex> guard(mapperPort.lock, std::defer_lock);
  if (o->mapper) guard.lock();
  if (session.alsa.load(std::memory_order_relaxed)) return alsaOutSend(o->lane, bytes, count);
  if (session.jackGone.load()) return OS_MIDI_NODRIVER;
  return jackOutSend(o->lane, bytes, count);
}

// Sends a piece of the outgoing byte stream as the whole messages it holds.
// Running status is written out in full (JACK carries no running status);
// a message not complete at the end waits for the bytes that complete it; a
// system-exclusive message goes as it stands, in parts when it spans calls.
int sendBytes(OutSlot* o, const uint8_t* bytes, size_t count) {
  int result = OS_MIDI_OK;
  auto note = [&result](int r) {
    if (result == OS_MIDI_OK) result = r;
  };
  size_t start = 0;  // first system-exclusive byte of this piece not yet sent
  uint8_t m[3];
  int n = 0;
  for (size_t i = 0; i < count;) {
    const MidiPiece piece = midiSplit(&o->splitter, bytes[i], m, &n);
    switch (piece) {
      case MIDI_PIECE_SYSEX_START:
        start = i;
        break;
      case MIDI_PIECE_SYSEX_END:
        note(sendMessage(o, bytes + start, i + 1 - start));
        break;
      case MIDI_PIECE_SYSEX_CUT:
        note(sendMessage(o, bytes + start, i - start));
        continue;
      case MIDI_PIECE_SHORT:
        if (o->splitter.inSysex) {
          // A real-time byte inside the system-exclusive message goes on its own.
          note(sendMessage(o, bytes + start, i - start));
          start = i + 1;
        }
        note(sendMessage(o, m, static_cast<size_t>(n)));
        break;
      case MIDI_PIECE_STRAY:
        log("MIDI OUT: data byte %02X without status dropped.\n", bytes[i]);
        break;
      case MIDI_PIECE_SYSEX_BYTE:
      case MIDI_PIECE_NONE:
        break;
    }
    i++;
  }
  if (o->splitter.inSysex) note(sendMessage(o, bytes + start, count - start));
  return result;
}

}  // namespace

int osMidiOutOpen(MidiHandle* handle, int index) {
  if (!handle) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    ensureSession();
    if (index != kMidiMapper) {
      if (!outList.taken) takeList(false);
      if (index < 0 || index >= outList.count) return OS_MIDI_BADDEVICEID;
    }
    if (!sessionServes()) return OS_MIDI_NODRIVER;
    int k = 0;
    while (k < kOutSlots && outSlots[k].open) k++;
    if (k == kOutSlots) return OS_MIDI_NOMEM;
    OutSlot& o = outSlots[k];
    const bool jack = session.system == DESKTOP_MIDI_JACK;
    char portName[32];
    std::snprintf(portName, sizeof portName, "Out %d", takePortNumber(k + 1));
    if (index == kMidiMapper && mapperPort.users > 0) {
      // One port for all mapper handles: other programs connect to one name.
    } else {
      const int lane = index == kMidiMapper ? kMapperLane : k;
      const char* name = index == kMidiMapper ? kMapperPortName : portName;
      const char* device = index == kMidiMapper ? nullptr : outList.port[index];
      const int result = jack ? jackOutOpen(lane, name, device) : alsaOutOpen(lane, name, device);
      if (result != OS_MIDI_OK) return result;
    }
    if (index == kMidiMapper) mapperPort.users++;
    std::lock_guard<std::mutex> slotGuard(o.lock);
    o.generation = nextGeneration();
    o.open = 1;
    o.mapper = index == kMidiMapper;
    o.lane = static_cast<int8_t>(o.mapper ? kMapperLane : k);
    midiSplitterReset(&o.splitter);
    o.wordStatus = 0;
    openHandles++;
    *handle = makeHandle(kOutTag + k, o.generation);
    return OS_MIDI_OK;
  } catch (...) {
    return resultOfException();
  }
}

bool osMidiOutLost(MidiHandle handle) {
  std::unique_lock<std::mutex> slotGuard;
  OutSlot* o = lockOpenOutput(handle, &slotGuard);
  if (!o) return false;
  return session.alsa.load() ? alsaLaneLost(false, o->lane) : jackLaneLost(false, o->lane);
}

int osMidiOutShort(MidiHandle handle, uint32_t word) {
  OutSlot* o = openOutput(handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  uint8_t m[3] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16)};
  // A word that begins with a data byte continues under running status: the
  // status is the one the caller sent last on this handle, which is what its
  // senders count on (a short word's status, a long message's first byte).
  uint8_t status = m[0];
  if (status < 0x80) {
    status = o->wordStatus;
    m[2] = m[1];
    m[1] = m[0];
    m[0] = status;
  }
  const int n = midiMessageLength(status);
  if (n == 0) return OS_MIDI_INVALPARAM;  // no status known, or a system-exclusive start
  for (int i = 1; i < n; i++) {
    if (m[i] >= 0x80) return OS_MIDI_INVALPARAM;
  }
  o->wordStatus = status;
  try {
    // A whole message goes out as it is, and the stream is left as the splitter
    // would leave it: a real-time byte changes nothing (not even a message under
    // way); any other status ends what was under way and sets or cancels the
    // running status. Inside a system-exclusive message, and for a stray F7,
    // the splitter decides.
    MidiSplitter& split = o->splitter;
    if (status >= 0xF8) return sendMessage(o, m, 1);
    if (!split.inSysex && status != 0xF7) {
      split.have = 0;
      split.need = 0;
      split.running = status < 0xF0 ? status : 0;
      return sendMessage(o, m, static_cast<size_t>(n));
    }
    return sendBytes(o, m, static_cast<size_t>(n));
  } catch (...) {
    return resultOfException();
  }
}

int osMidiOutPrepare(MidiHandle handle, MidiHeader* header) {
  OutSlot* o = openOutput(handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  markHeaderPrepared(header);
  return OS_MIDI_OK;
}

int osMidiOutLong(MidiHandle handle, MidiHeader* header) {
  OutSlot* o = openOutput(handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  if (!header->data && header->bufferLength > 0) return OS_MIDI_INVALPARAM;
  header->flags &= ~static_cast<uint32_t>(OS_MHDR_DONE);
  int result;
  try {
    result = sendBytes(o, header->data, header->bufferLength);
  } catch (...) {
    result = resultOfException();
  }
  const uint8_t first = header->bufferLength > 0 ? header->data[0] : 0;
  // A lone timing clock or active sensing byte is an interjection the senders
  // do not count as a status; any other first status byte is one.
  if (first >= 0x80 && !(header->bufferLength == 1 && (first == 0xF8 || first == 0xFE))) o->wordStatus = first;
  // The bytes are with the MIDI system (the ALSA sequencer, the JACK port's queue)
  // once sendMessage returns: the header is done at once.
  header->flags |= OS_MHDR_DONE;
  return result;
}

int osMidiOutUnprepare(MidiHandle handle, MidiHeader* header) {
  OutSlot* o = openOutput(handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  return markHeaderUnprepared(header);
}

int osMidiOutClose(MidiHandle handle) {
  std::lock_guard<std::mutex> guard(tableLock);
  bool mapper = false;
  int lane = -1;
  {
    std::unique_lock<std::mutex> slotGuard;
    OutSlot* o = lockOpenOutput(handle, &slotGuard);
    if (!o) return OS_MIDI_INVALHANDLE;
    o->open = 0;
    openHandles--;
    mapper = o->mapper;
    lane = o->lane;
  }
  // No send can reach the connection now: the handle is closed, and the
  // mapper's port is only closed with its last handle.
  try {
    const bool last = !mapper || --mapperPort.users == 0;
    if (last && session.system == DESKTOP_MIDI_ALSA) {
      alsaOutClose(lane);
    } else if (last) {
      jackOutClose(lane, session.jackGone.load() || !session.jack);
    }
  } catch (...) {
    resultOfException();
  }
  return OS_MIDI_OK;
}
