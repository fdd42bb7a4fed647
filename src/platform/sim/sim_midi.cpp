// Sim MIDI devices and serial ports: a scripted machine behind the platform
// MIDI and serial services that records every call and everything sent, and
// delivers input on the thread of the test that injects it.
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "midi/os_midi.h"
#include "platform/shared/midi_headers.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace {

// System error codes of the serial services (values of the Windows API).
enum {
  kErrFileNotFound = 2,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrWriteFault = 29,
  kErrInvalidName = 123,
  kErrCounterTimeout = 1121
};

struct SimOutDevice {
  std::string name;                     // reported name (cut to 31 bytes when queried)
  int manufacturer = 0;                 // wMid
  uint32_t driverVersion = 0;           // major high byte, minor low byte
  int capsFailure = 0;                  // result of every capability query, 0 = answers
  int openFailure = 0;                  // result of every open, 0 = opens
  std::vector<SimMidiOutEvent> events;  // what it received, in order
};

struct SimOutOpen {
  MidiHandle handle;  // handle given out
  int device;         // device index, kMidiMapper for the mapper
};

// What a device took from a header when it was prepared (outputs) or queued
// (inputs): later changes of its length do not reach the device.
struct SimHeaderUse {
  MidiHeader* header;  // the caller's header
  uint32_t length;     // its buffer length at that moment
};

struct SimHeldLong {
  MidiHeader* header;  // header the device owns until finished
  MidiHandle handle;   // output it was sent to
};

struct SimInDevice {
  std::string name;                // reported name
  int manufacturer = 0;            // wMid
  uint32_t driverVersion = 0;      // major high byte, minor low byte
  int capsFailure = 0;             // result of every capability query, 0 = answers
  int openFailure = 0;             // result of every open, 0 = opens
  MidiHandle handle = 0;           // open handle, 0 = closed
  MidiInCallback callback = nullptr;  // callback given at open
  uintptr_t instance = 0;          // instance value given at open
  bool started = false;            // between start and reset or close
  std::deque<SimHeaderUse> queue;  // buffers added and not yet returned, oldest first
  int delivering = 0;              // callbacks of this input now running
};

struct SimSerialPort {
  int number = 0;                  // n of COMn
  bool busy = false;               // held by another program
  SerialHandle handle = 0;         // open channel, 0 = closed
  int configureStep = 0;           // step at which configuring fails, 0 = never
  int configureCode = 0;           // system error of that failure
  int failWrites = 0;              // writes still to fail
  int partialWrites = 0;           // writes still to cut to half
  std::vector<uint8_t> bytes;      // everything written, in order
};

struct SimMidiMachine {
  std::vector<SimInDevice> ins;       // input devices in index order
  std::vector<SimOutDevice> outs;     // output devices in index order
  SimOutDevice mapper;                // the MIDI mapper (exists while outs is not empty)
  std::vector<SimOutOpen> openOuts;   // open output handles
  std::vector<SimHeaderUse> prepared; // output headers prepared, with their lengths
  std::vector<SimHeldLong> held;      // long messages still playing
  bool holdLongs = false;             // sent long messages stay playing
  int failShort = 0, failShortCode = 0;      // scripted short-send faults
  int failPrepare = 0, failPrepareCode = 0;  // scripted output-prepare faults
  int failLong = 0, failLongCode = 0;        // scripted long-send faults
  std::vector<std::string> calls;     // every service call, in order
  std::vector<SimSerialPort> serials; // serial ports of the machine
  intptr_t nextHandle = 0x1000;       // next handle value to give out
  bool recordOutput = true;           // outputs record what they receive (simRecordMidiOutput)
};

std::mutex machineLock;              // guards machine; never held while a callback runs
std::condition_variable inputIdle;   // signalled when a delivery ends
SimMidiMachine machine;

// Short sends while nothing is recorded and no fault is scripted do not take
// machineLock: an output's handle found in its slot is answered at once, as a
// device driver takes a short message without a machine-wide lock. Anything
// else (recording on, a fault scripted, a handle not in its slot) takes the
// locked way. The slots and the switch are written under machineLock.
constexpr int kQuickSlots = 64;
std::atomic<MidiHandle> quickOutSlots[kQuickSlots];
std::atomic<bool> quickSends(false);

