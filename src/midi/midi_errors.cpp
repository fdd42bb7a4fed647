// Result-code reasons of the port diagnostics.
#include "midi/midi_errors.h"

#include "support/log.h"
#include "midi/os_midi.h"

void logMidiReason(int code, const int* named, int namedCount) {
  bool listed = false;
  for (int i = 0; i < namedCount; i++) listed = listed || named[i] == code;
  const char* reason = nullptr;
  if (listed) {
    switch (code) {
      case OS_MIDI_BADDEVICEID: reason = " Bad Device ID.\n"; break;
      case OS_MIDI_ALLOCATED: reason = " Device Already Allocated.\n"; break;
      case OS_MIDI_INVALHANDLE: reason = " Handle Invalid.\n"; break;
      case OS_MIDI_NODRIVER: reason = " No Driver.\n"; break;
      case OS_MIDI_NOMEM: reason = " Unable to allocate locked memory.\n"; break;
      case OS_MIDI_INVALFLAG: reason = " dwFlag is Invalid.\n"; break;
      case OS_MIDI_INVALPARAM: reason = " Address Invalid.\n"; break;
      case OS_MIDI_UNPREPARED: reason = " Buffer unprepared.\n"; break;
      default: break;
    }
  }
  if (reason != nullptr) {
    log("%s", reason);
  } else {
    log(" (%d)\n", code);
  }
}

void logCapsError(bool input, int code) {
  static const int named[] = {OS_MIDI_BADDEVICEID, OS_MIDI_INVALPARAM, OS_MIDI_NODRIVER, OS_MIDI_NOMEM};
  log(input ? "MIDI Mapper In Device Listing Error :" : "MIDI Mapper Out Device Listing Error :");
  logMidiReason(code, named, 4);
}
