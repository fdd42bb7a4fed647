// The opening sequence of the configured ports, the two single-port opens,
// and the exit handler that closes them.
#include "midi/open_close.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

#include "support/exit.h"
#include "state/globals.h"
#include "support/log.h"
#include "support/os_system.h"
#include "midi/devices.h"
#include "midi/midi_errors.h"
#include "midi/os_midi.h"
#include "midi/out_lock.h"
#include "midi/ports.h"
#include "midi/senders.h"
#include "midi/serial.h"

namespace {

enum { kLanguageJapanese = 1041 };
constexpr uintptr_t kInstanceValue = 0x1231;  // instance value given at open (unused)

bool portCloserRegistered = false;  // closeAllPorts is in the exit list

}  // namespace

PortHooks portHooks = {nullptr, nullptr};

namespace {

void registerPortCloser(void) {
  if (!portCloserRegistered) {
    registerExitHandler(closeAllPorts);
    portCloserRegistered = true;
  }
}

// After a port that would not open: the diagnostic, then the window gets a
// chance to paint between two pauses.
void openFailed(void) {
  if (osUserLanguage() == kLanguageJapanese) {
    // "The MIDI device is in use by another application, or its device name does not exist."
    log("MIDI \x8f\x6f\x97\xcd\x82\xaa\x91\xbc\x82\xcc\x83\x41\x83\x76\x83\x8a\x83\x50\x81\x5b\x83\x56\x83\x87"
        "\x83\x93\x82\xc5\x8e\x67\x97\x70\x92\x86\x82\xa9\x81\x41\x83\x66\x83\x6f\x83\x43\x83\x58\x96\xbc\x82"
        "\xaa\x91\xb6\x8d\xdd\x82\xb5\x82\xdc\x82\xb9\x82\xf1.\n");
  } else {
    log("MIDI Device is Already Used by another application.\n");
  }
  osSleep(200);
  if (portHooks.pump != nullptr) portHooks.pump();
  osSleep(200);
}

// Allocates the 8192-byte buffer of a header (kept when one is already there).
bool allocateBuffer(MidiHeader& header) {
  if (header.data == nullptr) header.data = static_cast<uint8_t*>(std::malloc(kMidiBufferSize));
  if (header.data == nullptr) {
    log("out of memory.\n");
    return false;
  }
  header.bufferLength = kMidiBufferSize;
  return true;
}

// The index of the device named exactly name; -1 when there is none.
int deviceIndexOf(const char* name, bool input) {
  const int count = input ? osMidiInCount() : osMidiOutCount();
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps;
    if ((input ? osMidiInCaps(i, &caps) : osMidiOutCaps(i, &caps)) != 0) continue;
    caps.name[sizeof caps.name - 1] = 0;
    if (std::strcmp(caps.name, name) == 0) return i;
  }
  return -1;
}

// Keeps the name of the device a port opened on ("" when it cannot be asked).
void rememberDevice(char (&openName)[32], int device, bool input) {
  openName[0] = 0;
  MidiDeviceCaps caps;
  if ((input ? osMidiInCaps(device, &caps) : osMidiOutCaps(device, &caps)) != 0) return;
  caps.name[sizeof caps.name - 1] = 0;
  std::memcpy(openName, caps.name, sizeof caps.name);
}

// The device half of opening output k: everything but clearing `disabled`,
// which the caller does (under the output's lock when inputs may be routing).
int openOutDevice(int k, int deviceId) {
  OutPort& port = outPorts[k];
  port.handle = 0;
  if (!allocateBuffer(port.header) || !allocateBuffer(port.spareHeader)) return -1;
  registerPortCloser();
  // Without output devices the Windows mapper has nothing to map to, and its
  // open fails anyway; on Linux the mapper is a port of our own that exists
  // without any other device, so the platform's open decides for it.
  if (deviceId != kMidiMapper && osMidiOutCount() == 0) {
    log("No MIDI Output port found.\n");
    return -1;
  }
  port.openDeviceId = deviceId;
  MidiHandle handle = 0;
  osMidiNameNextPort(k + 1);
  if (osMidiOutOpen(&handle, deviceId) != 0) {
    log("MIDI Mapper Out Open Error.\n");
    return -1;
  }
  port.handle = handle;
  port.prepared = 0;
  port.sparePrepared = 0;
  port.lastStatus = -1;
  if (DispLevel >= 1) log("MIDI Outport Open OK. (%04X)\n", static_cast<unsigned>(handle));
  return 0;
}

}  // namespace

void resetOpenCloseState(void) { portCloserRegistered = false; }