std::atomic<MidiHandle>& quickSlot(MidiHandle handle) {
  return quickOutSlots[(static_cast<uintptr_t>(handle) >> 4) % kQuickSlots];
}

void updateQuickSends() {
  quickSends.store(!machine.recordOutput && machine.failShort <= 0, std::memory_order_release);
}

thread_local int deliveryDepth = 0;  // callbacks running on this thread
thread_local int serialError = 0;    // error of this thread's last failed serial write

// A callback to run once the lock is released.
struct Delivery {
  MidiInCallback callback;  // 0: the input was opened without one
  MidiHandle handle;        // input's handle
  uintptr_t instance;       // instance value given at open
  int device;               // input device index
};

MidiHandle newHandle() {
  MidiHandle h = machine.nextHandle;
  machine.nextHandle += 0x10;
  return h;
}

void note(const char* call, const std::string& argument) { machine.calls.push_back(std::string(call) + " " + argument); }
void note(const char* call, int index) { note(call, std::to_string(index)); }

std::string comName(int number) { return "COM" + std::to_string(number); }

SimOutDevice* outDevice(int index) {
  if (index == kMidiMapper) return machine.outs.empty() ? nullptr : &machine.mapper;
  if (index < 0 || index >= static_cast<int>(machine.outs.size())) return nullptr;
  return &machine.outs[index];
}

SimOutOpen* openOut(MidiHandle handle) {
  if (handle == 0) return nullptr;
  for (SimOutOpen& o : machine.openOuts) {
    if (o.handle == handle) return &o;
  }
  return nullptr;
}

// Notes an output call by its device index ("?" for a handle not open);
// while recording is off, nothing is noted.
SimOutOpen* findOut(const char* call, MidiHandle handle) {
  SimOutOpen* o = openOut(handle);
  if (!machine.recordOutput) return o;
  if (o) note(call, o->device);
  else note(call, "?");
  return o;
}

int inIndexOf(MidiHandle handle) {
  if (handle == 0) return -1;
  for (size_t i = 0; i < machine.ins.size(); i++) {
    if (machine.ins[i].handle == handle) return static_cast<int>(i);
  }
  return -1;
}

int findIn(const char* call, MidiHandle handle) {
  int i = inIndexOf(handle);
  if (i >= 0) note(call, i);
  else note(call, "?");
  return i;
}

SimSerialPort* serialPort(int number) {
  for (SimSerialPort& p : machine.serials) {
    if (p.number == number) return &p;
  }
  return nullptr;
}

SimSerialPort* serialByHandle(SerialHandle handle) {
  if (handle == 0) return nullptr;
  for (SimSerialPort& p : machine.serials) {
    if (p.handle == handle) return &p;
  }
  return nullptr;
}

bool takeFault(int& counter) {
  if (counter <= 0) return false;
  counter--;
  return true;
}

// Under the lock: one more callback of input i is about to run.
Delivery beginDelivery(int i) {
  SimInDevice& d = machine.ins[i];
  d.delivering++;
  return {d.callback, d.handle, d.instance, i};
}

// Without the lock: runs the callback, then marks the delivery ended.
void deliver(const Delivery& d, unsigned message, uintptr_t param1, uintptr_t param2) {
  if (d.callback) {
    deliveryDepth++;
    d.callback(d.handle, message, d.instance, param1, param2);
    deliveryDepth--;
  }
}

void endDelivery(const Delivery& d) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (d.device < static_cast<int>(machine.ins.size())) machine.ins[d.device].delivering--;
  inputIdle.notify_all();
}

// Waits until no callback of the input with this handle runs on another
// thread, as a device's reset and close do; returns its index afterwards (-1
// when it has been closed meanwhile). A callback that resets or closes its
// own input does not wait for itself.
int waitInputIdle(std::unique_lock<std::mutex>& lock, MidiHandle handle) {
  if (deliveryDepth > 0) return inIndexOf(handle);
  inputIdle.wait(lock, [&] {
    int i = inIndexOf(handle);
    return i < 0 || machine.ins[i].delivering == 0;
  });
  return inIndexOf(handle);
}

