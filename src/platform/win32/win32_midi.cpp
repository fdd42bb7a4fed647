// Windows MIDI services on winmm: enumeration, open and close by index, short
// and long sends, and input notifications through one MidiInProc trampoline.
// Each prepared MidiHeader is stood for by a MIDIHDR in a fixed table, so no
// send or delivery allocates.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cassert>
#include <cstring>
#include <mutex>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/win32/win32.h"

namespace {

enum { kHeaderSlots = 64, kInputSlots = 32 };  // headers: two per input and two per output

// The MIDIHDR that winmm sees for one of our headers. Our header's data and
// length are copied in when it is prepared (and, for inputs, added); the
// byte count and flags are copied back whenever winmm may have changed them,
// so our header mirrors the real one and its owner may clear its own flags
// without disturbing winmm's bookkeeping.
struct HeaderSlot {
  std::atomic<MidiHeader*> owner;  // header this slot stands for, 0 = free
  std::atomic<MidiHandle> device;  // handle it was prepared on
  MIDIHDR hdr;                     // what winmm sees (dwUser points back here)
};

// An open input: what the trampoline hands each notification to.
struct InputSlot {
  std::atomic<bool> used;          // taken from open until a successful close
  std::atomic<MidiHandle> handle;  // the open input, 0 while opening
  MidiInCallback callback;         // our callback, 0 = none
  uintptr_t instance;       // instance value given at open
};

HeaderSlot headerSlots[kHeaderSlots];
InputSlot inputSlots[kInputSlots];
// Serialises copying a MIDIHDR's state back into its owner: winmm's threads
// (done and long-data notifications) and ours both do it, and an older copy
// must not overwrite a newer one.
std::mutex syncLock;

static_assert(OS_MHDR_DONE == MHDR_DONE && OS_MHDR_PREPARED == MHDR_PREPARED && OS_MHDR_INQUEUE == MHDR_INQUEUE,
              "header flags are mirrored bit for bit");
static_assert(OS_MIM_OPEN == MIM_OPEN && OS_MIM_LONGERROR == MIM_LONGERROR, "notifications pass through unchanged");
static_assert(OS_MIDI_STILLPLAYING == MIDIERR_STILLPLAYING && OS_MIDI_UNPREPARED == MIDIERR_UNPREPARED &&
                  OS_MIDI_NOTREADY == MIDIERR_NOTREADY,
              "result codes pass through unchanged");

HMIDIIN inHandle(MidiHandle h) { return reinterpret_cast<HMIDIIN>(h); }
HMIDIOUT outHandle(MidiHandle h) { return reinterpret_cast<HMIDIOUT>(h); }

// winmm's threads write dwFlags behind our back.
DWORD flagsOf(const HeaderSlot* slot) { return *static_cast<const volatile DWORD*>(&slot->hdr.dwFlags); }

HeaderSlot* slotOf(const MidiHeader* header) {
  for (HeaderSlot& s : headerSlots) {
    if (s.owner.load() == header) return &s;
  }
  return nullptr;
}

HeaderSlot* claimSlot(MidiHeader* header) {
  for (HeaderSlot& s : headerSlots) {
    MidiHeader* expected = nullptr;
    if (s.owner.compare_exchange_strong(expected, header)) return &s;
  }
  log("Too many MIDI headers prepared at once (%d).\n", kHeaderSlots);
  return nullptr;
}

void syncBack(HeaderSlot* slot) {
  std::lock_guard<std::mutex> lock(syncLock);
  MidiHeader* owner = slot->owner.load();
  if (!owner) return;
  owner->bytesRecorded = slot->hdr.dwBytesRecorded;
  owner->flags = flagsOf(slot);
}

void releaseSlot(HeaderSlot* slot) {
  std::lock_guard<std::mutex> lock(syncLock);
  slot->owner.store(nullptr);
}

// The owner of a MIDIHDR that winmm hands back, brought up to date; 0 when
// the MIDIHDR is none of ours.
MidiHeader* ownerOf(DWORD_PTR param) {
  MIDIHDR* hdr = reinterpret_cast<MIDIHDR*>(param);
  if (!hdr) return nullptr;
  uintptr_t at = hdr->dwUser;
  uintptr_t first = reinterpret_cast<uintptr_t>(headerSlots);
  if (at < first || at >= first + sizeof headerSlots || (at - first) % sizeof(HeaderSlot) != 0) return nullptr;
  HeaderSlot* slot = reinterpret_cast<HeaderSlot*>(at);
  if (&slot->hdr != hdr) return nullptr;
  std::lock_guard<std::mutex> lock(syncLock);
  MidiHeader* owner = slot->owner.load();
  if (!owner) return nullptr;
  owner->bytesRecorded = hdr->dwBytesRecorded;
  owner->flags = flagsOf(slot);
  return owner;
}

// The slot of a header prepared on this device, or a fresh one filled from
// the header; 0 when the table is full. *prepared tells which.
HeaderSlot* slotForPrepare(MidiHandle handle, MidiHeader* header, bool* prepared) {
  HeaderSlot* slot = slotOf(header);
  // A header still marked prepared on a device since closed is prepared anew.
  *prepared = slot && slot->device == handle && (flagsOf(slot) & MHDR_PREPARED);
  if (*prepared) return slot;
  if (!slot) slot = claimSlot(header);
  if (!slot) return nullptr;
  std::memset(&slot->hdr, 0, sizeof slot->hdr);
  slot->device = handle;
  slot->hdr.lpData = reinterpret_cast<LPSTR>(header->data);
  slot->hdr.dwBufferLength = header->bufferLength;
  slot->hdr.dwUser = reinterpret_cast<DWORD_PTR>(slot);
  return slot;
}

// Headers left prepared on a device that closed stand for nothing any more.
void releaseSlotsOf(MidiHandle handle) {
  for (HeaderSlot& s : headerSlots) {
    if (s.owner.load() && s.device == handle) releaseSlot(&s);
  }
}

void copyCaps(const char* name, WORD manufacturer, MMVERSION version, MidiDeviceCaps* caps) {
  std::memset(caps, 0, sizeof *caps);
  // szPname is a fixed array that a driver may fill to the last byte: copy at
  // most 31 bytes. A loop, because GCC at -O3 rejects the equivalent strncpy
  // (-Wstringop-truncation) although cutting the name is what it is for.
  for (size_t i = 0; i + 1 < sizeof caps->name && name[i] != 0; i++) caps->name[i] = name[i];
  caps->manufacturer = manufacturer;
  caps->driverVersion = version;
}

// Long-data and long-error notifications carry the MIDIHDR: our callback gets
// the MidiHeader it stands for, updated first.
void CALLBACK midiInTrampoline(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                               DWORD_PTR param2) {
  const InputSlot* in = reinterpret_cast<const InputSlot*>(instance);
  if (!in || !in->callback) return;
  uintptr_t first = param1;
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    MidiHeader* owner = ownerOf(param1);
    if (!owner) return;
    first = reinterpret_cast<uintptr_t>(owner);
  }
  in->callback(reinterpret_cast<MidiHandle>(handle), message, in->instance, first, param2);
}

