// The event engine: trigger lookup, the damper, column assignment and key
// drawing for every short message of an input and every computer key, the
// held-note lists, and the mouse play of the main loop.
//
// Threads. The MIDI callback thread runs the engine for input messages, the
// window thread for computer keys and mouse play; both may run at once. One
// engine lock (a plain std::mutex, never re-entered) is held for the whole of
// each event: the trigger lookup, program playback or routing, the damper and
// held-note work, the column assignment with its relayout, and the drawing. So
// every event finds the column tables, channelShown, damperDown and the
// held-note lists whole and leaves them whole, and what one event sends and
// draws is not interleaved with another's. The locks taken under it (display,
// output, serial queue, the backends') and their one order are listed in
// docs/threads.md. Nothing that holds one of them calls back into the engine,
// and nothing here waits: the relayout's pause is taken after the lock is
// released, and the senders never wait on a port. Long messages of an input do
// not pass through here (routeLong directly). Nothing here allocates.
#include "engine/engine.h"

#include <atomic>
#include <cassert>
#include <mutex>
#include <thread>

#include "support/log.h"
#include "state/program_tables.h"
#include "display/drawing.h"
#include "display/geometry.h"
#include "display/window.h"
#include "engine/playback.h"
#include "midi/senders.h"
#include "state/tables.h"

namespace {

enum { kHeldLimit = 511 };  // a held-note list takes no more than this

std::mutex engineMutex;                      // the engine lock
std::atomic<std::thread::id> engineOwner;    // thread holding it; id() = none

bool validChannel(int c) { return c >= 0 && c < kChannelCount; }
bool validNote(int n) { return n >= 0 && n <= 127; }

// Takes a note out of a channel's held list, keeping the others in order: the
// note sounds again, so a later damper release must not draw it Off.
void unholdNote(int channel, int note) {
  int count = heldCount[channel];
  for (int i = 0; i < count; i++) {
    if (heldNotes[channel][i] != note) continue;
    for (int j = i; j + 1 < count; j++) heldNotes[channel][j] = heldNotes[channel][j + 1];
    heldNotes[channel][count - 1] = -1;
    heldCount[channel] = count - 1;
    return;
  }
}

// A relayout of this thread's event, whose pause waits until the engine lock
// is released.
thread_local bool pauseAfterEvent = false;

// A channel plays for the first time: give it a column as the column mode
// says. False when the note is not to be drawn.
bool takeChannelOn(int c) {
  if (channelShown[c] != 0) return true;
  if (allChMix != 0) return true;
  if (fixedColumns != 0) return false;
  {
    std::lock_guard<std::mutex> hold(displayLock);
    channelShown[c] = 255;
    if (maxcolumns < kChannelCount) {
      columnChannel[maxcolumns] = static_cast<int8_t>(c);
      channelColumn[c] = maxcolumns;
      maxcolumns++;
    }
  }
  if (!logQuiet) {
    log("Active:all INT=OFF. \n");
    if (channelColumn[c] >= 0) log("Ch=%d added to Column=%d. \n", c, channelColumn[c]);
  }
  relayoutKeyboard();
  pauseAfterEvent = true;
  if (!logQuiet) log("Active:all INT=Recovered. \n");
  return true;
}

}  // namespace

void lockEngine(void) {
  engineMutex.lock();
  engineOwner.store(std::this_thread::get_id());
  allowSendWaits(false);  // a device still playing a long message holds up no input
}

void unlockEngine(void) {
  assert(engineLockHeldHere());
  allowSendWaits(true);
  engineOwner.store(std::thread::id());
  engineMutex.unlock();
}

bool engineLockHeldHere(void) { return engineOwner.load() == std::this_thread::get_id(); }

int holdNote(int channel, int note) {
  assert(engineLockHeldHere());
  assert(validChannel(channel));
  if (!validChannel(channel)) return 0;
  int count = heldCount[channel];
  if (!validNote(note)) return count;
  for (int i = 0; i < count; i++) {
    if (heldNotes[channel][i] == note) return i;
  }
  if (count < kHeldLimit) {
    heldNotes[channel][count] = static_cast<int8_t>(note);
    heldCount[channel] = ++count;
  }
  return count;
}

int heldNoteCount(int channel) {
  assert(engineLockHeldHere());
  assert(validChannel(channel));
  return validChannel(channel) ? heldCount[channel] : 0;
}

int takeHeldNote(int channel, int i) {
  assert(engineLockHeldHere());
  assert(validChannel(channel));
  if (i < 0) return -2;
  if (!validChannel(channel)) return -1;
  int count = heldCount[channel];
  if (i >= count) return -1;
  int note = heldNotes[channel][i];
  if (i == count - 1) {
    for (int j = 0; j < count; j++) heldNotes[channel][j] = -1;
    heldCount[channel] = 0;
  }
  return note;
}

void followDamper(int channel, int value) {
  assert(engineLockHeldHere());
  assert(validChannel(channel));
  if (value >= 64) {
    damperDown[channel] = 255;
    return;
  }
  bool wasDown = damperDown[channel] != 0;
  damperDown[channel] = 0;
  if (!wasDown) return;
  for (int i = 0; i < heldNoteCount(channel) && i < kHeldNotesSize; i++) {
    int n = takeHeldNote(channel, i);
    if (validNote(n)) drawKey(channel, n, kLookOff);
  }
}

