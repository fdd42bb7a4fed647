// Platform MIDI and serial services, shaped after the Windows multimedia MIDI
// calls the port code relies on: enumeration, open and close by index (the
// MIDI mapper included), short words, long messages through a header that the
// device owns until it is done, per-input notifications to one callback, and
// serial ports opened by device name. Results are 0 or a system result code.
#pragma once

#include <cstdint>

#include "midi/ports.h"

// Result codes that the diagnostics name (values of the Windows API).
enum {
  OS_MIDI_OK = 0,
  OS_MIDI_BADDEVICEID = 2,
  OS_MIDI_ALLOCATED = 4,
  OS_MIDI_INVALHANDLE = 5,
  OS_MIDI_NODRIVER = 6,
  OS_MIDI_NOMEM = 7,
  OS_MIDI_INVALFLAG = 10,
  OS_MIDI_INVALPARAM = 11,
  OS_MIDI_UNPREPARED = 64,
  OS_MIDI_STILLPLAYING = 65,
  OS_MIDI_NOTREADY = 67
};

// Input notifications (values of the Windows API).
enum {
  OS_MIM_OPEN = 0x3C1,
  OS_MIM_CLOSE = 0x3C2,
  OS_MIM_DATA = 0x3C3,
  OS_MIM_LONGDATA = 0x3C4,
  OS_MIM_ERROR = 0x3C5,
  OS_MIM_LONGERROR = 0x3C6
};

// Header flags as the device reports them.
enum { OS_MHDR_DONE = 1, OS_MHDR_PREPARED = 2, OS_MHDR_INQUEUE = 4 };

// Manufacturer identifiers with a meaning.
enum { OS_MM_ROLAND = 24, OS_MM_YAMAHA = 37, OS_MM_KORG = 55 };

enum { kMidiMapper = -1 };  // device index of the MIDI mapper (outputs only)

struct MidiDeviceCaps {
  char name[32];           // device name, at most 31 bytes, zero-terminated
  uint16_t manufacturer;   // manufacturer identifier (wMid)
  uint32_t driverVersion;  // major in the high byte, minor in the low byte
};

// The callback receives, for each notification of an open input: its handle,
// the notification, the instance value given at open, and two parameters
// (short data: the message, first byte lowest, and the milliseconds since the
// input started; long data and long error: the header's address).
typedef void (*MidiInCallback)(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1,
                               uintptr_t param2);

// A number that changes whenever the MIDI system's devices may have come or
// gone (a device plugged or unplugged, the MIDI system gone or back). The
// window thread compares it on every pass; a platform that cannot tell keeps
// it at 0, and the program then looks again about once a second while a
// configured port is closed.
uint32_t osMidiDeviceGeneration(void);

// The next open (osMidiInOpen or osMidiOutOpen on this thread) is for the
// logical port with this number (IN1 or OUT1: 1). A backend whose own ports
// carry names (the desktop's "In 1", "Out 1") names the port after it, so the
// name stays the same whichever ports failed or opened first. 0: no number.
void osMidiNameNextPort(int number);

// Whether an open handle lost the device it was opened on, although a device
// of the same name may be listed again (its program ended and started again,
// or the connection to it was cut, between two looks). The program then
// closes the port and opens it anew. A platform that cannot tell says false.
bool osMidiInLost(MidiHandle handle);
bool osMidiOutLost(MidiHandle handle);

// Whether the failed-ports box goes on with a line naming the MIDI devices
// there are (the desktop program; the Windows box keeps its exact text).
bool osMidiNamesDevicesInReport(void);

int osMidiInCount(void);
int osMidiOutCount(void);
int osMidiInCaps(int index, MidiDeviceCaps* caps);
int osMidiOutCaps(int index, MidiDeviceCaps* caps);

int osMidiOutOpen(MidiHandle* handle, int index);  // index kMidiMapper: the MIDI mapper
int osMidiOutShort(MidiHandle handle, uint32_t word);
int osMidiOutPrepare(MidiHandle handle, MidiHeader* header);
int osMidiOutLong(MidiHandle handle, MidiHeader* header);  // returns at once; done bit set when finished
int osMidiOutUnprepare(MidiHandle handle, MidiHeader* header);  // OS_MIDI_STILLPLAYING while owned
int osMidiOutClose(MidiHandle handle);

int osMidiInOpen(MidiHandle* handle, int index, MidiInCallback callback, uintptr_t instance);
int osMidiInPrepare(MidiHandle handle, MidiHeader* header);
int osMidiInAddBuffer(MidiHandle handle, MidiHeader* header);
int osMidiInStart(MidiHandle handle);
int osMidiInReset(MidiHandle handle);  // hands queued buffers back: done, no bytes
int osMidiInUnprepare(MidiHandle handle, MidiHeader* header);
int osMidiInClose(MidiHandle handle);

// Serial ports. deviceName is "COM1".."COM9" or "\\.\COM10".."\\.\COM99".
// Open: 0 and the channel, or the system error (2 not found, 123 bad name).
int osSerialOpen(const char* deviceName, SerialHandle* handle);
// 38400 baud, 8 data bits, no parity, one stop bit, DTR raised. Returns 0, or
// the system error with *failedStep 1 (reading the state) or 2 (setting it).
int osSerialConfigure(SerialHandle handle, int* failedStep);
// Writes all bytes; returns the count written, or -1. Never blocks much longer
// than a second: a port that takes nothing fails.
int osSerialWrite(SerialHandle handle, const uint8_t* bytes, int count);
// Writes as many of the bytes as the port takes at once, without waiting for
// room: the count written (fewer than count when its buffer is full), or -1
// on an error (a write that fails part way also gives -1).
int osSerialWriteNow(SerialHandle handle, const uint8_t* bytes, int count);
void osSerialClose(SerialHandle handle);
int osSerialLastError(void);