// Outputs are opened with this callback only so that the done bit of a long
// message reaches our header when the device finishes (winmm sets it in the
// MIDIHDR alone).
void CALLBACK midiOutDone(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  if (message == MOM_DONE) ownerOf(param1);
}

}  // namespace

// Changed by the window's WM_DEVICECHANGE; winmm itself says nothing when a
// device comes or goes (a removed device's open handle just stops working).
static std::atomic<uint32_t> deviceGeneration(0);

void win32MidiDevicesChanged(void) { deviceGeneration.fetch_add(1); }

uint32_t osMidiDeviceGeneration(void) { return deviceGeneration.load(); }

// winmm does not tell whether a device went and came back between two looks.
bool osMidiInLost(MidiHandle handle) {
  (void)handle;
  return false;
}

bool osMidiOutLost(MidiHandle handle) {
  (void)handle;
  return false;
}

bool osMidiNamesDevicesInReport(void) { return false; }

int osMidiInCount(void) { return static_cast<int>(midiInGetNumDevs()); }
int osMidiOutCount(void) { return static_cast<int>(midiOutGetNumDevs()); }

int osMidiInCaps(int index, MidiDeviceCaps* caps) {
  assert(caps != nullptr);
  if (index < 0) return OS_MIDI_BADDEVICEID;
  MIDIINCAPSA c;
  std::memset(&c, 0, sizeof c);
  MMRESULT rc = midiInGetDevCapsA(static_cast<UINT_PTR>(index), &c, sizeof c);
  if (rc != MMSYSERR_NOERROR) return static_cast<int>(rc);
  copyCaps(c.szPname, c.wMid, c.vDriverVersion, caps);
  return OS_MIDI_OK;
}

