// Output sending: short messages, long messages and single bytes to one output
// (a MIDI device, the MIDI mapper or a serial port), with running status.
#pragma once

#include <cstdint>

// Each returns 0 when sent or when there was nothing to send (output outside
// 0..15, or never opened), -1 when the platform call failed. Sends to one
// output are serialised: one completes before the next starts.

// b1 with bit 7 set is the status and b2, b3 the data bytes; with bit 7 clear
// the call is a running-status message with the data bytes b1, b2.
int sendShort(int output, int b1, int b2, int b3);
// The message first followed by the n bytes at data; n at most 8191.
int sendLong(int output, int first, const uint8_t* data, int n);
// The low byte of value, alone.
int sendDirect(int output, int value);

// Bound of the wait for a long message still playing: at most polls pauses of
// 1 ms (start value 1000) and never much more than a second of real time.
// Returns the bound it replaces.
int setLongMessageWaitPolls(int polls);

// For the closing code, with the output's lock held: waits (bounded, about a
// second) while the device still plays the long messages of output k, then
// unprepares its headers. Returns the last unprepare result (65: still playing).
int waitLongMessageDone(int k);

// Whether sends on the calling thread may wait for a device that still plays
// the previous long message. The engine forbids it while it holds its lock:
// such a send takes the output's spare header, or fails when the device
// still plays that one too. Returns the setting it replaces.
bool allowSendWaits(bool allowed);
