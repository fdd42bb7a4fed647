// Device listings and the settings template writer.
#include "midi/template.h"

#include <cstdio>
#include <cstring>

#include "support/log.h"
#include "midi/midi_errors.h"
#include "midi/os_midi.h"
#include "support/file_io.h"
#include "support/os_system.h"
#include "support/sjis.h"

namespace {

enum { kTemplateDevices = 256, kTemplateNameSize = 256, kLineSize = 256 };

const char* const templateTail[] = {
    "-mX=1 -mY=1.0        // (multiplying sizes for X/Y) - display sizes \r\n",
    "-nMin=21 -nMax=108   // (noteMin-noteMax) - display note range 0-127 \r\n",
    "-soc                 // (stay on console) - for detailed info. display \r\n",
    "// -AllChMix   // fix 1st-row to display all MIDI channels 1-16 \r\n",
    "// -Ch1   // fix 1st-row display MIDI channel to Ch=1 \r\n",
    "// -Ch2   // fix 2nd-row display MIDI channel to Ch=2 \r\n",
    "// -Ch3   // fix 3rd-row display MIDI channel to Ch=3 \r\n",
};

char inDeviceNames[kTemplateDevices][kTemplateNameSize];  // input names, for marking outputs
int inDeviceNameCount = 0;                                  // names held
bool outputMarks[kTemplateDevices];                         // output named like an input

// One device of a listing to log: "%d: %s ", the maker, the driver version.
void logDevice(int index, const MidiDeviceCaps& caps) {
  log("%d: %s ", index, caps.name);
  if (caps.manufacturer == OS_MM_YAMAHA) log("(YAMAHA) ");
  if (caps.manufacturer == OS_MM_ROLAND) log("(Roland) ");
  if (caps.manufacturer == OS_MM_KORG) log("(KORG) ");
  log("(v%d.%d)\n", static_cast<int>(caps.driverVersion >> 8 & 0xFF), static_cast<int>(caps.driverVersion & 0xFF));
}

// Capabilities of a device, the name always terminated; failures go to log.
bool deviceCaps(bool input, int index, MidiDeviceCaps* caps) {
  const int result = input ? osMidiInCaps(index, caps) : osMidiOutCaps(index, caps);
  if (result != 0) {
    logCapsError(input, result);
    return false;
  }
  caps->name[sizeof caps->name - 1] = 0;
  return true;
}

void putLine(const char* format, int number, const char* name) {
  char line[kLineSize];
  std::snprintf(line, sizeof line, format, number, name);
  wfputs(line);
}

int listDevices(bool input) {
  const int count = input ? osMidiInCount() : osMidiOutCount();
  log(input ? "MIDI IN: %d device(s).\n" : "MIDI OUT: %d device(s).\n", count);
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps;
    if (deviceCaps(input, i, &caps)) logDevice(i, caps);
  }
  return count;
}

int writeInputSection(void) {
  inDeviceNameCount = 0;
  const int count = osMidiInCount();
  putLine("// --- MIDI IN: %d device(s).\r\n", count, "");
  log("MIDI IN: %d device(s).\n", count);
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps;
    if (!deviceCaps(true, i, &caps)) continue;
    logDevice(i, caps);
    if (inDeviceNameCount < kTemplateDevices) {
      std::snprintf(inDeviceNames[inDeviceNameCount++], kTemplateNameSize, "%s", caps.name);
    }
    putLine("-IN%d:\"%s\"\r\n", i + 1, caps.name);
  }
  wfputs("\r\n");
  return count;
}

int writeOutputSection(void) {
  std::memset(outputMarks, 0, sizeof outputMarks);
  int count = osMidiOutCount();
  putLine("// --- MIDI OUT: %d device(s).\r\n", count, "");
  log("MIDI OUT: %d device(s).\n", count);
  int number = 0;
  // Outputs named exactly like an input come first, open only.
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps;
    if (!deviceCaps(false, i, &caps)) continue;
    logDevice(i, caps);
    bool marked = false;
    for (int j = 0; j < inDeviceNameCount && !marked; j++) marked = std::strcmp(caps.name, inDeviceNames[j]) == 0;
    // Devices beyond the marks stay unmarked and are written commented out.
    if (!marked || i >= kTemplateDevices) continue;
    outputMarks[i] = true;
    putLine("-OUT%d:\"%s\":NO\r\n", ++number, caps.name);
  }
  count = osMidiOutCount();
  for (int i = 0; i < count; i++) {
    if (i < kTemplateDevices && outputMarks[i]) continue;
    MidiDeviceCaps caps;
    if (!deviceCaps(false, i, &caps)) continue;
    const char* format = "// -OUT%d:\"%s\":GM\r\n";
    if (caps.manufacturer == OS_MM_YAMAHA) format = "// -OUT%d:\"%s\":XG\r\n";
    if (caps.manufacturer == OS_MM_ROLAND) format = "// -OUT%d:\"%s\":GS\r\n";
    putLine(format, ++number, caps.name);
  }
  wfputs("\r\n");
  return count;
}

}  // namespace

int listMidiInDevices(void) { return listDevices(true); }
int listMidiOutDevices(void) { return listDevices(false); }

int writeSettingsTemplate(const char* path, const char16_t* pathW) {
  bool opened = wfopen(path) == 0;
  if (!opened) {
    log("Cannot open %s (WR). \n", path);
    log("Retrying opening %s (WR) ... \n", path);
    opened = wfwopen(pathW) == 0;
    if (opened) {
      log(" -- Opened. \n");
    } else {
      char narrow[600];
      wideToSjis(narrow, sizeof narrow, pathW);
      log("Cannot open %s (WR). \n", narrow);
    }
  }
  // Without a file the writer takes nothing: the devices still reach log.
  const int inputCount = writeInputSection();
  const int outputCount = writeOutputSection();
  for (const char* tail : templateTail) wfputs(tail);
  if (opened) wfclose();
  char told[700];
  if (opened) {
    std::snprintf(told, sizeof told, "wrote the settings template %s: %d MIDI input(s), %d MIDI output(s).", path,
                  inputCount, outputCount);
  } else {
    std::snprintf(told, sizeof told, "cannot write the settings template %s.", path);
  }
  osTellUser(told);
  return outputCount;
}