int osMidiOutCaps(int index, MidiDeviceCaps* caps) {
  assert(caps != nullptr);
  if (index < kMidiMapper) return OS_MIDI_BADDEVICEID;
  MIDIOUTCAPSA c;
  std::memset(&c, 0, sizeof c);
  UINT_PTR id = index == kMidiMapper ? static_cast<UINT_PTR>(MIDI_MAPPER) : static_cast<UINT_PTR>(index);
  MMRESULT rc = midiOutGetDevCapsA(id, &c, sizeof c);
  if (rc != MMSYSERR_NOERROR) return static_cast<int>(rc);
  copyCaps(c.szPname, c.wMid, c.vDriverVersion, caps);
  return OS_MIDI_OK;
}

// The ports of this MIDI system are its devices': nothing of ours to name.
void osMidiNameNextPort(int number) { (void)number; }

int osMidiOutOpen(MidiHandle* handle, int index) {
  assert(handle != nullptr);
  if (index < kMidiMapper) return OS_MIDI_BADDEVICEID;
  HMIDIOUT h = nullptr;
  UINT id = index == kMidiMapper ? MIDI_MAPPER : static_cast<UINT>(index);
  MMRESULT rc = midiOutOpen(&h, id, reinterpret_cast<DWORD_PTR>(&midiOutDone), 0, CALLBACK_FUNCTION);
  if (rc != MMSYSERR_NOERROR) return static_cast<int>(rc);
  *handle = reinterpret_cast<MidiHandle>(h);
  return OS_MIDI_OK;
}

int osMidiOutShort(MidiHandle handle, uint32_t word) {
  return static_cast<int>(midiOutShortMsg(outHandle(handle), static_cast<DWORD>(word)));
}

int osMidiOutPrepare(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  bool prepared = false;
  HeaderSlot* slot = slotForPrepare(handle, header, &prepared);
  if (!slot) return OS_MIDI_NOMEM;
  if (!prepared) {
    MMRESULT rc = midiOutPrepareHeader(outHandle(handle), &slot->hdr, sizeof slot->hdr);
    if (rc != MMSYSERR_NOERROR) {
      releaseSlot(slot);
      return static_cast<int>(rc);
    }
  }
  syncBack(slot);
  return OS_MIDI_OK;
}

