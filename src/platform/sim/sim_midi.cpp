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
#include "platform/sim/sim_midi_internal.h"
#include "platform/sim/sim_state.h"

namespace sim_midi {

std::mutex machineLock;              // guards machine; never held while a callback runs
std::condition_variable inputIdle;   // signalled when a delivery ends
std::atomic<uint32_t> deviceGeneration(0);  // changes as devices are added and removed
std::condition_variable serialUnstalled;  // signalled when a stalled serial port takes bytes again
SimMidiMachine machine;

// The short-send slots (see sim_midi_internal.h).
std::atomic<MidiHandle> quickOutSlots[kQuickSlots];
std::atomic<bool> quickSends(false);

thread_local int deliveryDepth = 0;  // callbacks running on this thread
thread_local int serialError = 0;    // error of this thread's last failed serial write

std::atomic<MidiHandle>& quickSlot(MidiHandle handle) {
  return quickOutSlots[(static_cast<uintptr_t>(handle) >> 4) % kQuickSlots];
}

void updateQuickSends() {
  quickSends.store(!machine.recordOutput && machine.failShort <= 0, std::memory_order_release);
}

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

}  // namespace sim_midi

using namespace sim_midi;

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
  deviceGeneration.fetch_add(1);
}

bool simRemoveMidiIn(const char* name) {
  std::lock_guard<std::mutex> lock(machineLock);
  for (size_t i = 0; i < machine.ins.size(); i++) {
    if (machine.ins[i].name != name) continue;
    // Its handle dies with it: later calls on it fail, nothing more arrives.
    machine.ins.erase(machine.ins.begin() + static_cast<std::ptrdiff_t>(i));
    deviceGeneration.fetch_add(1);
    return true;
  }
  return false;
}

bool simRemoveMidiOut(const char* name) {
  std::lock_guard<std::mutex> lock(machineLock);
  for (size_t i = 0; i < machine.outs.size(); i++) {
    if (machine.outs[i].name != name) continue;
    const int gone = static_cast<int>(i);
    machine.outs.erase(machine.outs.begin() + gone);
    // Handles open on it die; those on later devices follow their new index.
    std::vector<SimOutOpen> kept;
    for (SimOutOpen o : machine.openOuts) {
      if (o.device == gone) {
        quickSlot(o.handle).store(0, std::memory_order_release);
        continue;
      }
      if (o.device > gone) o.device--;
      kept.push_back(o);
    }
    machine.openOuts = kept;
    deviceGeneration.fetch_add(1);
    return true;
  }
  return false;
}

void simAddMidiOut(const char* name, int manufacturer, uint32_t driverVersion) {
  std::lock_guard<std::mutex> lock(machineLock);
  SimOutDevice d;
  d.name = name;
  d.manufacturer = manufacturer;
  d.driverVersion = driverVersion;
  machine.outs.push_back(std::move(d));
  deviceGeneration.fetch_add(1);
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

void simStallSerialPort(int number, bool stalled) {
  {
    std::lock_guard<std::mutex> lock(machineLock);
    SimSerialPort* p = serialPort(number);
    assert(p != nullptr);
    if (p) p->stalled = stalled;
  }
  serialUnstalled.notify_all();
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
