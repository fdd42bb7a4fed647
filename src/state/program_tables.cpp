// Storage of the sixteen program tables.
#include "state/program_tables.h"

#include <cassert>
#include <cstring>

int16_t keyProgram[kScratchTable + 1][kTriggerCount];
int16_t programLength[kScratchTable + 1][kProgramCount];
int32_t programData[kScratchTable + 1][kProgramCount][kProgramRowSize];

void clearProgramTable(int table) {
  assert(table >= 0 && table <= kScratchTable);
  // Entry by entry with plain stores: input may be reading the table meanwhile.
  for (int k = 0; k < kTriggerCount; k++) keyProgram[table][k] = 0;
  for (int p = 0; p < kProgramCount; p++) {
    programLength[table][p] = 0;
    programData[table][p][0] = 0;
  }
}

void copyProgramTable(int to, int from) {
  assert(to >= 0 && to < kScratchTable && from >= 0 && from <= kScratchTable && to != from);
  std::memcpy(keyProgram[to], keyProgram[from], sizeof keyProgram[to]);
  std::memcpy(programLength[to], programLength[from], sizeof programLength[to]);
  for (int p = 0; p < kProgramCount; p++) {
    const int n = programLength[from][p] > 0 ? programLength[from][p] : 1;
    std::memcpy(programData[to][p], programData[from][p], sizeof(int32_t) * n);
  }
}

void resetProgramTables(void) {
  for (int t = 0; t <= kScratchTable; t++) clearProgramTable(t);
}
