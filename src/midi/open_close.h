// Opening the configured ports at start and closing every port at exit.
#pragma once

#include "midi/os_midi.h"

// What the opening sequence needs from the layers above, installed by
// resetGlobalState: the callback every input is opened with (the event
// engine's midiInCallback) and the window's message pump, run after a port
// that would not open so the window can paint. Null: none.
struct PortHooks {
  MidiInCallback inputCallback;  // handed to every input at open
  int (*pump)(void);             // the window thread's message pump
};
extern PortHooks portHooks;

// Failure counts of the opening sequence.
struct PortFailures {
  int outputs;  // outputs OUT1..OUTn that did not open (0..16)
  int inputs;   // inputs IN1..INm that did not open (0..16)
};

// Resolves and opens OUT1..OUTn, then IN1..INm (n, m: outPortCount,
// inPortCount), clearing the failed flag of each port that opened.
PortFailures openConfiguredPorts(void);

// Opens output k on a device (comPort 0; deviceId -1 = the MIDI mapper) or on
// serial port comPort (1..99). 0 or -1.
int openOutPort(int k, int deviceId, int comPort);
// Opens input k on device deviceId and queues its receive buffer. 0 or -1.
int openInPort(int k, int deviceId);

// Exit handler, registered by the first open: closes inputs m-1..0, then
// outputs n-1..0. Sends nothing to the outputs.
void closeAllPorts(void);
// Closes input k: no more notifications, its buffers released. Not while
// holding the engine lock (a notification under way is waited for).
void closeInPort(int k);
// Closes output k (under its lock). With disable, later sends to it do
// nothing until it opens again; without (the exit path), they fail.
void closeOutPort(int k, bool disable);

// Devices that come and go. True when the device that input / output k is
// open on is no longer among the MIDI system's devices (the name it was
// opened under is gone), or the MIDI system says its handle lost that device
// (a device of the same name may be back already).
bool inDeviceGone(int k);
bool outDeviceGone(int k);
// Input / output k is followed and not open: when a device now matches its
// name (the same four passes as at start), opens it. 0 when it opened, -1
// when not (no device yet, or the open failed; nothing is left open).
int reopenInPort(int k);
int reopenOutPort(int k);

// Start value: closeAllPorts not registered.
void resetOpenCloseState(void);
