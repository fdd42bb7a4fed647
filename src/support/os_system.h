// Platform system services: pauses, the command lines, the current directory,
// the user's language, the platform version, message boxes and the end of the
// process. Implemented once per backend under src/platform/.
#pragma once

#include <cstdint>

// Pauses the calling thread for ms milliseconds (the sim records it instead).
void osSleep(int ms);

// Milliseconds on a clock that only goes forward, wrapping at 2^32 (about 49.7
// days): only the difference of two readings means anything. The sim answers
// with its virtual clock.
uint32_t osMilliseconds(void);

// The process's command line as one string, narrow (ANSI code page) and wide
// (UTF-16). The strings stay valid for the whole run.
const char* osCommandLine(void);
const char16_t* osCommandLineW(void);

// Copies the current directory (without a trailing separator) into buffer of
// size units; returns its length, or 0 on failure or when it does not fit.
int osCurrentDirectory(char* buffer, int size);
int osCurrentDirectoryW(char16_t* buffer, int size);

// The user's default language identifier (1041 = Japanese).
int osUserLanguage(void);

// The platform version word: the low byte is the major version.
unsigned osVersion(void);

// The per-user directory that holds the program's files when no sonrack.ini
// lies beside the program, narrow and wide, each ending with the path
// separator, in buffers of size units. Returns the narrow length; 0 when the
// platform keeps the files beside the program only (Windows).
int osUserFilesDirectory(char* narrow, char16_t* wide, int size);

// Shows the program's usage text to a user who asked for help on the command
// line (Linux: on standard output); nothing on Windows.
void osShowUsage(void);

// Tells the user one line outside the window (Linux: "Notalumen: " and the
// line on standard error); nothing on Windows, which keeps its silence.
void osTellUser(const char* line);

// Message-box flags and answers, with the values of the Windows API.
enum {
  OS_MB_OK = 0x0,
  OS_MB_OKCANCEL = 0x1,
  OS_MB_ICONINFORMATION = 0x40,
  OS_MB_TOPMOST = 0x40000,
  OS_IDOK = 1,
  OS_IDCANCEL = 2
};

// Shows text under caption (both narrow strings in the ANSI code page) with the
// given flags and returns the button chosen.
int osMessageBox(const char* text, const char* caption, unsigned flags);

// Ends the process with the exit code; the exit handlers have already run.
[[noreturn]] void osExit(int code);