// Bytes of a message with this status, status included.
int messageLength(uint8_t status) {
  if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
  if (status < 0xE0) return 2;
  if (status == 0xF2) return 3;
  if (status == 0xF1 || status == 0xF3) return 2;
  return 1;
}

// Fills the first queued buffer of input i with up to its length of bytes and
// returns it done (under the lock); 0 when no buffer is queued.
MidiHeader* fillFirstBuffer(int i, const uint8_t* bytes, int count, int* used) {
  SimInDevice& d = machine.ins[i];
  if (d.queue.empty()) return nullptr;
  MidiHeader* h = d.queue.front().header;
  uint32_t length = d.queue.front().length;
  d.queue.pop_front();
  uint32_t n = static_cast<uint32_t>(count) < length ? static_cast<uint32_t>(count) : length;
  if (n > 0) std::memcpy(h->data, bytes, n);
  h->bytesRecorded = n;
  h->flags = (h->flags & ~static_cast<uint32_t>(OS_MHDR_INQUEUE)) | OS_MHDR_DONE;
  *used = static_cast<int>(n);
  return h;
}

void forgetPrepared(const MidiHeader* header) {
  for (size_t i = 0; i < machine.prepared.size(); i++) {
    if (machine.prepared[i].header == header) {
      machine.prepared.erase(machine.prepared.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// The length a prepared output header had when it was prepared.
uint32_t preparedLength(const MidiHeader* header) {
  for (const SimHeaderUse& p : machine.prepared) {
    if (p.header == header) return p.length;
  }
  return header->bufferLength;  // marked prepared by hand
}

bool inputLive(int index) {
  return index >= 0 && index < static_cast<int>(machine.ins.size()) && machine.ins[index].handle != 0 &&
         machine.ins[index].started;
}

}  // namespace

void simResetMidi(void) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine = SimMidiMachine();
  for (std::atomic<MidiHandle>& slot : quickOutSlots) slot.store(0, std::memory_order_release);
  updateQuickSends();
}

// ---- Scripting the machine.

void simAddMidiIn(const char* name, int manufacturer, uint32_t driverVersion) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimInDevice d;
  d.name = name;
  d.manufacturer = manufacturer;
  d.driverVersion = driverVersion;
  machine.ins.push_back(std::move(d));
}

void simAddMidiOut(const char* name, int manufacturer, uint32_t driverVersion) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimOutDevice d;
  d.name = name;
  d.manufacturer = manufacturer;
  d.driverVersion = driverVersion;
  machine.outs.push_back(std::move(d));
  if (machine.mapper.name.empty()) {
    machine.mapper.name = "MIDI Mapper";
    machine.mapper.manufacturer = 1;
    machine.mapper.driverVersion = 0x0500;
  }
}

void simFailMidiInCaps(int index, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  assert(index >= 0 && index < static_cast<int>(machine.ins.size()));
  machine.ins[index].capsFailure = code;
}

void simFailMidiOutCaps(int index, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  assert(index == kMidiMapper || (index >= 0 && index < static_cast<int>(machine.outs.size())));
  (index == kMidiMapper ? machine.mapper : machine.outs[index]).capsFailure = code;
}

void simFailMidiInOpen(int index, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  assert(index >= 0 && index < static_cast<int>(machine.ins.size()));
  machine.ins[index].openFailure = code;
}

void simFailMidiOutOpen(int index, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  assert(index == kMidiMapper || (index >= 0 && index < static_cast<int>(machine.outs.size())));
  (index == kMidiMapper ? machine.mapper : machine.outs[index]).openFailure = code;
}

void simFailMidiOutShort(int count, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.failShort = count;
  machine.failShortCode = code;
  updateQuickSends();
}

void simFailMidiOutPrepare(int count, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.failPrepare = count;
  machine.failPrepareCode = code;
}

void simFailMidiOutLong(int count, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.failLong = count;
  machine.failLongCode = code;
}

void simRecordMidiOutput(bool record) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.recordOutput = record;
  updateQuickSends();
}

std::vector<SimMidiOutEvent> simMidiOutEvents(int index) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimOutDevice* d = outDevice(index);
  return d ? d->events : std::vector<SimMidiOutEvent>();
}

