// Start-up: the program's entry, from the first pause to the main loop.
#pragma once

// The entry that every platform's main calls. Ends through exitProgram.
[[noreturn]] void notalumenMain(void);

// The stages of start-up, in the order notalumenMain runs them.
void startupPaths(void);      // argument lists, directories, settings paths
void startupFirstScan(void);  // /list and /? end the program here
