// Desktop MIDI inputs: the input services over ports of our JACK or ALSA
// client, and the delivery of what an input receives to the caller's callback
// (short messages, and system-exclusive messages into the queued headers),
// under the input's lock.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/alsa_ports.h"
#include "platform/desktop/desktop_midi_internal.h"
#include "platform/desktop/jack_ports.h"
#include "platform/shared/midi_headers.h"

using namespace desktop_midi;

namespace {

// The input behind a handle, locked in *hold; null (nothing locked) when the
// handle is not an open input or the input is being closed.
InSlot* lockOpenInput(MidiHandle handle, std::unique_lock<std::recursive_mutex>* hold) {
  uint32_t generation = 0;
  InSlot* s = inSlotOf(handle, &generation);
  if (!s) return nullptr;
  *hold = std::unique_lock<std::recursive_mutex>(s->lock);
  if (!s->open || s->closing || s->generation != generation) {
    hold->unlock();
    return nullptr;
  }
  return s;
}

// ---- Input delivery (the input's lock held).

MidiHandle inHandle(InSlot* s) { return makeHandle(kInTag + static_cast<int>(s - inSlots), s->generation); }

void notify(InSlot* s, unsigned message, uintptr_t param1, uintptr_t param2) {
  if (s->callback) s->callback(inHandle(s), message, s->instance, param1, param2);
}

MidiHeader* dequeue(InSlot* s) {
  if (s->queued == 0) return nullptr;
  MidiHeader* header = s->queue[0];
  s->queued--;
  std::memmove(s->queue, s->queue + 1, sizeof s->queue[0] * static_cast<size_t>(s->queued));
  return header;
}

void giveBack(InSlot* s, MidiHeader* header, unsigned message, uint32_t stamp) {
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_INQUEUE)) | OS_MHDR_DONE;
  notify(s, message, reinterpret_cast<uintptr_t>(header), stamp);
}

// The header being filled, if any, goes back with the message.
void giveBackCurrent(InSlot* s, unsigned message, uint32_t stamp) {
  MidiHeader* h = s->current;
  if (!h) return;
  s->current = nullptr;
  giveBack(s, h, message, stamp);
}

// One byte of a system-exclusive message into the header being filled. A full
// header goes back and the message goes on in the next one, as a Windows driver
// does; with no header left the rest of the message is lost.
void sysexByte(InSlot* s, uint8_t byte, uint32_t stamp) {
  MidiHeader* h = s->current;
  if (h && h->bytesRecorded >= h->bufferLength) {
    giveBackCurrent(s, OS_MIM_LONGDATA, stamp);
    if (!s->started) return;
    s->current = dequeue(s);
    h = s->current;
    if (!h) log("MIDI IN: system-exclusive message cut: no more buffers.\n");
  }
  if (h) h->data[h->bytesRecorded++] = byte;
}

// atMs: the monotonic clock in milliseconds as the message arrived (a JACK
// cycle's reading may come from just before the start).
void deliverBytes(InSlot* s, const unsigned char* bytes, size_t count, int64_t atMs) {
  const uint32_t stamp = static_cast<uint32_t>(atMs > s->startMs ? atMs - s->startMs : 0);
  uint8_t m[3];
  int n = 0;
  for (size_t i = 0; i < count && s->started;) {
    const MidiPiece piece = midiSplit(&s->splitter, bytes[i], m, &n);
    switch (piece) {
      case MIDI_PIECE_SHORT: {
        uintptr_t word = 0;
        for (int k = 0; k < n; k++) word |= static_cast<uintptr_t>(m[k]) << (8 * k);
        notify(s, OS_MIM_DATA, word, stamp);
        break;
      }
      case MIDI_PIECE_SYSEX_START:
        s->current = dequeue(s);
        if (!s->current) log("MIDI IN: system-exclusive message lost: no buffer queued.\n");
        sysexByte(s, 0xF0, stamp);
        break;
      case MIDI_PIECE_SYSEX_BYTE:
        sysexByte(s, bytes[i], stamp);
        break;
      case MIDI_PIECE_SYSEX_END:
        sysexByte(s, 0xF7, stamp);
        if (s->started) giveBackCurrent(s, OS_MIM_LONGDATA, stamp);
        break;
      case MIDI_PIECE_SYSEX_CUT:
        // A status byte inside the message: it was incomplete. The header
        // comes back as a long error; the status byte is read again.
        giveBackCurrent(s, OS_MIM_LONGERROR, stamp);
        continue;
      case MIDI_PIECE_STRAY:
        notify(s, OS_MIM_ERROR, bytes[i], stamp);
        break;
      case MIDI_PIECE_NONE:
        break;
    }
    i++;
  }
}


// Hands every header back, done and empty, and stops delivery. Headers that the
// callback queues again meanwhile stay queued.
void returnHeaders(InSlot* s) {
  s->started = 0;
  midiSplitterReset(&s->splitter);
  MidiHeader* back[kInQueue + 1];
  int n = 0;
  // A message that the reset cuts is incomplete: it comes back empty too.
  if (s->current) back[n++] = s->current;
  s->current = nullptr;
  while (s->queued) back[n++] = dequeue(s);
  const uint32_t stamp = static_cast<uint32_t>(desktopMilliseconds() - s->startMs);
  for (int i = 0; i < n; i++) {
    back[i]->bytesRecorded = 0;
    giveBack(s, back[i], OS_MIM_LONGDATA, stamp);
  }
}

}  // namespace

