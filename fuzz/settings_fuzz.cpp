// Fuzz target of the settings reader: the input is sonrack.ini, and start-up
// runs over it from the first reading through the opened ports and the second
// reading to the laid-out keyboard, on a sim machine with two inputs, two
// outputs and two serial ports; then notes are played on what it made. The input's hash picks the code page and
// whether a narrow open fails (so the wide name is read).
#include <cstring>
#include <string>

#include "app/reset.h"
#include "support/exit.h"
#include "state/globals.h"
#include "app/startup.h"
#include "display/geometry.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "engine/engine.h"
#include "state/tables.h"
#include "fuzz_common.h"
#include "midi/ports.h"
#include "platform/sim/sim.h"

namespace {

bool terminated(const char* text, int size) { return std::memchr(text, 0, static_cast<size_t>(size)) != nullptr; }

// What a reading promises about the tables it writes, whatever the file says.
void checkSettings() {
  FUZZ_CHECK(maxcolumns >= 0 && maxcolumns <= kChannelCount);
  for (int c = 0; c < kChannelCount; c++) {
    FUZZ_CHECK(columnChannel[c] >= -1 && columnChannel[c] < kChannelCount);
    FUZZ_CHECK(channelColumn[c] >= -1 && channelColumn[c] < kChannelCount);
  }
  FUZZ_CHECK(NoteMin >= 0 && NoteMin <= 127 && NoteMax >= 0 && NoteMax <= 127);
  FUZZ_CHECK(MagX >= 0 && MagX <= 20 && MagY >= 0 && MagY <= 200);
  FUZZ_CHECK(outPortCount >= 0 && outPortCount <= kPortCount);
  FUZZ_CHECK(inPortCount >= 0 && inPortCount <= kPortCount);
  for (int k = 0; k < kPortCount; k++) {
    FUZZ_CHECK(terminated(inPorts[k].name, kPortNameSize));
    FUZZ_CHECK(terminated(outPorts[k].name, kPortNameSize));
    FUZZ_CHECK(inPorts[k].channel >= 0 && inPorts[k].channel < kChannelCount);
  }
}

// Plays on what the settings made: notes at both ends of the range, the
// damper, on a few channels of both inputs (when the settings opened them),
// and the mouse on a grid of points of the keyboard.
void playOnIt() {
  for (int c : {0, 9, 15}) {
    for (int input = 0; input < 2; input++) {
      simMidiInShort(input, static_cast<uint32_t>(0x90 | c | NoteMin << 8 | 100 << 16), 0);
      simMidiInShort(input, static_cast<uint32_t>(0x90 | c | NoteMax << 8 | 100 << 16), 0);
      simMidiInShort(input, static_cast<uint32_t>(0xB0 | c | 64 << 8 | 127 << 16), 0);
      simMidiInShort(input, static_cast<uint32_t>(0x80 | c | NoteMin << 8), 0);
      simMidiInShort(input, static_cast<uint32_t>(0xB0 | c | 64 << 8), 0);
    }
  }
  const int width = keyboardWidth;
  const int height = keyboardHeight;
  for (int x : {0, width / 3, width - 1}) {
    for (int y : {0, height / 2, height - 1}) {
      const KeyHit hit = hitTest(x, y);
      if (hit.channel < 0 || hit.channel > 15 || hit.note < 0 || hit.note > 127) continue;
      playMouseNote(hit.channel, hit.note);
      releaseMouseNote(hit.channel, hit.note);
    }
  }
}

std::string fileBytes(const char* name) {
  std::string bytes;
  FILE* f = std::fopen((fuzz::hostDir() + "/" + name).c_str(), "rb");
  if (f == nullptr) return "<missing>";
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t h = fuzz::hashOf(data, size);
  simReset();
  simSetCodePage(h & 1 ? 932 : 0);
  simAddMidiIn("Keys A");
  simAddMidiIn("Keys B");
  simAddMidiOut("Synth A");
  simAddMidiOut("Synth B");
  simAddSerialPort(1);
  simAddSerialPort(2);
  simSetCommandLine((fuzz::simDir() + "notalumen.exe").c_str());
  fuzz::writeFile("sonrack.ini", data, size);
  try {
    startupPaths();
    resetGlobalState();
    startupWindow();
    if (h & 2) simFailFileOpens(1);  // the first reading by the wide name
    startupSettings();
    checkSettings();
    startupPorts();
    if (h & 4) simFailFileOpens(1);  // the second reading by the wide name
    startupSecondReading();
    checkSettings();
    startupKeyboard();
    playOnIt();
    exitProgram(0);
  } catch (const SimExit&) {
  }
  // A -LIST met while the file is being read never overwrites it.
  FUZZ_CHECK(fileBytes("sonrack.ini") == std::string(reinterpret_cast<const char*>(data), size));
  resetGlobalState();
  return 0;
}
