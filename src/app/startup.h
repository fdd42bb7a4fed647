// Start-up: the program's entry, from the first pause to the main loop.
#pragma once

// The entry that every platform's main calls. Ends through exitProgram.
[[noreturn]] void notalumenMain(void);

// Start-up from the first pause to the drawn keyboard: every stage below in
// order. notalumenMain runs it and then the main loop.
void startupAll(void);

// Reads the settings file and applies what it read to the tables (under the
// engine and display locks: input may be running); the second reading
// (actionPass 1) then sends its -# bytes to OUT1 and sets -VOL, and -LIST
// writes the settings template. Opens wideName when useWide is set, else
// narrowName. 0 once read, -1 with nothing changed when the file does not open.
int readSettingsFile(const char* narrowName, const char16_t* wideName, int useWide, int actionPass);

// The stages of start-up, in order.
void startupPaths(void);          // argument lists, directories, settings paths
void startupWindow(void);         // the small start-up window, first exit handler
void startupFirstScan(void);      // /list and /? end the program here
void startupSettings(void);       // first settings reading, port counts, program tables
void startupPorts(void);          // listings, ports opened, the two start-up messages
void startupSecondReading(void);  // second settings reading, second command-line scan
void startupKeyboard(void);       // key range, window fitted, keyboard drawn