int openOutPort(int k, int deviceId, int comPort) {
  assert(k >= 0 && k < kPortCount);
  OutPort& port = outPorts[k];
  port.openComPort = comPort;
  if (comPort >= 1) {
    port.handle = 0;
    registerPortCloser();
    port.prepared = 0;
    const int result = openSerialPort(k, comPort);
    port.lastStatus = -1;
    if (result == 0) port.disabled = 0;
    return result;
  }
  if (openOutDevice(k, deviceId) != 0) return -1;
  port.disabled = 0;
  return 0;
}

int openInPort(int k, int deviceId) {
  assert(k >= 0 && k < kPortCount);
  InPort& port = inPorts[k];
  port.handle = 0;
  registerPortCloser();
  port.prepared = 0;
  port.runningStatus = 0;
  port.header.flags = 0;
  port.spareHeader.flags = 0;
  port.closing = 0;
  // Two receive buffers: one stays queued while the other's message is handled.
  if (!allocateBuffer(port.header) || !allocateBuffer(port.spareHeader)) return -1;
  if (deviceId < 0 || deviceId >= osMidiInCount()) {
    log("No MIDI IN Device %d.\n", deviceId);
    return -1;
  }
  MidiHandle handle = 0;
  osMidiNameNextPort(k + 1);
  int result = osMidiInOpen(&handle, deviceId, portHooks.inputCallback, kInstanceValue);
  if (result != 0) {
    static const int named[] = {OS_MIDI_ALLOCATED, OS_MIDI_BADDEVICEID, OS_MIDI_INVALFLAG,
                                OS_MIDI_INVALHANDLE, OS_MIDI_INVALPARAM, OS_MIDI_NOMEM};
    log("MIDI Mapper In Open Error :");
    logMidiReason(result, named, 6);
    return -1;
  }
  port.handle = handle;
  port.prepared = 0;
  port.runningStatus = 0;
  port.header.flags = 0;
  port.spareHeader.flags = 0;

  result = osMidiInPrepare(port.handle, &port.header);
  if (result == 0) result = osMidiInPrepare(port.handle, &port.spareHeader);
  port.prepared = 1;  // counted also when the preparation failed: closing undoes it
  if (result != 0) {
    static const int named[] = {OS_MIDI_INVALHANDLE, OS_MIDI_INVALPARAM, OS_MIDI_NOMEM};
    log("Error Preparing Receiving msg Header for MIDI In :");
    logMidiReason(result, named, 3);
    return -1;
  }
  result = osMidiInAddBuffer(port.handle, &port.header);
  if (result == 0) result = osMidiInAddBuffer(port.handle, &port.spareHeader);
  if (result != 0) {
    log("Error Preparing Receiving Buffer for MIDI In :");
    if (result == OS_MIDI_STILLPLAYING) {
      log(" the Data still in the que.\n");
    } else {
      static const int named[] = {OS_MIDI_UNPREPARED, OS_MIDI_INVALHANDLE, OS_MIDI_INVALPARAM, OS_MIDI_NOMEM};
      logMidiReason(result, named, 4);
    }
    return -1;
  }
  if (osMidiInStart(port.handle) != 0) {
    log("MIDI Mapper In Starting Error.\n");
    return -1;
  }
  if (DispLevel >= 1) log("MIDI IN Port Open OK. (%04X)\n", static_cast<unsigned>(handle));
  return 0;
}

PortFailures openConfiguredPorts(void) {
  PortFailures failures = {0, 0};
  assert(outPortCount >= 0 && outPortCount <= kPortCount);
  assert(inPortCount >= 0 && inPortCount <= kPortCount);
  for (int k = 0; k < outPortCount; k++) {
    OutPort& port = outPorts[k];
    log(" OUT%d: \"%s\" (%d) => ", k + 1, port.name, static_cast<int>(std::strlen(port.name)));
    if (port.name[0] == 0) {
      log(" Cannot find Port \"%s\" for OUT%d:x.\n", port.name, k + 1);
      failures.outputs++;
      continue;
    }
    const int resolved = resolveOutName(k);
    // A device output (not the mapper, not a serial port) is followed: it
    // opens whenever its device comes, now or later.
    port.follow = port.comPort == 0 && (resolved != 0 || port.deviceId != kMidiMapper) ? 255 : 0;
    if (resolved != 0) {
      failures.outputs++;
      continue;
    }
    if (openOutPort(k, port.deviceId, port.comPort) != 0) {
      openFailed();
      failures.outputs++;
    } else {
      port.failed = 0;
      if (port.follow) rememberDevice(port.openName, port.deviceId, false);
    }
    osSleep(50);
  }
  osSleep(50);
  for (int k = 0; k < inPortCount; k++) {
    InPort& port = inPorts[k];
    log(" IN%d: \"%s\" (%d) => ", k + 1, port.name, static_cast<int>(std::strlen(port.name)));
    const int kind = resolveInName(k);
    if (kind == kInVirtual) continue;
    // A device input is followed; an empty name or a serial port's never opens.
    port.follow = kind == kInDevice || (port.name[0] != 0 && comPortNumber(port.name) == 0) ? 255 : 0;
    if (kind == kInFailed) {
      failures.inputs++;
      continue;
    }
    if (openInPort(k, port.deviceId) != 0) {
      openFailed();
      failures.inputs++;
    } else {
      port.failed = 0;
      rememberDevice(port.openName, port.deviceId, true);
    }
    osSleep(50);
  }
  osSleep(50);
  return failures;
}

