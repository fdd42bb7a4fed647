// Set-up and tear-down of the sim machine for the benchmarks, and the scratch
// files they read.
#include "bench_machine.h"

#include "app/reset.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "state/globals.h"
#include "support/log.h"
#include "display/geometry.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "state/tables.h"
#include "midi/open_close.h"
#include "midi/ports.h"
#include "midi/serial.h"
#include "platform/sim/sim.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "bench: %s\n", what);
  std::abort();
}

}  // namespace

void benchOpenMachine(int inputs, int outputs, BenchDisplay display) {
  simReset();
  resetGlobalState();
  char name[32];
  for (int i = 0; i < inputs; i++) {
    std::snprintf(name, sizeof name, "Keys %d", i + 1);
    simAddMidiIn(name);
    std::snprintf(inPorts[i].name, kPortNameSize, "%s", name);
    inPorts[i].configured = 255;
  }
  for (int k = 0; k < outputs; k++) {
    std::snprintf(name, sizeof name, "Synth %d", k + 1);
    simAddMidiOut(name);
    std::snprintf(outPorts[k].name, kPortNameSize, "%s", name);
    outPorts[k].configured = 255;
  }
  inPortCount = inputs;
  outPortCount = outputs;
  PortFailures f = openConfiguredPorts();
  if (f.inputs != 0 || f.outputs != 0) fail("a port did not open");
  if (display != kBenchNoWindow) {
    if (createKeyboardWindow(407, 50, "Notalumen ") != 0) fail("no window");
    setKeyRange(NoteMin, NoteMax);
    resizeKeyboardWindow(gxright - gxleft + 1, keyHeight);
    relayoutKeyboard();
  }
  if (display == kBenchNoColumn) fixedColumns = 255;  // as "-Ch" options naming no channel that plays
  logQuiet = 255;  // as once the ports are open at start-up
  simRecordMidiOutput(false);
  simClearPauses();
}

void benchCloseMachine(void) {
  closeAllPorts();
  destroyKeyboardWindow();
  resetKeyboardDisplay();
  resetGlobalState();
  simReset();
}

void benchTakeEveryChannel(void) {
  for (int c = 0; c < kChannelCount; c++) {
    simMidiInShort(0, benchNoteWord(1, c, 60, 100), 0);
    simMidiInShort(0, benchNoteWord(0, c, 60, 0), 0);
  }
  simClearPauses();
}

std::string benchMakeDir(void) {
  std::error_code ignored;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ignored)) base = std::filesystem::temp_directory_path();
  std::string pattern = (base / "notalumen-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) fail("no scratch directory");
  return pattern;
}

void benchRemoveDir(const std::string& hostDir) {
  std::error_code ignored;
  std::filesystem::remove_all(hostDir, ignored);
}

std::string benchSimPath(const std::string& hostPath) {
  std::string p = hostPath;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

void benchWriteFile(const std::string& hostPath, const std::string& bytes) {
  FILE* f = std::fopen(hostPath.c_str(), "wb");
  if (f == nullptr) fail("cannot write a scratch file");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}
