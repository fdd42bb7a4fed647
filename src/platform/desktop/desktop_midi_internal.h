// Inner parts of the desktop MIDI backend shared by its files: the handle slots,
// the session with the chosen MIDI system and its device lists, and the helpers
// the input and output services call. Not for the core.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "midi/os_midi.h"
#include "platform/desktop/alsa_ports.h"
#include "platform/desktop/desktop.h"
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

struct DeviceList {
  int taken;                               // 1 once the list has been taken
  int alsa;                                // the names are ALSA port names
  int count;                               // devices listed
  char port[kMaxDevices][kPortNameBytes];  // full port names ("client:port", on ALSA with " C:P" after it)
};

struct Session {
  DesktopMidiSystem system;             // MIDI system in use
  jack_client_t* jack;                  // our JACK client, holding all our ports; null off JACK
  std::atomic<int> jackGone;            // the JACK server shut down under that client
  std::atomic<int> jackLost;            // it went and we wait for a server to answer again
  std::atomic<uint32_t> generation;     // changes when ports come or go, or the server does
  std::atomic<int> alsa;                // the system is ALSA: our sequencer client holds the ports
  int64_t lastTry;                      // monotonic ms of the last attempt to reach a lost server
  int lostSaid;                         // the loss was told on standard error
  int noneSaid;                         // that no MIDI system answers was told
  char ownPrefix[80];                   // "<our JACK client's name>:", which the server may have suffixed
  int hooksSet;                         // exit hook and JACK message sinks installed
};

struct InSlot {
  std::recursive_mutex lock;    // guards the fields; held while notifications are made
  uint32_t generation;          // generation of the handle open on the slot
  uint8_t open;                 // a handle is open
  uint8_t closing;              // being closed: nothing more is delivered
  uint8_t started;              // between start and reset: messages are delivered
  MidiInCallback callback;      // the caller's notification callback
  uintptr_t instance;           // the caller's instance value
  int64_t startMs;              // monotonic milliseconds at the start
  MidiSplitter splitter;        // the incoming byte stream
  MidiHeader* current;          // header that a system-exclusive message is filling
  MidiHeader* queue[kInQueue];  // queued headers, oldest first
  int queued;                   // headers in queue
};

struct OutSlot {
  std::mutex lock;        // taken by open and close; a send runs under its caller's output lock
  uint32_t generation;    // generation of the handle open on the slot
  uint8_t open;           // a handle is open
  uint8_t mapper;         // the handle is on the MIDI mapper port
  int8_t lane;            // the lane of jack_ports or alsa_ports that carries the sends
  MidiSplitter splitter;  // the outgoing byte stream
  uint8_t wordStatus;     // status that a short word without status continues
};

struct MapperPort {
  std::mutex lock;  // one send at a time through the shared port
  int users;        // mapper handles open (under tableLock)
};

constexpr int kMapperLane = kOutSlots;  // lane of the mapper's port
static_assert(kOutSlots + 1 <= kJackOutLanes && kOutSlots + 1 <= kAlsaOutLanes, "a lane for every output and the mapper");
static_assert(static_cast<int>(kInSlots) <= static_cast<int>(kJackInLanes) &&
                  static_cast<int>(kInSlots) <= static_cast<int>(kAlsaInLanes),
              "a lane for every input");

extern std::mutex tableLock;  // open, close, lists and the session; never taken on a send
extern Session session;
extern DeviceList inList;
extern DeviceList outList;
extern InSlot inSlots[kInSlots];
extern OutSlot outSlots[kOutSlots];
extern MapperPort mapperPort;
extern uint32_t lastGeneration;
extern int openHandles;  // input and output handles open (under tableLock)
extern thread_local int deliveringOnMidiThread;  // inside a notification made on an input's reader thread
extern const char kClientName[];      // our JACK and ALSA client's name
extern const char kMapperPortName[];  // the mapper port's name

uint32_t nextGeneration();
MidiHandle makeHandle(int tag, uint32_t generation);
InSlot* inSlotOf(MidiHandle handle, uint32_t* generation);
OutSlot* outSlotOf(MidiHandle handle, uint32_t* generation);

// Result code of an exception that left the library.
int resultOfException();

// Brings the session up to date (under tableLock); whether it serves devices.
void ensureSession();
bool sessionServes();
// Takes the device list of one direction anew (under tableLock).
void takeList(bool input);
// Delivers an event of the input port on lane (= input slot) lane that
// arrived at monotonic millisecond ms, from the JACK process callback or the
// ALSA reader thread.
void deliverIn(int lane, const uint8_t* bytes, size_t count, int64_t ms);

// The number the next port opened on this thread is named after (set by
// osMidiNameNextPort), else fallback; either way the number is used up.
int takePortNumber(int fallback);

}  // namespace desktop_midi
