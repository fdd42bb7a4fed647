// The ports of the backend's one JACK client: every output port has a queue
// that the senders fill and the client's process callback empties, writing
// each cycle what the port buffer takes and keeping the rest for the next
// cycle; every input port is read in the same callback, before the outputs,
// and each event goes whole to the delivery function. A sender never waits,
// and nothing is dropped because a cycle's buffer was full.
#pragma once

#include <jack/jack.h>

#include <cstddef>
#include <cstdint>

enum {
  kJackOutLanes = 18,          // output ports at once: 17 device outputs and the mapper's port
  kJackInLanes = 16,           // input ports at once
  kJackOutQueueBytes = 262144,  // queue of each port (a power of two): 37,000 three-byte messages
  kJackOutWaitMs = 1000        // longest wait for a closing port's queue to go out
};

// Called on the process thread for each event an open input port receives;
// ms: the monotonic clock in milliseconds, read once for the cycle's events.
typedef void (*JackInDelivery)(int lane, const uint8_t* bytes, size_t count, int64_t ms);

// Called on the opening or closing thread after the client was deactivated for
// a moment to install or take away its process callback (notifications of that
// moment are lost); active: 0 when it could not be activated again.
typedef void (*JackRestarted)(int active);

// Takes the client whose ports carry the inputs and outputs. The client is
// active without a process callback, so the server does not wake it each
// period; the callback is installed while a port is open.
void jackPortsBind(jack_client_t* client, JackInDelivery deliver, JackRestarted restarted);
// Forgets the client and every port (before it is closed, or after its
// server went away).
void jackPortsUnbind(void);

// Registers port `name` on lane `lane` and connects it to the port `device`
// (full JACK name; null: the port stays free for other programs to connect).
// A system result code: OS_MIDI_BADDEVICEID when `device` is not there,
// OS_MIDI_ALLOCATED when it refuses the connection.
int jackOutOpen(int lane, const char* name, const char* device);
// Queues one whole message (or one part of a system-exclusive message). A full
// queue fails at once with OS_MIDI_NOTREADY, on every thread: no sender waits.
// A system result code.
int jackOutSend(int lane, const uint8_t* bytes, size_t count);
// Lets the queue go out (bounded wait), disconnects and unregisters the port.
// serverGone: the server went away; the port is only forgotten.
void jackOutClose(int lane, int serverGone);

// Registers input port `name` on lane `lane` and connects the port `device`
// (full JACK name) to it. Result codes as for jackOutOpen.
int jackInOpen(int lane, const char* name, const char* device);
// Disconnects and unregisters the port once the process callback has let go
// of it; serverGone: only forgotten.
void jackInClose(int lane, int serverGone);

// Told on JACK's notification thread that ports a and b were disconnected
// (c: our client): whether that cut one of our ports from the device it was
// connected to at its open. Such a lane is lost from then on, also when the
// device is gone (its program ended) and a port of its name is back.
bool jackPortsCut(jack_client_t* c, jack_port_id_t a, jack_port_id_t b);
bool jackLaneLost(bool input, int lane);
