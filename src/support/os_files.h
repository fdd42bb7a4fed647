// Platform file and code-page services: byte channels opened by a narrow name
// (system ANSI code page) or a wide name (UTF-16), file search by pattern, the
// lead bytes of the ANSI code page and the path separator.
#pragma once

#include <cstdint>

typedef intptr_t OsFile;  // opaque channel; 0 = none

enum OsFileMode {
  OS_FILE_READ = 0,  // open existing; others may read, nobody may write
  OS_FILE_WRITE = 1  // create or truncate; no sharing
};

// Narrow name, through the C library's streams on Windows. Returns 0 when the
// file cannot be opened (the reason in osLastError).
OsFile osFileOpen(const char* name, OsFileMode mode);

// Wide name, through the system's own file calls. Reading shares nothing.
OsFile osFileOpenW(const char16_t* name, OsFileMode mode);

// Reads up to size bytes; returns the count (0 at the end) or -1 on failure.
int osFileRead(OsFile file, void* buffer, int size);

// Writes size bytes; returns the count written (possibly fewer) or -1.
int osFileWrite(OsFile file, const void* buffer, int size);

// Closes the channel; returns 0, or -1 when the system refused.
int osFileClose(OsFile file);

// System error code of the last failing file call (2 = file not found).
int osLastError(void);

typedef intptr_t OsFind;  // opaque search; 0 = none

// Starts a search for the narrow pattern (wildcards * and ? in the last part).
// On a match stores its bare name (cut to size - 1 bytes) and whether it is a
// directory, and returns the search; returns 0 when nothing matches.
OsFind osFindFirst(const char* pattern, char* name, int size, int* isDirectory);
// The next match of the search: 0 and its name, or -1 when there is none.
int osFindNext(OsFind search, char* name, int size, int* isDirectory);
void osFindClose(OsFind search);

// Whether byte is the lead byte of a double-byte character in the system's
// ANSI code page (Shift-JIS lead bytes on a Japanese system, none elsewhere).
int osIsLeadByte(unsigned char byte);

// Creates the directory with a narrow name, and the missing ones above it;
// returns 0 when it exists afterwards.
int osMakeDirectory(const char* name);

// The byte that separates directories in this platform's paths.
char osPathSeparator(void);
