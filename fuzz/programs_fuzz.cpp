// Fuzz target of the program-table reader: the input is a progrmNN.ini, read
// into a table the input's hash picks (by its narrow or its wide name, under
// code page 0 or 932) over leftovers of an earlier table; read again it must
// give the same table, and every program it assigns is then played to a MIDI
// output and a serial output.
#include <cstring>
#include <string>
#include <vector>

#include "app/reset.h"
#include "state/globals.h"
#include "config/program_reader.h"
#include "state/program_tables.h"
#include "engine/engine.h"
#include "engine/playback.h"
#include "fuzz_common.h"
#include "midi/open_close.h"
#include "midi/ports.h"
#include "platform/sim/sim.h"

namespace {

// What a table shows: assignments, lengths and the entries within the lengths.
std::vector<int32_t> visible(int t) {
  std::vector<int32_t> v;
  for (int k = 0; k < kTriggerCount; k++) v.push_back(keyProgram[t][k]);
  for (int p = 0; p < kProgramCount; p++) {
    v.push_back(programLength[t][p]);
    for (int i = 0; i < programLength[t][p]; i++) v.push_back(programData[t][p][i]);
  }
  return v;
}

void checkTable(int t) {
  for (int k = 0; k < kTriggerCount; k++) FUZZ_CHECK(keyProgram[t][k] >= 0 && keyProgram[t][k] < kProgramCount);
  FUZZ_CHECK(programLength[t][0] == 0);  // entries of program 0 are dropped
  for (int p = 0; p < kProgramCount; p++) {
    FUZZ_CHECK(programLength[t][p] >= 0 && programLength[t][p] <= kProgramMaxLength);
  }
}

// Leftovers of an earlier reading: every assignment and program filled.
void fillTable(int t, uint32_t seed) {
  for (int k = 0; k < kTriggerCount; k++) keyProgram[t][k] = static_cast<int16_t>((seed + k) % kProgramCount);
  for (int p = 0; p < kProgramCount; p++) {
    programLength[t][p] = static_cast<int16_t>((seed + p) % (kProgramMaxLength + 1));
    for (int i = 0; i < kProgramRowSize; i++) programData[t][p][i] = static_cast<int32_t>((seed * 31 + i) & 0x3FFFFFF);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t h = fuzz::hashOf(data, size);
  const int table = static_cast<int>(h >> 8 & 15);
  const bool wide = (h & 2) != 0;
  simReset();
  simSetCodePage(h & 1 ? 932 : 0);
  resetGlobalState();
  fuzz::writeFile("progrm.ini", data, size);
  const std::string narrowName = fuzz::simDir() + "progrm.ini";
  const std::u16string wideName = fuzz::simDirW() + u"progrm.ini";

  fillTable(table, h);
  FUZZ_CHECK(readProgramTable(wide ? nullptr : narrowName.c_str(), wide ? wideName.c_str() : nullptr, table, wide) == 0);
  checkTable(table);
  const std::vector<int32_t> first = visible(table);
  FUZZ_CHECK(readProgramTable(narrowName.c_str(), nullptr, table, 0) == 0);
  FUZZ_CHECK(visible(table) == first);

  // Play what was assigned: OUT1 on a MIDI device, OUT2 on COM1.
  simAddMidiOut("Synth A");
  simAddSerialPort(1);
  outPortCount = 2;
  FUZZ_CHECK(openOutPort(0, 0, 0) == 0);
  FUZZ_CHECK(openOutPort(1, 0, 1) == 0);
  bool played[kProgramCount] = {};
  for (int k = 0; k < kTriggerCount; k++) {
    const int p = keyProgram[table][k];
    if (p == 0 || played[p]) continue;
    played[p] = true;
    EngineLock hold;
    playProgram(table, p, 0);
  }
  closeAllPorts();
  resetGlobalState();
  return 0;
}
