// The byte-stream splitter of the desktop MIDI backend (see desktop_midi.h):
// the program's raw MIDI byte stream in, whole messages out.
#include <cstring>

#include "platform/desktop/desktop_midi.h"

int midiMessageLength(uint8_t status) {
  if (status < 0x80 || status == 0xF0) return 0;
  if (status < 0xC0) return 3;  // note off/on, key pressure, control change
  if (status < 0xE0) return 2;  // program change, channel pressure
  if (status < 0xF0) return 3;  // pitch bend
  if (status == 0xF1 || status == 0xF3) return 2;
  if (status == 0xF2) return 3;
  return 1;  // F4..F7 and the real-time bytes
}

void midiSplitterReset(MidiSplitter* splitter) { *splitter = MidiSplitter{}; }

MidiPiece midiSplit(MidiSplitter* s, uint8_t byte, uint8_t message[3], int* length) {
  if (byte >= 0xF8) {
    message[0] = byte;
    *length = 1;
    return MIDI_PIECE_SHORT;
  }
  if (s->inSysex) {
    if (byte < 0x80) return MIDI_PIECE_SYSEX_BYTE;
    s->inSysex = 0;
    return byte == 0xF7 ? MIDI_PIECE_SYSEX_END : MIDI_PIECE_SYSEX_CUT;
  }
  if (byte >= 0x80) {
    // A new status abandons a message that had not got all its data bytes.
    s->have = 0;
    s->need = 0;
    if (byte == 0xF0) {
      s->running = 0;
      s->inSysex = 1;
      return MIDI_PIECE_SYSEX_START;
    }
    // System common messages cancel running status; channel messages set it.
    s->running = byte < 0xF0 ? byte : 0;
    if (byte == 0xF7) return MIDI_PIECE_STRAY;
    const int n = midiMessageLength(byte);
    if (n == 1) {
      message[0] = byte;
      *length = 1;
      return MIDI_PIECE_SHORT;
    }
    s->message[0] = byte;
    s->have = 1;
    s->need = static_cast<uint8_t>(n);
    return MIDI_PIECE_NONE;
  }
  if (s->need == 0) {
    if (!s->running) return MIDI_PIECE_STRAY;
    s->message[0] = s->running;
    s->have = 1;
    s->need = static_cast<uint8_t>(midiMessageLength(s->running));
  }
  s->message[s->have++] = byte;
  if (s->have < s->need) return MIDI_PIECE_NONE;
  std::memcpy(message, s->message, s->have);
  *length = s->have;
  s->have = 0;
  s->need = 0;
  return MIDI_PIECE_SHORT;
}
