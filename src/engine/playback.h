// Program playback and routing: stored programs sent as the messages they
// hold, and the fan-out of a message from an input to every output.
#pragma once

#include <cstdint>

// Routing flag bits.
enum { kRouteKeepChannel = 1 };  // bit 0: the message keeps its own channel

// Plays program 1..511 of input 0..15 within the call. The caller holds the
// engine lock (playback follows the damper and draws keys).
int playProgram(int input, int program, uint32_t time);

// Sends a short message of input 0..15 to OUT1..OUTn (except noOutput ones):
// without kRouteKeepChannel a channel message takes the input's channel; only
// notes, control and program changes and pitch bend pass. Returns 0.
int routeShort(int input, int status, int data1, int data2, uint32_t time, int flags);

// Sends a long message (status, then count bytes at data; count at most 8191)
// of input 0..15 to OUT1..OUTn (except noOutput ones). data is not kept past
// the call. Returns 0.
int routeLong(int input, int status, const uint8_t* data, int count, uint32_t time);
