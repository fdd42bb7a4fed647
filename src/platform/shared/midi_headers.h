// Header flags as a Windows MIDI driver sets them on prepare and unprepare, for
// the backends that keep the flags themselves (desktop and sim).
#pragma once

#include "midi/os_midi.h"

// Prepares a header: false when it was prepared already (nothing changes).
inline bool markHeaderPrepared(MidiHeader* header) {
  if (header->flags & OS_MHDR_PREPARED) return false;
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_DONE | OS_MHDR_INQUEUE)) | OS_MHDR_PREPARED;
  return true;
}

// Unprepares a header: OS_MIDI_STILLPLAYING while the device has it queued,
// OS_MIDI_OK otherwise (also when it was not prepared).
inline int markHeaderUnprepared(MidiHeader* header) {
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_OK;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  header->flags &= ~static_cast<uint32_t>(OS_MHDR_PREPARED);
  return OS_MIDI_OK;
}
