// The ports of the backend's one ALSA sequencer client, the ALSA side of
// jack_ports.h: every input and output port of the program belongs to it, one
// reader thread delivers what the input ports receive and hears the
// sequencer's announce port (clients and ports that come and go), and the
// output ports are written directly as events. No sender waits: a full
// sequencer pool fails the send at once. Table lock held but where said.
#pragma once

#include <cstddef>
#include <cstdint>

enum {
  kAlsaOutLanes = 18,  // output ports at once: 17 device outputs and the mapper's port
  kAlsaInLanes = 16    // input ports at once
};

// Called on the reader thread for each event an open input port receives,
// as whole MIDI bytes (a system-exclusive message may come in parts).
typedef void (*AlsaInDelivery)(int lane, const uint8_t* bytes, size_t count);
// Called on the reader thread when a client or port started, exited or changed.
typedef void (*AlsaHeard)(void);

// Opens client `name` and its reader thread (nothing when it is open
// already). 0, or the error (an errno value) of a sequencer that does not open.
int alsaPortsOpen(const char* name, AlsaInDelivery deliver, AlsaHeard heard);
// Ends the reader thread and closes the client with its ports.
void alsaPortsClose(void);
bool alsaPortsActive(void);

// Lists the ports of other clients (input: those we can read from) as
// "client:port C:P", calling add for each.
void alsaPortsList(bool input, void (*add)(const char* port));

// Creates output port `name` on lane `lane` and connects it to `device` (a
// listed name; null: the port stays free for other programs to connect).
// A system result code: OS_MIDI_BADDEVICEID when `device` is not there,
// OS_MIDI_ALLOCATED when it refuses the connection.
int alsaOutOpen(int lane, const char* name, const char* device);
// Writes one whole message (or one part of a system-exclusive message) as
// events, without waiting; any thread, under the output's own lock.
int alsaOutSend(int lane, const uint8_t* bytes, size_t count);
void alsaOutClose(int lane);

// Creates input port `name` on lane `lane` and connects `device` to it.
int alsaInOpen(int lane, const char* name, const char* device);
void alsaInClose(int lane);

// Whether the device port that lane was connected to at its open has exited
// since, or that connection was cut (a port of the same name may be there
// again). Any thread.
bool alsaLaneLost(bool input, int lane);
