// Inner parts of the desktop MIDI backend that its own tests reach: the splitter
// that turns a raw MIDI byte stream into whole messages, the device name shown
// for a port, and which MIDI system (ALSA or JACK) the backend uses.
#pragma once

#include <cstdint>

// The program deals in a raw byte stream, as a Windows driver does (short words
// under running status, long buffers holding several messages or a part of
// one), while ALSA sequencer events and JACK MIDI events each carry one whole
// message. The splitter takes the stream one byte at a time.
struct MidiSplitter {
  uint8_t message[3];  // message being put together: status, then data bytes
  uint8_t have;        // bytes of it so far
  uint8_t need;        // its full length; 0 = no message under way
  uint8_t running;     // running status (last channel status); 0 = none
  uint8_t inSysex;     // 1 between F0 and the end of the system-exclusive message
};

enum MidiPiece {
  MIDI_PIECE_NONE,         // the byte went into the message under way
  MIDI_PIECE_SHORT,        // a whole message of 1..3 bytes is in the output
  MIDI_PIECE_SYSEX_START,  // F0: a system-exclusive message begins
  MIDI_PIECE_SYSEX_BYTE,   // one data byte of the system-exclusive message
  MIDI_PIECE_SYSEX_END,    // F7: the system-exclusive message ends with this byte
  MIDI_PIECE_SYSEX_CUT,    // a status byte ended it early; feed that byte again
  MIDI_PIECE_STRAY         // a data byte without a status, or an F7 without F0
};

// Length of the message that a status byte opens (1..3); 0 for F0 and data bytes.
int midiMessageLength(uint8_t status);
void midiSplitterReset(MidiSplitter* splitter);
// Takes one byte. For MIDI_PIECE_SHORT the message is in message[0..*length-1].
// Real-time bytes (F8..FF) come out at once as one-byte messages, also in the
// middle of another message, and change nothing else.
MidiPiece midiSplit(MidiSplitter* splitter, uint8_t byte, uint8_t message[3], int* length);

// Device name for a listed port name ("client:port", which ALSA follows with
// the changing address " 20:0"; alsa nonzero drops that), cut to
// 31 bytes at a character boundary.
void desktopMidiDeviceName(const char* portName, int alsa, char name[32]);

enum DesktopMidiSystem { DESKTOP_MIDI_NONE, DESKTOP_MIDI_ALSA, DESKTOP_MIDI_JACK };

// The MIDI system in use, chosen anew (when no device is open) by the rule of
// desktop_midi.cpp.
DesktopMidiSystem desktopMidiSystem(void);
// Lets go of the backend's own connections to the MIDI system (the device
// lists, our JACK or ALSA client) when no handle is
// open; the next call chooses and connects anew. 0, or -1 while
// handles are open. Runs by itself at exit.
int desktopMidiRelease(void);