std::vector<uint8_t> simMidiOutBytes(int index) {
  std::lock_guard<std::mutex> lock(machineLock);
  std::vector<uint8_t> bytes;
  SimOutDevice* d = outDevice(index);
  if (!d) return bytes;
  for (const SimMidiOutEvent& e : d->events) {
    if (e.isLong) {
      bytes.insert(bytes.end(), e.bytes.begin(), e.bytes.end());
      continue;
    }
    uint8_t first = static_cast<uint8_t>(e.word);
    int n = first < 0x80 ? 2 : messageLength(first);
    for (int k = 0; k < n; k++) bytes.push_back(static_cast<uint8_t>(e.word >> (8 * k)));
  }
  return bytes;
}

void simHoldLongMessages(bool hold) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.holdLongs = hold;
}

void simFinishLongMessages(void) {
  std::lock_guard<std::mutex> lock(machineLock);
  for (SimHeldLong& held : machine.held) {
    held.header->flags = (held.header->flags & ~static_cast<uint32_t>(OS_MHDR_INQUEUE)) | OS_MHDR_DONE;
  }
  machine.held.clear();
}

std::vector<std::string> simMidiCalls(void) {
  std::lock_guard<std::mutex> lock(machineLock);
  return machine.calls;
}

void simMidiInShort(int index, uint32_t message, uint32_t time) {
  std::unique_lock<std::mutex> lock(machineLock);
  if (!inputLive(index)) return;
  Delivery d = beginDelivery(index);
  lock.unlock();
  deliver(d, OS_MIM_DATA, message, time);
  endDelivery(d);
}

void simMidiInError(int index, uint32_t message, uint32_t time) {
  std::unique_lock<std::mutex> lock(machineLock);
  if (!inputLive(index)) return;
  Delivery d = beginDelivery(index);
  lock.unlock();
  deliver(d, OS_MIM_ERROR, message, time);
  endDelivery(d);
}

bool simMidiInLong(int index, const uint8_t* bytes, int count, uint32_t time) {
  assert(bytes != nullptr && count > 0);
  std::unique_lock<std::mutex> lock(machineLock);
  // A message longer than the buffer goes on in the next queued buffer, each
  // returned full as it fills; what finds no buffer is lost.
  while (count > 0) {
    if (!inputLive(index)) return false;
    int used = 0;
    MidiHeader* h = fillFirstBuffer(index, bytes, count, &used);
    if (!h) return false;
    Delivery d = beginDelivery(index);
    lock.unlock();
    deliver(d, OS_MIM_LONGDATA, reinterpret_cast<uintptr_t>(h), time);
    endDelivery(d);
    lock.lock();
    bytes += used;
    count -= used;
  }
  return true;
}

bool simMidiInLongError(int index, const uint8_t* bytes, int count, uint32_t time) {
  assert(bytes != nullptr && count > 0);
  std::unique_lock<std::mutex> lock(machineLock);
  if (!inputLive(index)) return false;
  int used = 0;
  MidiHeader* h = fillFirstBuffer(index, bytes, count, &used);
  if (!h) return false;
  Delivery d = beginDelivery(index);
  lock.unlock();
  deliver(d, OS_MIM_LONGERROR, reinterpret_cast<uintptr_t>(h), time);
  endDelivery(d);
  return true;
}

bool simMidiInIsOpen(int index) {
  std::lock_guard<std::mutex> lock(machineLock);
  return index >= 0 && index < static_cast<int>(machine.ins.size()) && machine.ins[index].handle != 0;
}

int simMidiInQueuedBuffers(int index) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (index < 0 || index >= static_cast<int>(machine.ins.size())) return 0;
  return static_cast<int>(machine.ins[index].queue.size());
}

void simAddSerialPort(int number) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (serialPort(number)) return;
  SimSerialPort p;
  p.number = number;
  machine.serials.push_back(std::move(p));
}

void simSetSerialBusy(int number, bool busy) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  assert(p != nullptr);
  p->busy = busy;
}

void simFailSerialConfigure(int number, int step, int code) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  assert(p != nullptr && step >= 0 && step <= 2);
  p->configureStep = step;
  p->configureCode = code;
}

