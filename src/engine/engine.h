// The event engine: what each incoming MIDI message or computer key does
// (program lookup, channel columns, damper tracking, key display), and the
// engine lock that keeps its tables whole between the two threads.
#pragma once

#include <cstdint>

// One short message from input 0..15 with its trigger number 0..1023; the time
// stamp is carried to the router. Takes the engine lock. Returns 0.
int handleMidiEvent(int input, int trigger, int status, int data1, int data2, uint32_t time);
// A computer key pressed / released (virtual-key code 0..255), as trigger
// 512 + vk / 768 + vk of IN1. Returns 0.
int keyDownEvent(int vk);
int keyUpEvent(int vk);

// Mouse play of the main loop, in the clicked column's channel 0..15: the note
// enters IN1's routing as it is (velocity 100 on, 50 off) and is drawn in that
// column; a release under the damper leaves the key Sustained and held. Each
// takes the engine lock. Return 0.
int playMouseNote(int channel, int note);
int releaseMouseNote(int channel, int note);

// The held-note lists (notes released while the damper is down). The caller
// holds the engine lock (the engine, playback and the mouse-note functions do).
// holdNote: the index when the note is listed already, else appends it (while
// fewer than 511 are listed) and returns the new count.
int holdNote(int channel, int note);
int heldNoteCount(int channel);
// -2 for i below 0, -1 for i not below the count, else the note at i; reading
// the last entry empties the list.
int takeHeldNote(int channel, int i);

// Engine steps shared with program playback; the caller holds the engine lock.
// The damper (controller 64) of a channel to value: 64 and above holds, below
// releases, redrawing the held keys Off.
void followDamper(int channel, int value);
// A control change of a channel, from input 0..15, as the display sees it:
// the damper (64), reset all controllers (121: the damper goes up), all sound
// off (120) and all notes off (123): every lit key of the channel Off, its
// held list empty.
void followController(int input, int channel, int controller, int value);
// Draws a note message (0x80..0x9F) of input 0..15 in the column of its
// channel: On for a note-on with velocity, else Off, or Sustained (and held)
// under the damper.
void drawNoteMessage(int input, int status, int note, int velocity);

// Input 0..15 is gone (its device went away): every output gets the note-off
// of each note the input left sounding there, its keys go Off and the dampers
// it held go up. Takes the engine lock.
void releaseInput(int input);

// The engine lock: a plain (not re-entrant) mutex. Order: engine lock, then
// the display lock, then an output's lock; never the other way round.
void lockEngine(void);
void unlockEngine(void);
bool engineLockHeldHere(void);  // for assertions: held by the calling thread

// Holds the engine lock for a scope (e.g. around code outside the engine that
// touches the column tables or the held-note lists while ports are open).
struct EngineLock {
  EngineLock() { lockEngine(); }
  ~EngineLock() { unlockEngine(); }
  EngineLock(const EngineLock&) = delete;
  EngineLock& operator=(const EngineLock&) = delete;
};
