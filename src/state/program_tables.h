// The sixteen program tables, one per input: trigger-to-program assignments
// and the stored programs (byte values, or placeholders above 255). Input
// plays from them on the MIDI thread; a reading fills a seventeenth table, the
// scratch table, and then copies it over its own under the engine lock.
#pragma once

#include <cstdint>

enum {
  kTriggerCount = 1024,     // trigger numbers 0..1023
  kProgramCount = 512,      // program numbers 0..511 (0 = none)
  kProgramRowSize = 256,    // room of one program row
  kProgramMaxLength = 255,  // entries one program may hold
  kChannelPlaceholder = 0x2000000,  // entry bit: status with its channel to fill in
  kScratchTable = 16                // where a reading builds a table before it replaces one
};

extern int16_t keyProgram[kScratchTable + 1][kTriggerCount];      // program of each trigger; 0 = none
extern int16_t programLength[kScratchTable + 1][kProgramCount];   // entries of each program
extern int32_t programData[kScratchTable + 1][kProgramCount][kProgramRowSize];  // the entries

// Empties one table (0..16): no assignments, every program of length 0.
void clearProgramTable(int table);
// Table to (0..15) becomes a copy of table from: the assignments, the
// lengths and the entries in use. The caller holds the engine lock.
void copyProgramTable(int to, int from);
// Start values of all sixteen tables.
void resetProgramTables(void);