void simFailSerialWrites(int number, int count) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  assert(p != nullptr);
  p->failWrites = count;
}

void simPartialSerialWrites(int number, int count) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  assert(p != nullptr);
  p->partialWrites = count;
}

std::vector<uint8_t> simSerialBytes(int number) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  return p ? p->bytes : std::vector<uint8_t>();
}

bool simSerialIsOpen(int number) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialPort(number);
  return p && p->handle != 0;
}

// ---- The services.

int osMidiInCount(void) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.calls.push_back("midiInCount");
  return static_cast<int>(machine.ins.size());
}

int osMidiOutCount(void) {
  std::lock_guard<std::mutex> lock(machineLock);
  machine.calls.push_back("midiOutCount");
  return static_cast<int>(machine.outs.size());
}

static void fillCaps(const std::string& name, int manufacturer, uint32_t driverVersion, MidiDeviceCaps* caps) {
  std::memset(caps, 0, sizeof *caps);
  std::memcpy(caps->name, name.data(), name.size() < sizeof caps->name ? name.size() : sizeof caps->name - 1);
  caps->manufacturer = static_cast<uint16_t>(manufacturer);
  caps->driverVersion = driverVersion;
}

int osMidiInCaps(int index, MidiDeviceCaps* caps) {
  assert(caps != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  note("midiInCaps", index);
  // Inputs have no mapper: index -1 is as unknown as any other.
  if (index < 0 || index >= static_cast<int>(machine.ins.size())) return OS_MIDI_BADDEVICEID;
  const SimInDevice& d = machine.ins[index];
  if (d.capsFailure) return d.capsFailure;
  fillCaps(d.name, d.manufacturer, d.driverVersion, caps);
  return OS_MIDI_OK;
}

int osMidiOutCaps(int index, MidiDeviceCaps* caps) {
  assert(caps != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  note("midiOutCaps", index);
  const SimOutDevice* d = outDevice(index);
  if (!d) return OS_MIDI_BADDEVICEID;
  if (d->capsFailure) return d->capsFailure;
  fillCaps(d->name, d->manufacturer, d->driverVersion, caps);
  return OS_MIDI_OK;
}

int osMidiOutOpen(MidiHandle* handle, int index) {
  assert(handle != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  note("midiOutOpen", index);
  // The mapper without any output device is as unknown as a bad index.
  const SimOutDevice* d = outDevice(index);
  if (!d) return OS_MIDI_BADDEVICEID;
  if (d->openFailure) return d->openFailure;
  // Outputs, like the mapper and most synthesizers, may be opened more than once.
  MidiHandle h = newHandle();
  machine.openOuts.push_back({h, index});
  quickSlot(h).store(h, std::memory_order_release);
  *handle = h;
  return OS_MIDI_OK;
}

int osMidiOutShort(MidiHandle handle, uint32_t word) {
  if (handle != 0 && quickSends.load(std::memory_order_acquire) &&
      quickSlot(handle).load(std::memory_order_acquire) == handle) {
    return OS_MIDI_OK;
  }
  std::lock_guard<std::mutex> lock(machineLock);
  SimOutOpen* o = findOut("midiOutShort", handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  if (takeFault(machine.failShort)) {
    updateQuickSends();
    return machine.failShortCode;
  }
  if (!machine.recordOutput) return OS_MIDI_OK;
  SimMidiOutEvent e;
  e.isLong = false;
  e.word = word;
  outDevice(o->device)->events.push_back(std::move(e));
  return OS_MIDI_OK;
}

int osMidiOutPrepare(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (!findOut("midiOutPrepare", handle)) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  if (takeFault(machine.failPrepare)) return machine.failPrepareCode;
  // Preparing a prepared header changes nothing.
  if (!markHeaderPrepared(header)) return OS_MIDI_OK;
  forgetPrepared(header);
  machine.prepared.push_back({header, header->bufferLength});
  return OS_MIDI_OK;
}

int osMidiOutLong(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimOutOpen* o = findOut("midiOutLong", handle);
  if (!o) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  if (takeFault(machine.failLong)) return machine.failLongCode;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  uint32_t length = preparedLength(header);
  if (!header->data && length > 0) return OS_MIDI_INVALPARAM;
  if (machine.recordOutput) {
    SimMidiOutEvent e;
    e.isLong = true;
    e.word = 0;
    e.bytes.assign(header->data, header->data + length);
    outDevice(o->device)->events.push_back(std::move(e));
  }
  header->flags &= ~static_cast<uint32_t>(OS_MHDR_DONE);
  if (machine.holdLongs) {
    header->flags |= OS_MHDR_INQUEUE;
    machine.held.push_back({header, handle});
  } else {
    header->flags |= OS_MHDR_DONE;
  }
  return OS_MIDI_OK;
}

int osMidiOutUnprepare(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (!findOut("midiOutUnprepare", handle)) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  const int result = markHeaderUnprepared(header);
  if (result == OS_MIDI_OK) forgetPrepared(header);
  return result;
}

int osMidiOutClose(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (!findOut("midiOutClose", handle)) return OS_MIDI_INVALHANDLE;
  // A device that still plays a long message of this handle refuses to close.
  for (const SimHeldLong& held : machine.held) {
    if (held.handle == handle) return OS_MIDI_STILLPLAYING;
  }
  for (size_t i = 0; i < machine.openOuts.size(); i++) {
    if (machine.openOuts[i].handle == handle) {
      machine.openOuts.erase(machine.openOuts.begin() + static_cast<std::ptrdiff_t>(i));
      if (quickSlot(handle).load(std::memory_order_relaxed) == handle) quickSlot(handle).store(0, std::memory_order_release);
      break;
    }
  }
  return OS_MIDI_OK;
}

int osMidiInOpen(MidiHandle* handle, int index, MidiInCallback callback, uintptr_t instance) {
  assert(handle != nullptr);
  std::unique_lock<std::mutex> lock(machineLock);
  note("midiInOpen", index);
  if (index < 0 || index >= static_cast<int>(machine.ins.size())) return OS_MIDI_BADDEVICEID;
  SimInDevice& d = machine.ins[index];
  if (d.openFailure) return d.openFailure;
  if (d.handle != 0) return OS_MIDI_ALLOCATED;
  d.handle = newHandle();
  d.callback = callback;
  d.instance = instance;
  d.started = false;
  d.queue.clear();
  MidiHandle h = d.handle;
  Delivery open = beginDelivery(index);
  lock.unlock();
  // As on Windows, the open notification comes before the caller has the handle.
  deliver(open, OS_MIM_OPEN, 0, 0);
  endDelivery(open);
  *handle = h;
  return OS_MIDI_OK;
}

int osMidiInPrepare(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (findIn("midiInPrepare", handle) < 0) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  markHeaderPrepared(header);
  return OS_MIDI_OK;
}

int osMidiInAddBuffer(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  int i = findIn("midiInAddBuffer", handle);
  if (i < 0) return OS_MIDI_INVALHANDLE;
  if (!header || (!header->data && header->bufferLength > 0)) return OS_MIDI_INVALPARAM;
  if (!(header->flags & OS_MHDR_PREPARED)) return OS_MIDI_UNPREPARED;
  if (header->flags & OS_MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  header->flags = (header->flags & ~static_cast<uint32_t>(OS_MHDR_DONE)) | OS_MHDR_INQUEUE;
  header->bytesRecorded = 0;
  machine.ins[i].queue.push_back({header, header->bufferLength});
  return OS_MIDI_OK;
}

int osMidiInStart(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  int i = findIn("midiInStart", handle);
  if (i < 0) return OS_MIDI_INVALHANDLE;
  machine.ins[i].started = true;
  return OS_MIDI_OK;
}

int osMidiInReset(MidiHandle handle) {
  std::unique_lock<std::mutex> lock(machineLock);
  if (findIn("midiInReset", handle) < 0) return OS_MIDI_INVALHANDLE;
  int i = waitInputIdle(lock, handle);
  if (i < 0) return OS_MIDI_INVALHANDLE;
  SimInDevice& d = machine.ins[i];
  d.started = false;
  std::deque<SimHeaderUse> returned;
  returned.swap(d.queue);
  for (SimHeaderUse& q : returned) {
    q.header->bytesRecorded = 0;
    q.header->flags = (q.header->flags & ~static_cast<uint32_t>(OS_MHDR_INQUEUE)) | OS_MHDR_DONE;
  }
  if (returned.empty()) return OS_MIDI_OK;
  Delivery reset = beginDelivery(i);
  lock.unlock();
  for (const SimHeaderUse& q : returned) deliver(reset, OS_MIM_LONGDATA, reinterpret_cast<uintptr_t>(q.header), 0);
  endDelivery(reset);
  return OS_MIDI_OK;
}

int osMidiInUnprepare(MidiHandle handle, MidiHeader* header) {
  std::lock_guard<std::mutex> lock(machineLock);
  if (findIn("midiInUnprepare", handle) < 0) return OS_MIDI_INVALHANDLE;
  if (!header) return OS_MIDI_INVALPARAM;
  return markHeaderUnprepared(header);
}

int osMidiInClose(MidiHandle handle) {
  std::unique_lock<std::mutex> lock(machineLock);
  if (findIn("midiInClose", handle) < 0) return OS_MIDI_INVALHANDLE;
  int i = waitInputIdle(lock, handle);
  if (i < 0) return OS_MIDI_INVALHANDLE;
  SimInDevice& d = machine.ins[i];
  // The device still owns queued buffers: it refuses to close until reset.
  if (!d.queue.empty()) return OS_MIDI_STILLPLAYING;
  Delivery close = beginDelivery(i);
  d.handle = 0;
  d.callback = nullptr;
  d.instance = 0;
  d.started = false;
  lock.unlock();
  deliver(close, OS_MIM_CLOSE, 0, 0);
  endDelivery(close);
  return OS_MIDI_OK;
}

// ---- Serial ports.

// Port number of "COMn" (n 1..9) or "\\.\COMn"; 0 when the name names no port.
static int serialNumber(const char* name) {
  bool prefixed = std::strncmp(name, "\\\\.\\", 4) == 0;
  const char* p = prefixed ? name + 4 : name;
  if ((p[0] | 0x20) != 'c' || (p[1] | 0x20) != 'o' || (p[2] | 0x20) != 'm') return 0;
  p += 3;
  int number = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++) number = number * 10 + (*p - '0');
  if (*p != '\0' || digits == 0) return 0;
  // Only COM1..COM9 are known without the device-namespace prefix.
  if (!prefixed && number > 9) return 0;
  return number;
}

int osSerialOpen(const char* deviceName, SerialHandle* handle) {
  assert(deviceName != nullptr && handle != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  note("serialOpen", deviceName);
  if (deviceName[0] == '\0') return kErrInvalidName;
  SimSerialPort* p = serialPort(serialNumber(deviceName));
  if (!p) return kErrFileNotFound;
  // No sharing: a port held by another program or already opened is refused.
  if (p->busy || p->handle != 0) return kErrAccessDenied;
  p->handle = newHandle();
  *handle = p->handle;
  return 0;
}

int osSerialConfigure(SerialHandle handle, int* failedStep) {
  assert(failedStep != nullptr);
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialByHandle(handle);
  note("serialConfigure", p ? comName(p->number) : "?");
  if (!p) {
    *failedStep = 1;
    return kErrInvalidHandle;
  }
  *failedStep = p->configureStep;
  return p->configureStep ? p->configureCode : 0;
}

int osSerialWrite(SerialHandle handle, const uint8_t* bytes, int count) {
  assert(count >= 0 && (bytes != nullptr || count == 0));
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialByHandle(handle);
  note("serialWrite", p ? comName(p->number) : "?");
  if (!p) {
    serialError = kErrInvalidHandle;
    return -1;
  }
  if (takeFault(p->failWrites)) {
    serialError = kErrWriteFault;
    return -1;
  }
  int n = count;
  if (takeFault(p->partialWrites)) {
    // A write that timed out: part of the bytes went, the call succeeded.
    n = count / 2;
    serialError = kErrCounterTimeout;
  }
  p->bytes.insert(p->bytes.end(), bytes, bytes + n);
  return n;
}

void osSerialClose(SerialHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimSerialPort* p = serialByHandle(handle);
  note("serialClose", p ? comName(p->number) : "?");
  if (p) p->handle = 0;
}

int osSerialLastError(void) { return serialError; }
