// Device lookups: configured port names matched against the names that the
// MIDI devices report, and the classification of a configured name.
#pragma once

// Index of the MIDI input (output) device that name designates, or -1. Four
// passes (complete, heading, partial, maker match), lowest index first in
// each; the device list is queried afresh at every call.
int findInDevice(const char* name);
int findOutDevice(const char* name);

// Serial port number given by a name that begins with COM (either case):
// the decimal number after those letters, or 0 when the name does not begin
// with them or carries no number in 1..99.
int comPortNumber(const char* name);

// Sets comPort and deviceId of output entry k from its name (not empty):
// serial port, MIDI mapper or device. 0, or -1 when no device has the name.
int resolveOutName(int k);

// Results of resolveInName.
enum { kInDevice = 0, kInVirtual = 1, kInFailed = -1 };
// Classifies input entry k: a virtual input (failed cleared, nothing to open),
// a device (deviceId set), or a failure (empty name, a serial port name, a
// name that no device has).
int resolveInName(int k);
