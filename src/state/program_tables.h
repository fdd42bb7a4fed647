// The sixteen program tables, one per input: trigger-to-program assignments
// and the stored programs (byte values, or placeholders above 255).
#pragma once

#include <cstdint>

enum {
  kTriggerCount = 1024,     // trigger numbers 0..1023
  kProgramCount = 512,      // program numbers 0..511 (0 = none)
  kProgramRowSize = 256,    // room of one program row
  kProgramMaxLength = 255,  // entries one program may hold
  kChannelPlaceholder = 0x2000000  // entry bit: status with its channel to fill in
};

extern int16_t keyProgram[16][kTriggerCount];      // program of each trigger; 0 = none
extern int16_t programLength[16][kProgramCount];   // entries of each program
extern int32_t programData[16][kProgramCount][kProgramRowSize];  // the entries

// Empties one table: no assignments, every program of length 0.
void clearProgramTable(int table);
// Start values of all sixteen tables.
void resetProgramTables(void);
