// Report of the ports that failed to open, in English or Japanese.
#include "midi/port_report.h"

#include <cassert>
#include <cstdio>
#include <cstring>

#include "support/log.h"
#include "midi/os_midi.h"
#include "midi/ports.h"

namespace {

enum { kLanguageJapanese = 1041 };

// "The following MIDI outputs could not be opened: "
const char kOutHeadJa[] =
    "\x8e\x9f\x82\xcc MIDI \x8f\x6f\x97\xcd\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd"
    "\x81\x46 \n";
// "The following MIDI inputs could not be opened: "
const char kInHeadJa[] =
    "\x8e\x9f\x82\xcc MIDI \x93\xfc\x97\xcd\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd"
    "\x81\x46 \n";
// "To enable the ports other than the above and continue, press OK."
const char kTailJa[] =
    "\x8f\xe3\x8b\x4c\x88\xc8\x8a\x4f\x82\xcc\x83\x7c\x81\x5b\x83\x67\x82\xf0\x97\x4c\x8c\xf8\x82\xc9\x82\xb5\x82\xc4"
    "\x81\x41\x8c\x70\x91\xb1\x82\xb7\x82\xe9\x8f\xea\x8d\x87\x82\xcd OK \x82\xf0\x89\x9f\x82\xb5\x82\xc4\x82\xad\x82"
    "\xbe\x82\xb3\x82\xa2. ";

// "MIDI devices there are:"
const char kDevicesJa[] = "\x8eg\x97p\x82\xc5\x82\xab\x82\xe9 MIDI \x8b@\x8a\xed:";

const char kOutHeadEn[] = "Cannot open MIDI OUT Device(s): \n";
const char kInHeadEn[] = "Cannot open MIDI IN Device(s): \n";
const char kTailEn[] = "Click OK, if you continue and enable port(s) other than the above. ";

// Appends to a text of fixed size; once something does not fit, nothing more does.
struct Appender {
  char* text;     // destination
  int size;       // bytes of the destination
  int length;     // bytes written, without terminator
  bool overflow;  // something did not fit
};

void appendText(Appender& out, const char* piece) {
  if (out.overflow) return;
  const int room = out.size - out.length;
  const int n = std::snprintf(out.text + out.length, static_cast<size_t>(room), "%s", piece);
  if (n < 0 || n >= room) {
    out.overflow = true;
    return;
  }
  out.length += n;
}

// One port line: "  OUT%d: %s  \n" or "  IN%d: %s  \n".
void appendPort(Appender& out, const char* kind, int number, const char* name) {
  char line[kPortNameSize + 32];
  std::snprintf(line, sizeof line, "  %s%d: %s  \n", kind, number, name);
  appendText(out, line);
}

// A name field as a string of at most 127 bytes, terminated in copy.
const char* portName(const char* field, char* copy) {
  std::memcpy(copy, field, kPortNameSize - 1);
  copy[kPortNameSize - 1] = 0;
  return copy;
}

// The names of the devices there are, one line after the report:
// "\nMIDI devices: IN: a, b; OUT: c ". Names beyond the line's room are left
// out ("..."); a line that does not fit after the report is left out.
void appendDevices(Appender& out, bool japanese) {
  static char line[4096];  // window thread only
  size_t length = 0;
  // Keeps room for "... " and the terminator.
  auto add = [&length](const char* piece) {
    const size_t n = std::strlen(piece);
    if (length + n + 5 > sizeof line) return false;
    std::memcpy(line + length, piece, n);
    length += n;
    return true;
  };
  add("\n");
  add(japanese ? kDevicesJa : "MIDI devices:");
  bool cut = false;
  for (int input = 1; input >= 0 && !cut; input--) {
    add(input ? " IN:" : "; OUT:");
    const int count = input ? osMidiInCount() : osMidiOutCount();
    int shown = 0;
    for (int i = 0; i < count && !cut; i++) {
      MidiDeviceCaps caps;
      if ((input ? osMidiInCaps(i, &caps) : osMidiOutCaps(i, &caps)) != OS_MIDI_OK) continue;
      cut = !add(shown++ ? ", " : " ") || !add(caps.name);
    }
    if (shown == 0) add(" -");
  }
  std::snprintf(line + length, 5, "%s", cut ? "... " : " ");
  if (static_cast<int>(std::strlen(line)) < out.size - out.length) appendText(out, line);
}

}  // namespace

int buildPortReport(char* text, int size, int languageId, bool withDevices) {
  assert(text != nullptr && size >= 1);
  const bool japanese = languageId == kLanguageJapanese;
  Appender out = {text, size, 0, false};
  char name[kPortNameSize];
  text[0] = 0;

  bool anyOut = false;
  for (int k = 0; k < outPortCount; k++) anyOut = anyOut || outPorts[k].failed;
  if (anyOut) {
    appendText(out, japanese ? kOutHeadJa : kOutHeadEn);
    for (int k = 0; k < outPortCount; k++) {
      if (outPorts[k].failed) appendPort(out, "OUT", k + 1, portName(outPorts[k].name, name));
    }
  }
  bool anyIn = false;
  for (int k = 0; k < inPortCount; k++) anyIn = anyIn || inPorts[k].failed;
  if (anyIn) {
    appendText(out, japanese ? kInHeadJa : kInHeadEn);
    for (int k = 0; k < inPortCount; k++) {
      if (inPorts[k].failed) appendPort(out, "IN", k + 1, portName(inPorts[k].name, name));
    }
  }
  appendText(out, japanese ? kTailJa : kTailEn);
  if (withDevices && !out.overflow) appendDevices(out, japanese);
  if (out.overflow) {
    log("Port report needs more than %d bytes.\n", size);
    text[0] = 0;
    return -1;
  }
  return out.length;
}