namespace desktop_midi {

void deliverIn(int lane, const uint8_t* bytes, size_t count, int64_t ms) {
  InSlot* s = &inSlots[lane];
  std::lock_guard<std::recursive_mutex> guard(s->lock);
  if (!s->open || s->closing || !s->started) return;
  deliveringOnMidiThread = 1;
  deliverBytes(s, bytes, count, ms);
  deliveringOnMidiThread = 0;
}

}  // namespace desktop_midi

int osMidiInOpen(MidiHandle* handle, int index, MidiInCallback callback, uintptr_t instance) {
  if (!handle) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  try {
    ensureSession();
    if (!inList.taken) takeList(true);
    if (index < 0 || index >= inList.count) return OS_MIDI_BADDEVICEID;
    if (!sessionServes()) return OS_MIDI_NODRIVER;
    int k = 0;
    while (k < kInSlots && inSlots[k].open) k++;
    if (k == kInSlots) return OS_MIDI_NOMEM;
    InSlot& s = inSlots[k];
    char portName[32];
    std::snprintf(portName, sizeof portName, "In %d", takePortNumber(k + 1));
    // Messages can arrive from the connection on; the slot ignores them until started.
    const int result = session.system == DESKTOP_MIDI_JACK ? jackInOpen(k, portName, inList.port[index])
                                                           : alsaInOpen(k, portName, inList.port[index]);
    if (result != OS_MIDI_OK) return result;
    std::lock_guard<std::recursive_mutex> slotGuard(s.lock);
    s.generation = nextGeneration();
    s.open = 1;
    s.closing = 0;
    s.started = 0;
    s.callback = callback;
    s.instance = instance;
    s.startMs = desktopMilliseconds();
    midiSplitterReset(&s.splitter);
    s.current = nullptr;
    s.queued = 0;
    openHandles++;
    *handle = makeHandle(kInTag + k, s.generation);
    notify(&s, OS_MIM_OPEN, 0, 0);
    return OS_MIDI_OK;
  } catch (...) {
    return resultOfException();
  }
}

bool osMidiInLost(MidiHandle handle) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return false;
  const int lane = static_cast<int>(s - inSlots);
  return session.alsa.load() ? alsaLaneLost(true, lane) : jackLaneLost(true, lane);
}

int osMidiInPrepare(MidiHandle handle, MidiHeader* header) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  markHeaderPrepared(header);
  return OS_MIDI_OK;
}

int osMidiInAddBuffer(MidiHandle handle, MidiHeader* header) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return OS_MIDI_INVALHANDLE;
  if (!header || !header->data || header->bufferLength == 0) return OS_MIDI_INVALPARAM;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  if (s->queued == kInQueue) return OS_MIDI_NOMEM;
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_DONE)) | OS_MHDR_INQUEUE;
  header->bytesRecorded = 0;
  s->queue[s->queued++] = header;
  return OS_MIDI_OK;
}

int osMidiInStart(MidiHandle handle) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return OS_MIDI_INVALHANDLE;
  if (!s->started) {
    s->started = 1;
    s->startMs = desktopMilliseconds();
    midiSplitterReset(&s->splitter);
  }
  return OS_MIDI_OK;
}

int osMidiInReset(MidiHandle handle) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return OS_MIDI_INVALHANDLE;
  returnHeaders(s);
  return OS_MIDI_OK;
}

int osMidiInUnprepare(MidiHandle handle, MidiHeader* header) {
  std::unique_lock<std::recursive_mutex> slotGuard;
  InSlot* s = lockOpenInput(handle, &slotGuard);
  if (!s) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  return markHeaderUnprepared(header);
}

int osMidiInClose(MidiHandle handle) {
  // Closing on JACK waits for the process callback to let go of the port;
  // from inside a notification on that very thread it would wait for itself.
  if (deliveringOnMidiThread) return OS_MIDI_INVALPARAM;
  std::lock_guard<std::mutex> guard(tableLock);
  InSlot* closed = nullptr;
  {
    std::unique_lock<std::recursive_mutex> slotGuard;
    InSlot* s = lockOpenInput(handle, &slotGuard);
    if (!s) return OS_MIDI_INVALHANDLE;
    // Headers still queued come back first: once closed, the backend never
    // writes into a caller's buffer again, whether it was reset or not.
    returnHeaders(s);
    s->closing = 1;
    closed = s;
  }
  const int lane = static_cast<int>(closed - inSlots);
  try {
    if (session.system == DESKTOP_MIDI_ALSA) {
      alsaInClose(lane);
    } else {
      jackInClose(lane, session.jackGone.load() || !session.jack);
    }
  } catch (...) {
    resultOfException();
  }
  std::lock_guard<std::recursive_mutex> slotGuard(closed->lock);
  notify(closed, OS_MIM_CLOSE, 0, 0);
  closed->open = 0;
  closed->closing = 0;
  openHandles--;
  closed->callback = nullptr;
  return OS_MIDI_OK;
}

