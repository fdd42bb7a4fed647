// Reader of the program files progrm01.ini..progrm16.ini: programs and trigger
// assignments in their DEC/HEX text form, one file per table, and the reading
// of all sixteen at start and on a reload.
#pragma once

// Reads one program file into table (0..15): by wideName when useWide is set,
// else by narrowName (only the name in use must be given). Returns 1 when the
// file cannot be opened, the table untouched; else empties the table, fills it
// from the file and returns 0. Faults in the file go to the diagnostics only.
int readProgramTable(const char* narrowName, const char16_t* wideName, int table, int useWide);

// Start-up: every file from the program directory into its table, by its
// narrow name and, when that does not open, by its wide name.
void readAllProgramTables(void);

// The reload key: every file again, by its narrow name only. A file that does
// not open leaves its table as it was.
void reloadProgramTables(void);
