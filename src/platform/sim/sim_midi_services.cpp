// Sim MIDI services: the platform MIDI services over the scripted machine of
// sim_midi.cpp, each call recorded.
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

using namespace sim_midi;

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

// The ports of this MIDI system are its devices': nothing of ours to name.
void osMidiNameNextPort(int number) { (void)number; }

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

uint32_t osMidiDeviceGeneration(void) { return deviceGeneration.load(); }

// A handle dies with its device, so one that is no longer open lost it,
// whatever was plugged in since. Not noted among the calls: a look, not a use.
bool osMidiInLost(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  return inIndexOf(handle) < 0;
}

bool osMidiOutLost(MidiHandle handle) {
  std::lock_guard<std::mutex> lock(machineLock);
  return openOut(handle) == nullptr;
}

bool osMidiNamesDevicesInReport(void) { return false; }  // the Windows program's box

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
