// Inner parts of the desktop MIDI backend shared by its files: the handle slots,
// the session with the chosen MIDI system and its device lists, and the helpers
// the input and output services call. Not for the core.
#pragma once

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/os_midi.h"
#include "platform/desktop/desktop_midi.h"
#include "platform/desktop/jack_ports.h"

namespace desktop_midi {

enum {
  kMaxDevices = 64,      // devices listed per direction
  kPortNameBytes = 320,  // longest full port name kept (JACK allows 256 + 64)
  kInSlots = 16,         // input handles open at once
  kOutSlots = 17,        // output handles open at once (16 outputs and one more)
  kInQueue = 16,         // receive headers queued per input
  kInTag = 0x10,         // handle tags: low byte of a handle, slot added
  kOutTag = 0x40
};

struct ErrorRecord {
  std::atomic<int> failed;  // RtMidi reported an error since this was cleared
  std::atomic<int> type;    // RtMidiError::Type of the last one
};

struct DeviceList {
  int taken;                               // 1 once the list has been taken
  int alsa;                                // the names are ALSA port names
  int count;                               // devices listed
  char port[kMaxDevices][kPortNameBytes];  // full port names as RtMidi gives them
};

struct Session {
  DesktopMidiSystem system;             // MIDI system in use
  jack_client_t* jack;                  // our JACK client, holding all our ports; null off JACK
  std::atomic<int> jackGone;            // the JACK server shut down under that client
  std::atomic<int> jackLost;            // it went and we wait for a server to answer again
  std::atomic<uint32_t> generation;     // changes when ports come or go, or the server does
  std::atomic<int> alsa;                // the system is ALSA (its announce port is read at each look)
  int64_t lastTry;                      // monotonic ms of the last attempt to reach a lost server
  int lostSaid;                         // the loss was told on standard error
  int noneSaid;                         // that no MIDI system answers was told
  RtMidiIn* inLister;                   // ALSA: lists the ports we can read from
  RtMidiOut* outLister;                 // ALSA: lists the ports we can write to
  ErrorRecord listerErrors;             // errors of both listers
  char ownPrefix[80];                   // "<our JACK client's name>:", which the server may have suffixed
  int hooksSet;                         // exit hook and JACK message sinks installed
};

struct InSlot {
  std::recursive_mutex lock;    // guards the fields; held while notifications are made
  uint32_t generation;          // generation of the handle open on the slot
  uint8_t open;                 // a handle is open
  uint8_t closing;              // being closed: nothing more is delivered
  uint8_t started;              // between start and reset: messages are delivered
  RtMidiIn* midi;               // ALSA: connection to the device; null on JACK (a port of our client)
  MidiInCallback callback;      // the caller's notification callback
  uintptr_t instance;           // the caller's instance value
  int64_t startMs;              // monotonic milliseconds at the start
  MidiSplitter splitter;        // the incoming byte stream
  MidiHeader* current;          // header that a system-exclusive message is filling
  MidiHeader* queue[kInQueue];  // queued headers, oldest first
  int queued;                   // headers in queue
  ErrorRecord errors;           // errors RtMidi reported for this connection
};

struct OutSlot {
  std::mutex lock;        // taken by open and close; a send runs under its caller's output lock
  uint32_t generation;    // generation of the handle open on the slot
  uint8_t open;           // a handle is open
  uint8_t mapper;         // the handle is on the MIDI mapper port
  RtMidiOut* midi;        // ALSA: own connection to the device
  int8_t lane;            // JACK: the jack_ports lane that carries the sends; -1 on ALSA
  MidiSplitter splitter;  // the outgoing byte stream
  uint8_t wordStatus;     // status that a short word without status continues
  ErrorRecord errors;     // errors RtMidi reported for the own connection
};

struct MapperPort {
  std::mutex lock;     // one send at a time through the shared port
  RtMidiOut* midi;     // ALSA: connection that holds the mapper's port while users > 0
  int users;           // mapper handles open (under tableLock)
  ErrorRecord errors;  // errors RtMidi reported for the port
};

constexpr int kMapperLane = kOutSlots;  // jack_ports lane of the mapper's port
static_assert(kOutSlots + 1 <= kJackOutLanes, "a lane for every output and the mapper");
static_assert(static_cast<int>(kInSlots) <= static_cast<int>(kJackInLanes), "a lane for every input");

extern std::mutex tableLock;  // open, close, lists and the session; never taken on a send
extern Session session;
extern DeviceList inList;
extern DeviceList outList;
extern InSlot inSlots[kInSlots];
extern OutSlot outSlots[kOutSlots];
extern MapperPort mapperPort;
extern uint32_t lastGeneration;
extern int openHandles;  // input and output handles open (under tableLock)
extern thread_local int deliveringOnMidiThread;  // inside a notification made on RtMidi's thread
extern const char kClientName[];      // our JACK client's and ALSA clients' name
extern const char kMapperPortName[];  // the mapper port's name

int64_t nowMs();
uint32_t nextGeneration();
MidiHandle makeHandle(int tag, uint32_t generation);
InSlot* inSlotOf(MidiHandle handle, uint32_t* generation);
OutSlot* outSlotOf(MidiHandle handle, uint32_t* generation);

// Result code of an RtMidi failure (connecting: while joining another
// program's port) and of an exception that left RtMidi or the library.
int resultOf(int type, bool connecting);
int resultOfException();

// Brings the session up to date (under tableLock); whether it serves devices.
void ensureSession();
bool sessionServes();
// Takes the device list of one direction anew (under tableLock).
void takeList(bool input);
// Index of a listed port among the ports a new connection sees now; -1: gone.
int livePort(RtMidi* midi, const char* port);
// A new RtMidi connection of the session's system, reporting into errors.
template <class T>
T* newConnection(ErrorRecord* errors);
// ALSA outputs: a connection per open handle, gone when the handle closes.
void releaseOutput(RtMidiOut** midi);
// Input callback that RtMidi calls for every message of an open input.
void onMidiIn(double, std::vector<unsigned char>* message, void* data);
// The same for an event of the JACK input port on lane (= input slot) lane,
// arrived at monotonic millisecond ms.
void onJackIn(int lane, const uint8_t* bytes, size_t count, int64_t ms);

// The number the next port opened on this thread is named after (set by
// osMidiNameNextPort), else fallback; either way the number is used up.
int takePortNumber(int fallback);

}  // namespace desktop_midi
