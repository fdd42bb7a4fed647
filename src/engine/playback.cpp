// Program playback (a stored program sent one complete message at a time,
// with its notes and damper changes shown) and the routing of short and long
// messages from an input to the outputs. Nothing here allocates.
#include "engine/playback.h"

#include <cassert>

#include "support/log.h"
#include "state/program_tables.h"
#include "state/tables.h"
#include "engine/engine.h"
#include "midi/ports.h"
#include "midi/senders.h"

namespace {

// Room of the collection buffer: a whole program, so nothing collected is
// ever dropped or written past the end.
enum { kCollectSize = kProgramRowSize };

bool validInput(int input) { return input >= 0 && input < kPortCount; }

int outputCount(void) {
  int n = outPortCount;
  assert(n >= 0 && n <= kPortCount);
  return n < 0 ? 0 : n > kPortCount ? kPortCount : n;
}

// The status with its channel replaced by the input's channel assignment.
int rechannel(int input, int status) {
  if (status < 0x80 || status > 0xEF) return status;
  return (status & 0xF0) | (inPorts[input].channel & 0x0F);
}

// What the collection buffer holds once byte j has been added.
enum Collected { kIncomplete, kRealTime, kTwoBytes, kControl, kNote, kThreeBytes, kExclusive };

Collected collected(const uint8_t* buffer, int j) {
  int b0 = buffer[0];
  if (j == 1 && b0 >= 0xF8 && b0 <= 0xFE) return kRealTime;
  if (j == 2 && ((b0 >= 0xC0 && b0 <= 0xDF) || b0 == 0xF3)) return kTwoBytes;
  if (j == 3 && b0 >= 0xB0 && b0 <= 0xBF) return kControl;
  if (j == 3 && b0 >= 0x80 && b0 <= 0x9F) return kNote;
  if (j == 3 && ((b0 >= 0xA0 && b0 <= 0xAF) || (b0 >= 0xE0 && b0 <= 0xEF) || b0 == 0xF2)) return kThreeBytes;
  if (j >= 3 && b0 == 0xF0 && buffer[j - 1] == 0xF7) return kExclusive;
  return kIncomplete;
}

// Sends one complete message of a program, in its own channel, and shows
// its notes and damper changes as live input does (no column is assigned).
void sendCollected(int input, Collected kind, const uint8_t* buffer, int j, uint32_t time) {
  int b0 = buffer[0];
  switch (kind) {
    case kRealTime:
      routeShort(input, b0, 0, 0, time, -1);
      break;
    case kTwoBytes:
      routeShort(input, b0, buffer[1], 0, time, -1);
      break;
    case kControl:
      routeShort(input, b0, buffer[1], buffer[2], time, -1);
      followController(input, b0 & 0x0F, buffer[1], buffer[2]);
      break;
    case kNote:
      routeShort(input, b0, buffer[1], buffer[2], time, -1);
      drawNoteMessage(input, b0, buffer[1], buffer[2]);
      break;
    case kThreeBytes:
      routeShort(input, b0, buffer[1], buffer[2], time, -1);
      break;
    case kExclusive:
      routeLong(input, 0xF0, buffer + 1, j - 1, time);
      break;
    case kIncomplete:
      break;
  }
}

// Keeps noteSentBy: what the outputs have sounding from an input.
void trackSentNote(int input, int status, int data1, int data2) {
  const int kind = status & 0xF0;
  uint32_t* sounding = noteSentBy[input][status & 0x0F];
  if (kind == 0xB0 && (data1 == 120 || data1 == 123)) {
    for (int w = 0; w < 4; w++) sounding[w] = 0;  // all sound / all notes off
    return;
  }
  if ((kind != 0x80 && kind != 0x90) || data1 < 0 || data1 > 127) return;
  const uint32_t bit = 1u << (data1 & 31);
  if (kind == 0x90 && data2 > 0) {
    sounding[data1 >> 5] |= bit;
  } else {
    sounding[data1 >> 5] &= ~bit;
  }
}

}  // namespace

int routeShort(int input, int status, int data1, int data2, uint32_t time, int flags) {
  (void)time;
  assert(validInput(input));
  if (!validInput(input)) return 0;
  if ((flags & kRouteKeepChannel) == 0) status = rechannel(input, status);
  int kind = status & 0xF0;
  if (kind != 0x80 && kind != 0x90 && kind != 0xB0 && kind != 0xC0 && kind != 0xE0) return 0;
  int n = outputCount();
  for (int k = 0; k < n; k++) {
    if (outPorts[k].noOutput == 0) sendShort(k, status, data1, data2);
  }
  trackSentNote(input, status, data1, data2);
  return 0;
}

int routeLong(int input, int status, const uint8_t* data, int count, uint32_t time) {
  (void)time;
  assert(validInput(input));
  assert(count >= 0 && count < kMidiBufferSize && (data != nullptr || count == 0));
  if (!validInput(input) || count < 0 || count >= kMidiBufferSize || (data == nullptr && count > 0)) return 0;
  status = rechannel(input, status & 0xFF);
  int n = outputCount();
  for (int k = 0; k < n; k++) {
    if (outPorts[k].noOutput == 0) sendLong(k, status, data, count);
  }
  if (!logQuiet) {
    for (int i = 0; i < count; i++) log("%02X ", static_cast<unsigned>(data[i]));
  }
  return 0;
}

int playProgram(int input, int program, uint32_t time) {
  assert(engineLockHeldHere());
  assert(validInput(input) && program > 0 && program < kProgramCount);
  if (!validInput(input) || program <= 0 || program >= kProgramCount) return 0;
  log(" => Pgm %d (%02X)  ", program, static_cast<unsigned>(program));
  int len = programLength[input][program];
  if (len > kProgramRowSize) len = kProgramRowSize;
  const int32_t* entries = programData[input][program];
  uint8_t buffer[kCollectSize];
  int j = 0;
  for (int k = 0; k < len; k++) {
    int32_t v = entries[k];
    if (v >= 0 && v <= 255 && j < kCollectSize) buffer[j++] = static_cast<uint8_t>(v);
    if (j == 0) continue;
    Collected kind = collected(buffer, j);
    if (kind == kIncomplete) continue;
    log("< ");
    sendCollected(input, kind, buffer, j, time);
    log("> ");
    j = 0;
  }
  log("\n");
  return 0;
}
