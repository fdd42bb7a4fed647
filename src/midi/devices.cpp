// Device lookups and the classification of configured port names.
#include "midi/devices.h"

#include <cassert>
#include <cstring>

#include "support/log.h"
#include "midi/matching.h"
#include "midi/midi_errors.h"
#include "midi/os_midi.h"
#include "midi/ports.h"

namespace {

enum { kCompletePass, kHeadingPass, kPartialPass, kMakerPass, kPassCount };

const char* const inMatchTexts[kPassCount] = {
    "Complete match: %s => IN%d. (%s)\n",
    "Heading match: %s => IN%d. (%s)\n",
    "Partial match: %s => IN%d. (%s)\n",
    "Maker match: %s => IN%d. (%s)\n",
};
const char* const outMatchTexts[kPassCount] = {
    "Complete match: %s => OUT%d. (%s)\n",
    "Heading match: %s => OUT%d. (%s)\n",
    "Partial match: %s => OUT%d. (%s)\n",
    "Maker match: %s => OUT%d. (%s)\n",
};

bool makerMatches(const char* name, int manufacturer) {
  return (matchHead(name, "YAMAHA") && manufacturer == OS_MM_YAMAHA) ||
         (matchHead(name, "ROLAND") && manufacturer == OS_MM_ROLAND) ||
         (matchHead(name, "KORG") && manufacturer == OS_MM_KORG);
}

bool passMatches(int pass, const char* name, const MidiDeviceCaps& caps) {
  switch (pass) {
    case kCompletePass: return std::strcmp(caps.name, name) == 0;
    case kHeadingPass: return matchHead(caps.name, name);
    case kPartialPass: return matchPart(caps.name, name);
    default: return makerMatches(name, caps.manufacturer);
  }
}

int findDevice(const char* name, bool input) {
  assert(name != nullptr);
  const int count = input ? osMidiInCount() : osMidiOutCount();
  for (int pass = 0; pass < kPassCount; pass++) {
    for (int i = 0; i < count; i++) {
      MidiDeviceCaps caps;
      const int result = input ? osMidiInCaps(i, &caps) : osMidiOutCaps(i, &caps);
      if (result != 0) {
        logCapsError(input, result);
        continue;
      }
      caps.name[sizeof caps.name - 1] = 0;
      if (passMatches(pass, name, caps)) {
        log(input ? inMatchTexts[pass] : outMatchTexts[pass], name, i + 1, caps.name);
        return i;
      }
    }
  }
  return -1;
}

bool beginsWithCom(const char* name) {
  return (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
         (name[2] == 'M' || name[2] == 'm');
}

// Decimal number with leading blanks and a sign; stops at the first non-digit;
// no digits give 0. Large numbers stay large without overflowing.
int readDecimal(const char* text) {
  while (*text == ' ' || *text == '\t') text++;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    if (value < 100000) value = value * 10 + (*text - '0');
  }
  return negative ? -value : value;
}

[[maybe_unused]] bool nameIsTerminated(const char* name) { return std::memchr(name, 0, kPortNameSize) != nullptr; }

}  // namespace

int findInDevice(const char* name) { return findDevice(name, true); }
int findOutDevice(const char* name) { return findDevice(name, false); }

int comPortNumber(const char* name) {
  if (!beginsWithCom(name)) return 0;
  const int number = readDecimal(name + 3);
  return number >= 1 && number <= 99 ? number : 0;
}

int resolveOutName(int k) {
  assert(k >= 0 && k < kPortCount);
  OutPort& port = outPorts[k];
  assert(nameIsTerminated(port.name) && port.name[0] != 0);
  port.comPort = 0;
  if (beginsWithCom(port.name)) {
    // A COM name without a number in 1..99 still goes to serial port 1.
    port.comPort = 1;
    port.deviceId = 0;
    const int number = comPortNumber(port.name);
    if (number != 0) {
      port.comPort = number;
      log(" OUT%d: assigned to COM%d.\n", k + 1, number);
    }
    return 0;
  }
  if (matchHead(port.name, "MIDIMAPPER") || matchHead(port.name, "MIDI MAPPER")) {
    port.deviceId = kMidiMapper;
    log(" OUT%d: assigned to MIDI OUT Device %d (MIDI MAPPER).\n", k + 1, port.deviceId);
    return 0;
  }
  port.deviceId = findOutDevice(port.name);
  if (port.deviceId == -1) {
    log(" Cannot find Port \"%s\" for OUT%d:x.\n", port.name, k + 1);
    return -1;
  }
  log(" OUT%d: assigned to MIDI OUT Device %d.\n", k + 1, port.deviceId);
  return 0;
}

int resolveInName(int k) {
  assert(k >= 0 && k < kPortCount);
  InPort& port = inPorts[k];
  assert(nameIsTerminated(port.name));
  if (port.deviceId == -1) {
    port.failed = 0;
    log(" IN%d: assigned as VIRTUAL port.\n", k + 1);
    return kInVirtual;
  }
  if (port.name[0] == 0) {
    log(" Cannot find Port \"%s\" for IN%d:x.\n", port.name, k + 1);
    return kInFailed;
  }
  if (comPortNumber(port.name) != 0) {
    log("Cannot assign COM port for MIDI input in this ver.\n");
    return kInFailed;
  }
  port.deviceId = findInDevice(port.name);
  if (port.deviceId == -1) {
    log(" Cannot find Port \"%s\" for IN%d:x.\n", port.name, k + 1);
    return kInFailed;
  }
  log(" IN%d: assigned to MIDI IN Device %d.\n", k + 1, port.deviceId);
  return kInDevice;
}