void followController(int input, int channel, int controller, int value) {
  assert(engineLockHeldHere());
  assert(validChannel(channel) && input >= 0 && input < 16);
  const uint16_t bit = static_cast<uint16_t>(1u << channel);
  switch (controller) {
    case 64:  // damper
      if (value >= 64) damperBy[input] |= bit;
      else damperBy[input] &= static_cast<uint16_t>(~bit);
      followDamper(channel, value);
      break;
    case 121:  // reset all controllers: the damper goes up with them
      damperBy[input] &= static_cast<uint16_t>(~bit);
      followDamper(channel, 0);
      break;
    case 120:  // all sound off
    case 123:  // all notes off: the panic buttons of other programs send these
      releaseChannelKeys(channel);
      for (int i = 0; i < heldCount[channel]; i++) heldNotes[channel][i] = -1;
      heldCount[channel] = 0;
      for (auto& lit : keyLitBy) {
        for (uint32_t& word : lit[channel]) word = 0;
      }
      break;
    default:
      break;
  }
}

void drawNoteMessage(int input, int status, int note, int velocity) {
  assert(engineLockHeldHere());
  assert(status >= 0x80 && status <= 0x9F && input >= 0 && input < 16);
  int c = status & 0x0F;
  if (!validNote(note)) return;  // no such key: nothing to hold or draw
  uint32_t& lit = keyLitBy[input][c][note >> 5];
  const uint32_t bit = 1u << (note & 31);
  if (status >= 0x90 && velocity > 0) {
    unholdNote(c, note);
    drawKey(c, note, kLookOn);
    lit |= bit;
  } else if (damperDown[c] != 0) {
    holdNote(c, note);
    drawKey(c, note, kLookSustained);
  } else {
    drawKey(c, note, kLookOff);
    lit &= ~bit;
  }
}

void releaseInput(int input) {
  assert(input >= 0 && input < 16);
  EngineLock hold;
  for (int c = 0; c < kChannelCount; c++) {
    for (int n = 0; n < 128; n++) {
      const uint32_t bit = 1u << (n & 31);
      if (noteSentBy[input][c][n >> 5] & bit) routeShort(input, 0x80 | c, n, 0, 0, kRouteKeepChannel);
      if (keyLitBy[input][c][n >> 5] & bit) {
        unholdNote(c, n);
        drawKey(c, n, kLookOff);
      }
    }
    for (int w = 0; w < 4; w++) keyLitBy[input][c][w] = 0;
    if (damperBy[input] & (1u << c)) followDamper(c, 0);
  }
  damperBy[input] = 0;
}

namespace {

// One event with the engine lock held.
void handleLocked(int input, int trigger, int status, int data1, int data2, uint32_t time) {
  if (!logQuiet) {
    log("IN%d: Trig %4d (%04X) called, cmd=%d (%02X) p1=%d (%02X) p2=%d (%02X) \n", input + 1, trigger,
        static_cast<unsigned>(trigger), status, static_cast<unsigned>(status), data1, static_cast<unsigned>(data1),
        data2, static_cast<unsigned>(data2));
  }
  int program = keyProgram[input][trigger];
  if (program != 0) {
    playProgram(input, program, time);
    return;
  }
  if (status >= 0xB0 && status <= 0xBF) {
    routeShort(input, status, data1, data2, time, 0);
    followController(input, status & 0x0F, data1, data2);
    return;
  }
  if (status < 0x80 || status > 0x9F) return;  // every other message is dropped
  routeShort(input, status, data1, data2, time, 0);
  if (!takeChannelOn(status & 0x0F)) return;
  drawNoteMessage(input, status, data1, data2);
}

}  // namespace

int handleMidiEvent(int input, int trigger, int status, int data1, int data2, uint32_t time) {
  assert(input >= 0 && input < 16);
  assert(trigger >= 0 && trigger < kTriggerCount);
  if (input < 0 || input >= 16 || trigger < 0 || trigger >= kTriggerCount) return 0;
  {
    EngineLock hold;
    handleLocked(input, trigger, status, data1, data2, time);
  }
  if (pauseAfterEvent) {
    pauseAfterEvent = false;
    relayoutPause();
  }
  return 0;
}

int keyDownEvent(int vk) {
  assert(vk >= 0 && vk <= 255);
  if (vk < 0 || vk > 255) return 0;
  return handleMidiEvent(0, 512 + vk, 0, 0, 127, 0);
}

int keyUpEvent(int vk) {
  assert(vk >= 0 && vk <= 255);
  if (vk < 0 || vk > 255) return 0;
  return handleMidiEvent(0, 768 + vk, 0, 0, 0, 0);
}

int playMouseNote(int channel, int note) {
  assert(validChannel(channel) && validNote(note));
  if (!validChannel(channel) || !validNote(note)) return 0;
  EngineLock hold;
  routeShort(0, 0x90 | channel, note, 100, 0, 0);
  unholdNote(channel, note);
  drawKey(channel, note, kLookOn);
  return 0;
}

int releaseMouseNote(int channel, int note) {
  assert(validChannel(channel) && validNote(note));
  if (!validChannel(channel) || !validNote(note)) return 0;
  EngineLock hold;
  routeShort(0, 0x80 | channel, note, 50, 0, 0);
  if (damperDown[channel] != 0) {
    holdNote(channel, note);
    drawKey(channel, note, kLookSustained);
  } else {
    drawKey(channel, note, kLookOff);
  }
  return 0;
}
