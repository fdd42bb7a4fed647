// The one function that sets every global table of the program to its start
// value: start-up calls it, and so does every test.
#pragma once

// Ports, program tables, engine and display tables, file channels, exit
// handlers and the program-wide values. Paths are not touched: start-up
// derives them from the command line.
void resetGlobalState(void);
