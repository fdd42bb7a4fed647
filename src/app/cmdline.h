// The command line: split into narrow and wide argument lists, and the two
// scans that start-up runs over the narrow list.
#pragma once

enum { kMaxArgs = 511, kArgStoreSize = 65535 };

struct ArgList {
  int count;                     // arguments, the program path included
  char* items[kMaxArgs + 1];     // items[count] points to an empty string
  char store[kArgStoreSize];     // the arguments one after the other, zero-ended
};

struct ArgListW {
  int count;                       // arguments, the program path included
  char16_t* items[kMaxArgs + 1];   // items[count] points to an empty string
  char16_t store[kArgStoreSize];   // the arguments one after the other, zero-ended
};

extern ArgList args;
extern ArgListW argsW;

// Splits a command line: blanks separate outside double quotes, quotes toggle
// and are dropped, tabs are ordinary characters; the narrow form keeps the
// second byte of a double-byte character with its lead byte. Return 0.
int splitCommandLine(ArgList* list, const char* line);
int splitCommandLineW(ArgListW* list, const char16_t* line);

// Build args and argsW from the platform's command lines. Return 0.
int buildArgs(void);
int buildArgsW(void);

// First scan: /list (writes the template, ends with 0), /? (ends with 0), /soc.
void firstCommandLineScan(void);
// Second scan: "#" bytes to OUT1, /V volume, /0../9 diagnostic level, /soc.
void secondCommandLineScan(void);