int osMidiOutLong(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  HeaderSlot* slot = slotOf(header);
  if (!slot || slot->device != handle) return OS_MIDI_UNPREPARED;
  assert(reinterpret_cast<uint8_t*>(slot->hdr.lpData) == header->data);
  // A header the device still plays sits in the driver's queue: it is never
  // handed over a second time.
  if (flagsOf(slot) & MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  MMRESULT rc = midiOutLongMsg(outHandle(handle), &slot->hdr, sizeof slot->hdr);
  syncBack(slot);
  return static_cast<int>(rc);
}

int osMidiOutUnprepare(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  HeaderSlot* slot = slotOf(header);
  if (!slot) return OS_MIDI_OK;  // never prepared: nothing to undo, as winmm answers
  MMRESULT rc = midiOutUnprepareHeader(outHandle(handle), &slot->hdr, sizeof slot->hdr);
  syncBack(slot);
  if (rc == MMSYSERR_NOERROR) releaseSlot(slot);
  return static_cast<int>(rc);
}

int osMidiOutClose(MidiHandle handle) {
  MMRESULT rc = midiOutClose(outHandle(handle));
  if (rc == MMSYSERR_NOERROR) releaseSlotsOf(handle);
  return static_cast<int>(rc);
}

int osMidiInOpen(MidiHandle* handle, int index, MidiInCallback callback, uintptr_t instance) {
  assert(handle != nullptr);
  if (index < 0) return OS_MIDI_BADDEVICEID;  // inputs have no mapper
  InputSlot* in = nullptr;
  for (InputSlot& s : inputSlots) {
    bool expected = false;
    if (s.used.compare_exchange_strong(expected, true)) {
      in = &s;
      break;
    }
  }
  if (!in) {
    log("Too many MIDI inputs open at once (%d).\n", kInputSlots);
    return OS_MIDI_NOMEM;
  }
  // Filled before the open: the open notification arrives inside midiInOpen.
  in->handle.store(0);
  in->callback = callback;
  in->instance = instance;
  HMIDIIN h = nullptr;
  MMRESULT rc = midiInOpen(&h, static_cast<UINT>(index), reinterpret_cast<DWORD_PTR>(&midiInTrampoline),
                           reinterpret_cast<DWORD_PTR>(in), CALLBACK_FUNCTION);
  if (rc != MMSYSERR_NOERROR) {
    in->used.store(false);
    return static_cast<int>(rc);
  }
  in->handle.store(reinterpret_cast<MidiHandle>(h));
  *handle = reinterpret_cast<MidiHandle>(h);
  return OS_MIDI_OK;
}

int osMidiInPrepare(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  bool prepared = false;
  HeaderSlot* slot = slotForPrepare(handle, header, &prepared);
  if (!slot) return OS_MIDI_NOMEM;
  if (!prepared) {
    MMRESULT rc = midiInPrepareHeader(inHandle(handle), &slot->hdr, sizeof slot->hdr);
    if (rc != MMSYSERR_NOERROR) {
      releaseSlot(slot);
      return static_cast<int>(rc);
    }
  }
  syncBack(slot);
  return OS_MIDI_OK;
}

int osMidiInAddBuffer(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  HeaderSlot* slot = slotOf(header);
  if (!slot || slot->device != handle) return OS_MIDI_UNPREPARED;
  assert(reinterpret_cast<uint8_t*>(slot->hdr.lpData) == header->data);
  if (flagsOf(slot) & MHDR_INQUEUE) return OS_MIDI_STILLPLAYING;
  // The driver reads the length when the buffer is queued.
  slot->hdr.dwBufferLength = header->bufferLength;
  MMRESULT rc = midiInAddBuffer(inHandle(handle), &slot->hdr, sizeof slot->hdr);
  syncBack(slot);
  return static_cast<int>(rc);
}

int osMidiInStart(MidiHandle handle) { return static_cast<int>(midiInStart(inHandle(handle))); }

int osMidiInReset(MidiHandle handle) {
  // Queued buffers come back through the trampoline, which updates our headers.
  return static_cast<int>(midiInReset(inHandle(handle)));
}

int osMidiInUnprepare(MidiHandle handle, MidiHeader* header) {
  assert(header != nullptr);
  HeaderSlot* slot = slotOf(header);
  if (!slot) return OS_MIDI_OK;
  MMRESULT rc = midiInUnprepareHeader(inHandle(handle), &slot->hdr, sizeof slot->hdr);
  syncBack(slot);
  if (rc == MMSYSERR_NOERROR) releaseSlot(slot);
  return static_cast<int>(rc);
}

int osMidiInClose(MidiHandle handle) {
  // The close notification arrives inside midiInClose: the input's slot is
  // released only afterwards.
  MMRESULT rc = midiInClose(inHandle(handle));
  if (rc != MMSYSERR_NOERROR) return static_cast<int>(rc);
  releaseSlotsOf(handle);
  for (InputSlot& s : inputSlots) {
    if (s.used.load() && s.handle.load() == handle) {
      s.handle.store(0);
      s.used.store(false);
    }
  }
  return OS_MIDI_OK;
}