void closeInPort(int k) {
  assert(k >= 0 && k < kPortCount);
  InPort& port = inPorts[k];
  // The reset hands the queued buffers back for good (the callback queues
  // no buffer of a closing input again) before they are released.
  markInputClosing(k);
  if (port.handle != 0 && osMidiInReset(port.handle) != 0) log("MIDI Mapper In Resetting Error.\n");
  if (port.prepared != 0) {
    osMidiInUnprepare(port.handle, &port.header);
    osMidiInUnprepare(port.handle, &port.spareHeader);
  }
  port.prepared = 0;
  if (port.handle != 0) {
    osMidiInClose(port.handle);
    port.handle = 0;
  }
  std::free(port.header.data);
  port.header.data = nullptr;
  std::free(port.spareHeader.data);
  port.spareHeader.data = nullptr;
  port.openName[0] = 0;
}

void closeOutPort(int k, bool disable) {
  assert(k >= 0 && k < kPortCount);
  MidiHandle handle = 0;
  {
    OutPortLock lock(k);
    OutPort& port = outPorts[k];
    if (disable) port.disabled = 255;
    port.openName[0] = 0;
    if (port.openComPort >= 1) {
      closeSerialPort(k);
      return;
    }
    // A long message still playing is given its time before the header goes.
    if (port.prepared != 0 || port.sparePrepared != 0) waitLongMessageDone(k);
    port.prepared = 0;
    port.sparePrepared = 0;
    handle = port.handle;
    port.handle = 0;
  }
  // The device closes after the output's lock is let go: the backend's close
  // may wait for its MIDI system (a JACK port's last cycles), and a send that
  // waited for the lock meanwhile would hold up its input. A send that comes
  // now finds no handle.
  if (handle != 0) osMidiOutClose(handle);
}

void closeAllPorts(void) {
  for (int k = inPortCount - 1; k >= 0; k--) closeInPort(k);
  for (int k = outPortCount - 1; k >= 0; k--) closeOutPort(k, false);
}

bool inDeviceGone(int k) {
  assert(k >= 0 && k < kPortCount);
  if (inPorts[k].handle != 0 && osMidiInLost(inPorts[k].handle)) return true;
  return inPorts[k].openName[0] != 0 && deviceIndexOf(inPorts[k].openName, true) < 0;
}

bool outDeviceGone(int k) {
  assert(k >= 0 && k < kPortCount);
  if (outPorts[k].handle != 0 && osMidiOutLost(outPorts[k].handle)) return true;
  return outPorts[k].openName[0] != 0 && deviceIndexOf(outPorts[k].openName, false) < 0;
}

int reopenInPort(int k) {
  assert(k >= 0 && k < kPortCount);
  InPort& port = inPorts[k];
  assert(port.follow && port.handle == 0);
  const int device = findInDevice(port.name);
  if (device < 0) return -1;
  port.deviceId = device;
  if (openInPort(k, device) != 0) {
    closeInPort(k);  // whatever of it did open
    return -1;
  }
  port.failed = 0;
  rememberDevice(port.openName, device, true);
  log(" IN%d: \"%s\" opened on MIDI IN Device %d.\n", k + 1, port.name, device);
  return 0;
}

int reopenOutPort(int k) {
  assert(k >= 0 && k < kPortCount);
  OutPort& port = outPorts[k];
  const int device = findOutDevice(port.name);
  if (device < 0) return -1;
  assert(port.follow && port.disabled);
  // Opened without the output's lock (the backend's open may wait for its MIDI
  // system): while `disabled` is set, sends leave the record alone, and
  // clearing it under the lock hands the opened port to them.
  port.deviceId = device;
  port.openComPort = 0;
  if (openOutDevice(k, device) != 0) return -1;  // nothing of it stays open
  {
    OutPortLock lock(k);  // inputs are routing to the outputs meanwhile
    port.disabled = 0;
  }
  port.failed = 0;
  rememberDevice(port.openName, device, false);
  log(" OUT%d: \"%s\" opened on MIDI OUT Device %d.\n", k + 1, port.name, device);
  return 0;
}
