// Program-wide values: paths, diagnostic switches, the volume value, the
// platform age and the mouse note. Start-up writes the paths and switches on
// the window thread before any input is open; the mouse note belongs to the
// window thread alone.
#pragma once

#include <cstdint>

enum { kPathChars = 260, kPathSize = 300 };

extern char programDir[kPathSize];          // program's directory, ends with a separator or empty
extern char16_t programDirW[kPathSize];     // the same, wide
extern char settingsPath[kPathSize];        // programDir + "sonrack.ini"
extern char16_t settingsPathW[kPathSize];   // the same, wide
extern uint8_t settingsMissing;             // 255: the first settings reading found no file
extern char ownDir[kPathSize];              // the program's own directory (programDir is either)
extern char userDir[kPathSize];             // the platform's per-user directory for the files; empty:
                                            // none (Windows), the files lie beside the program
extern char ownDir[kPathSize];              // the program's own directory (programDir is either)
extern char userDir[kPathSize];             // the platform's per-user directory for the files; empty:
                                            // none (Windows), the files lie beside the program

extern int DispLevel;        // diagnostic verbosity 0..9
extern uint8_t consoleMode;  // 255 after /soc or -soc; nothing else reads it
extern int Volume;           // volume value of /V and -VOL; has no effect
extern uint8_t oldWindows;   // 255 on platform version 4 or lower: slower main loop
extern int mouseNote;        // note sounding because of the mouse; -1 = none
extern int mouseChannel;     // channel of that note's column

// Start values of the values above; the paths are not touched (start-up
// derives them from the command line).
void resetProgramValues(void);

// Volume hook of the settings file and the command line; has no effect.
int setVolume(int value);
