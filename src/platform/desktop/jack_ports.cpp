// The ports of the backend's one JACK client (see jack_ports.h).
//
// Why not RtMidi's JACK ports: each would be a client of its own, so the
// program's ports would not share one stable client name. And its output
// keeps a 16 KiB ring per output and, when the ring is full, spins until the output's process callback has emptied it. Our
// sends come from the input's notification, which on JACK runs inside another
// client's process callback: the spin holds up the whole graph cycle, the
// output never gets its turn, and the server throws the waiting client out
// (everything after the first ~2,300 messages of a flood was lost). RtMidi also
// drops whatever its process callback cannot fit into the cycle's port buffer.
// Here each port has a queue of its own; the process callback takes from it
// only what the buffer holds and leaves the rest for the next cycle. A send
// from the process callback itself (an input's delivery) finds the cycle's
// buffer at hand and, while nothing waits in the queue, writes into it
// directly.
#include "platform/desktop/jack_ports.h"

#include <jack/midiport.h>
#include <time.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <memory>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop.h"

namespace {

constexpr uint32_t kMask = kJackOutQueueBytes - 1;
// Each queued message: a 4-byte word, then its bytes. The word holds the
// length (low kCountBits; the queue is smaller than 1 << kCountBits) and the
// frame within the period the message goes out at (the bits above).
constexpr uint32_t kLengthBytes = 4;
constexpr uint32_t kCountBits = 18;
constexpr uint32_t kCountMask = (1u << kCountBits) - 1;
constexpr uint32_t kFrameMax = (1u << (32 - kCountBits)) - 1;
static_assert(kJackOutQueueBytes <= (1u << kCountBits), "a queued length must fit its bits");

// One output port. The queue has one writer (the sender, under the output's
// own lock) and one reader (the process callback).
struct Lane {
  std::atomic<jack_port_t*> port;  // registered port the process callback serves; null: none
  jack_port_t* registered;         // port as registered (table lock)
  std::unique_ptr<uint8_t[]> ring;  // kJackOutQueueBytes, allocated at the lane's first open
  std::atomic<uint32_t> head;      // bytes ever written (writer)
  std::atomic<uint32_t> tail;      // bytes ever taken (reader)
  size_t largest;                  // longest message an empty port buffer takes
  std::atomic<jack_port_t*> device;  // the device's port connected at open; null: none
  std::atomic<int> lost;             // that connection was cut since the open
  // The process thread's own, during a cycle:
  void* buffer;                      // the port's buffer for this cycle; null: none (or not in a cycle)
  jack_nframes_t last;               // frame of the event written last into it
  bool written;                      // an event was written into it this cycle
};

// One input port; the process callback reads it while port is set.
struct InLane {
  std::atomic<jack_port_t*> port;  // registered port the process callback reads; null: none
  jack_port_t* registered;         // port as registered (table lock)
  std::atomic<jack_port_t*> device;  // the device's port connected at open
  std::atomic<int> lost;             // that connection was cut since the open
};

jack_client_t* client;                // bound client; null: none
JackInDelivery delivery;              // where input events go
JackRestarted restarted;              // told after each switch of the process callback
bool running;                         // the process callback is installed (table lock)
std::atomic<uint32_t> cycles;         // process cycles run since the client was bound
int portsOpen;                        // ports registered (table lock); none: no process callback
Lane lanes[kJackOutLanes];
InLane inLanes[kJackInLanes];
// The lanes with a port, a bit each (set under the table lock): a cycle looks
// at those lanes only. A cycle wakes every period, mostly with nothing to do,
// and the other lanes' records would be so many cache lines to fetch anew.
std::atomic<uint32_t> outLanesOpen;
std::atomic<uint32_t> inLanesOpen;
static_assert(kJackOutLanes <= 32 && kJackInLanes <= 32, "a bit for each lane");
// Frame within the period of the input event the process callback is
// delivering: what the delivery sends goes out at the same frame of the
// period. 0 on every other thread and between events.
thread_local uint32_t deliveringFrame;
// Set on the process thread while it runs a cycle: a send from it (an input's
// delivery) may write into the output's port buffer itself.
thread_local bool inCycle;
jack_nframes_t cycleFrames;  // the running cycle's length (process thread)

void sleepMs(int ms) {
  timespec t = {0, static_cast<long>(ms) * 1000000};
  nanosleep(&t, nullptr);
}

// A few bytes copied in place: most copies are a length word or a short
// message, for which a call of the library's memcpy costs more than the copy.
inline void copyBytes(uint8_t* to, const uint8_t* from, uint32_t count) {
  switch (count) {
    case 4: to[3] = from[3]; [[fallthrough]];
    case 3: to[2] = from[2]; [[fallthrough]];
    case 2: to[1] = from[1]; [[fallthrough]];
    case 1: to[0] = from[0]; [[fallthrough]];
    case 0: return;
    default: std::memcpy(to, from, count);
  }
}

// The ring's bytes at..at+count, which may wrap round its end (rarely: the
// usual copy is one of a few bytes).
void copyOut(const Lane& lane, uint32_t at, uint8_t* to, uint32_t count) {
  const uint32_t first = at & kMask;
  if (count <= kJackOutQueueBytes - first) {
    copyBytes(to, lane.ring.get() + first, count);
    return;
  }
  const uint32_t n = kJackOutQueueBytes - first;  // up to the ring's end
  std::memcpy(to, lane.ring.get() + first, n);
  std::memcpy(to + n, lane.ring.get(), count - n);
}

void copyIn(Lane* lane, uint32_t at, const uint8_t* from, uint32_t count) {
  const uint32_t first = at & kMask;
  if (count <= kJackOutQueueBytes - first) {
    copyBytes(lane->ring.get() + first, from, count);
    return;
  }
  const uint32_t n = kJackOutQueueBytes - first;  // up to the ring's end
  std::memcpy(lane->ring.get() + first, from, n);
  std::memcpy(lane->ring.get(), from + n, count - n);
}

// One event into the cycle's port buffer at frame `at`, but never before the
// event written before it, so the buffer's frames do not go down. Null when
// the buffer has no room for it.
jack_midi_data_t* reserve(Lane* lane, jack_nframes_t at, size_t count) {
  if (at >= cycleFrames) at = cycleFrames - 1;
  if (at < lane->last) at = lane->last;
  jack_midi_data_t* event = jack_midi_event_reserve(lane->buffer, at, count);
  if (event) {
    lane->written = true;
    lane->last = at;
  }
  return event;
}

// Writes the queue into the cycle's port buffer: whole messages, in order, as
// many as fit; the rest waits for the next cycle. Each event goes at the frame
// queued with it (an input event's frame; 0 from other threads).
void serve(Lane* lane) {
  if (!lane->buffer) return;
  uint32_t tail = lane->tail.load(std::memory_order_relaxed);
  const uint32_t head = lane->head.load(std::memory_order_acquire);
  while (head - tail >= kLengthBytes) {
    uint8_t length[kLengthBytes];
    copyOut(*lane, tail, length, kLengthBytes);
    uint32_t word;
    std::memcpy(&word, length, sizeof word);
    const uint32_t count = word & kCountMask;
    jack_midi_data_t* event = reserve(lane, word >> kCountBits, count);
    if (!event) {
      if (lane->written) break;  // the buffer is full: the rest goes next cycle
      // Not even an empty buffer takes it: it is passed over. The sender
      // refuses such messages, so only a change of the server's buffer size
      // gets here.
    } else {
      copyOut(*lane, tail + kLengthBytes, event, count);
    }
    tail += kLengthBytes + count;
  }
  lane->tail.store(tail, std::memory_order_release);
}

// Hands every event of an input port to the delivery, whole and in order.
// *ms: the cycle's clock reading, taken at its first event (-1 before).
void read(int index, jack_nframes_t frames, int64_t* ms) {
  jack_port_t* port = inLanes[index].port.load(std::memory_order_acquire);
  if (!port) return;
  void* buffer = jack_port_get_buffer(port, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  if (count > 0 && *ms < 0) {
    *ms = desktopMilliseconds();
  }
  for (uint32_t i = 0; i < count; i++) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
    deliveringFrame = event.time < kFrameMax ? event.time : kFrameMax;
    delivery(index, event.buffer, event.size, *ms);
  }
  deliveringFrame = 0;
}

// What was queued before the cycle goes out first; then the inputs are read,
// and what they route to our outputs goes out in the same cycle, at the frame
// each came in at: written straight into the port's buffer while its queue is
// empty, else queued behind what waits and written after the inputs.
// Installed only while a port is open (run()).
int process(jack_nframes_t frames, void*) {
  cycleFrames = frames;
  // One reading for the whole cycle: each lane whose buffer is taken below
  // lets go of it at the end.
  const uint32_t outs = outLanesOpen.load(std::memory_order_acquire);
  const uint32_t ins = inLanesOpen.load(std::memory_order_acquire);
  for (uint32_t bits = outs; bits != 0; bits &= bits - 1) {
    Lane& lane = lanes[__builtin_ctz(bits)];
    jack_port_t* port = lane.port.load(std::memory_order_acquire);
    lane.buffer = port ? jack_port_get_buffer(port, frames) : nullptr;
    if (!lane.buffer) continue;
    jack_midi_clear_buffer(lane.buffer);
    lane.last = 0;
    lane.written = false;
    serve(&lane);
  }
  inCycle = true;
  int64_t ms = -1;
  for (uint32_t bits = ins; bits != 0; bits &= bits - 1) read(__builtin_ctz(bits), frames, &ms);
  inCycle = false;
  for (uint32_t bits = outs; bits != 0; bits &= bits - 1) {
    Lane& lane = lanes[__builtin_ctz(bits)];
    serve(&lane);
    lane.buffer = nullptr;
  }
  cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

// Waits (bounded) until the process callback has run `count` more cycles.
bool waitCycles(uint32_t count, int patienceMs) {
  const uint32_t from = cycles.load(std::memory_order_acquire);
  for (int waited = 0; waited < patienceMs; waited++) {
    if (cycles.load(std::memory_order_acquire) - from >= count) return true;
    sleepMs(1);
  }
  return false;
}

// Installs the process callback (on) or takes it away. The server wakes a
// client every period only while it has one, and a client hears ports, clients
// and the server's end only while it is active: so it stays active, and is
// deactivated only for the moment of the switch (with no port of ours open,
// nothing is disconnected). What the moment may have missed is told to the
// bind's `restarted`, with whether the client is active again.
bool run(bool on) {
  if (running == on) return true;
  jack_deactivate(client);
  jack_set_process_callback(client, on ? process : nullptr, nullptr);
  running = on;
  const bool active = jack_activate(client) == 0;
  restarted(active ? 1 : 0);
  return active;
}

// After a port went or did not open: with none left the callback goes.
void idleIfNone(bool serverGone) {
  if (portsOpen == 0 && !serverGone) run(false);
}

}  // namespace

void jackPortsBind(jack_client_t* c, JackInDelivery deliver, JackRestarted onRestart) {
  client = c;
  delivery = deliver;
  restarted = onRestart;
  running = false;
}

void jackPortsUnbind(void) {
  // The ports go with the client; the lanes start empty at the next bind.
  for (Lane& lane : lanes) {
    lane.port.store(nullptr, std::memory_order_release);
    lane.registered = nullptr;
    lane.device.store(nullptr);
    lane.tail.store(lane.head.load());
  }
  for (InLane& lane : inLanes) {
    lane.port.store(nullptr, std::memory_order_release);
    lane.registered = nullptr;
    lane.device.store(nullptr);
  }
  outLanesOpen.store(0);
  inLanesOpen.store(0);
  portsOpen = 0;
  running = false;
  client = nullptr;
}

int jackOutOpen(int index, const char* name, const char* device) {
  assert(index >= 0 && index < kJackOutLanes && client);
  Lane& lane = lanes[index];
  assert(!lane.registered);
  jack_port_t* devicePort = device ? jack_port_by_name(client, device) : nullptr;
  if (device && !devicePort) return OS_MIDI_BADDEVICEID;  // gone since the list
  if (!lane.ring) {
    lane.ring.reset(new (std::nothrow) uint8_t[kJackOutQueueBytes]);
    if (!lane.ring) return OS_MIDI_NOMEM;
  }
  if (!run(true)) return OS_MIDI_NODRIVER;
  jack_port_t* port = jack_port_register(client, name, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!port) {
    idleIfNone(false);
    return OS_MIDI_NOMEM;
  }
  lane.device.store(devicePort);
  lane.lost.store(0);
  // EEXIST: connected already.
  if (device) {
    const int connected = jack_connect(client, jack_port_name(port), device);
    if (connected != 0 && connected != EEXIST) {
      jack_port_unregister(client, port);
      idleIfNone(false);
      return OS_MIDI_ALLOCATED;
    }
  }
  // The largest message: a port buffer holds the events and a header of a
  // few dozen bytes.
  const size_t bufferBytes = jack_port_type_get_buffer_size(client, JACK_DEFAULT_MIDI_TYPE);
  lane.largest = bufferBytes > 128 ? bufferBytes - 128 : 0;
  lane.registered = port;
  portsOpen++;
  lane.port.store(port, std::memory_order_release);
  outLanesOpen.fetch_or(1u << index, std::memory_order_release);
  return OS_MIDI_OK;
}

int jackOutSend(int index, const uint8_t* bytes, size_t count) {
  assert(index >= 0 && index < kJackOutLanes);
  Lane& lane = lanes[index];
  if (count == 0) return OS_MIDI_OK;
  if (!lane.port.load(std::memory_order_relaxed)) return OS_MIDI_NODRIVER;
  if (count > lane.largest || count + kLengthBytes > kJackOutQueueBytes) {
    log("MIDI OUT: a message of %u bytes is more than a JACK port takes in one cycle.\n",
        static_cast<unsigned>(count));
    return OS_MIDI_INVALPARAM;
  }
  const uint32_t need = static_cast<uint32_t>(count) + kLengthBytes;
  const uint32_t head = lane.head.load(std::memory_order_relaxed);
  // An input's delivery, with nothing waiting before it: straight into the
  // cycle's buffer, no copy into the queue and out again. When the buffer is
  // full the message is queued for the next cycle.
  if (inCycle && lane.buffer && head == lane.tail.load(std::memory_order_relaxed)) {
    jack_midi_data_t* event = reserve(&lane, deliveringFrame, count);
    if (event) {
      copyBytes(event, bytes, static_cast<uint32_t>(count));
      return OS_MIDI_OK;
    }
  }
  // No wait for room: the sender may hold the engine lock (mouse and
  // computer-key notes) or run inside a JACK cycle (an input's notification).
  if (kJackOutQueueBytes - (head - lane.tail.load(std::memory_order_acquire)) < need) {
    log("MIDI OUT: the JACK output's queue is full; a message of %u bytes is not sent.\n",
        static_cast<unsigned>(count));
    return OS_MIDI_NOTREADY;
  }
  const uint32_t length = static_cast<uint32_t>(count);
  const uint32_t word = length | deliveringFrame << kCountBits;
  uint8_t lengthBytes[kLengthBytes];
  std::memcpy(lengthBytes, &word, sizeof word);
  copyIn(&lane, head, lengthBytes, kLengthBytes);
  copyIn(&lane, head + kLengthBytes, bytes, length);
  lane.head.store(head + need, std::memory_order_release);
  return OS_MIDI_OK;
}

void jackOutClose(int index, int serverGone) {
  assert(index >= 0 && index < kJackOutLanes);
  Lane& lane = lanes[index];
  if (!lane.registered) return;  // never opened, or the client went (unbind)
  if (!serverGone) {
    // What was sent goes out first, as on a device that plays its buffer.
    for (int waited = 0; waited < kJackOutWaitMs; waited++) {
      if (lane.tail.load(std::memory_order_acquire) == lane.head.load(std::memory_order_relaxed)) break;
      sleepMs(1);
    }
    // Disconnected first, so the port's last buffer is not read again; then
    // the callback lets go of it before the port goes.
    jack_port_disconnect(client, lane.registered);
    lane.port.store(nullptr, std::memory_order_release);
    waitCycles(2, kJackOutWaitMs);
    jack_port_unregister(client, lane.registered);
  }
  // With the server gone the port went with it and is only forgotten.
  lane.port.store(nullptr, std::memory_order_release);
  outLanesOpen.fetch_and(~(1u << index), std::memory_order_release);
  lane.registered = nullptr;
  lane.device.store(nullptr);
  portsOpen--;
  idleIfNone(serverGone);
  lane.tail.store(lane.head.load());  // the next open starts with an empty queue
}

int jackInOpen(int index, const char* name, const char* device) {
  assert(index >= 0 && index < kJackInLanes && client && device);
  InLane& lane = inLanes[index];
  assert(!lane.registered);
  jack_port_t* devicePort = jack_port_by_name(client, device);
  if (!devicePort) return OS_MIDI_BADDEVICEID;  // gone since the list
  if (!run(true)) return OS_MIDI_NODRIVER;
  jack_port_t* port = jack_port_register(client, name, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (!port) {
    idleIfNone(false);
    return OS_MIDI_NOMEM;
  }
  lane.registered = port;
  lane.device.store(devicePort);
  lane.lost.store(0);
  portsOpen++;
  lane.port.store(port, std::memory_order_release);
  inLanesOpen.fetch_or(1u << index, std::memory_order_release);
  const int connected = jack_connect(client, device, jack_port_name(port));
  if (connected != 0 && connected != EEXIST) {
    jackInClose(index, 0);
    return OS_MIDI_ALLOCATED;
  }
  return OS_MIDI_OK;
}

void jackInClose(int index, int serverGone) {
  assert(index >= 0 && index < kJackInLanes);
  InLane& lane = inLanes[index];
  if (!lane.registered) return;  // never opened, or the client went (unbind)
  lane.port.store(nullptr, std::memory_order_release);
  inLanesOpen.fetch_and(~(1u << index), std::memory_order_release);
  if (!serverGone) {
    // Nothing more comes in; a cycle under way lets go of the port first.
    jack_port_disconnect(client, lane.registered);
    waitCycles(2, kJackOutWaitMs);
    jack_port_unregister(client, lane.registered);
  }
  lane.registered = nullptr;
  lane.device.store(nullptr);
  portsOpen--;
  idleIfNone(serverGone);
}

bool jackPortsCut(jack_client_t* c, jack_port_id_t a, jack_port_id_t b) {
  jack_port_t* first = jack_port_by_id(c, a);
  jack_port_t* second = jack_port_by_id(c, b);
  bool cut = false;
  auto look = [&](jack_port_t* ours, const std::atomic<jack_port_t*>& device, std::atomic<int>* lost) {
    jack_port_t* theirs = device.load();
    if (!ours || !theirs) return;
    if ((ours == first && theirs == second) || (ours == second && theirs == first)) {
      lost->store(1);
      cut = true;
    }
  };
  for (Lane& lane : lanes) look(lane.port.load(std::memory_order_acquire), lane.device, &lane.lost);
  for (InLane& lane : inLanes) look(lane.port.load(std::memory_order_acquire), lane.device, &lane.lost);
  return cut;
}

bool jackLaneLost(bool input, int index) {
  if (input) return index >= 0 && index < kJackInLanes && inLanes[index].lost.load() != 0;
  return index >= 0 && index < kJackOutLanes && lanes[index].lost.load() != 0;
}
