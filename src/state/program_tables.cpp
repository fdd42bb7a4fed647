// Storage of the sixteen program tables.
#include "state/program_tables.h"

#include <cassert>
#include <cstring>

int16_t keyProgram[16][kTriggerCount];
int16_t programLength[16][kProgramCount];
int32_t programData[16][kProgramCount][kProgramRowSize];

void clearProgramTable(int table) {
  assert(table >= 0 && table < 16);
  // Entry by entry with plain stores: input may be reading the table meanwhile.
  for (int k = 0; k < kTriggerCount; k++) keyProgram[table][k] = 0;
  for (int p = 0; p < kProgramCount; p++) {
    programLength[table][p] = 0;
    programData[table][p][0] = 0;
  }
}

void resetProgramTables(void) {
  for (int t = 0; t < 16; t++) clearProgramTable(t);
}
