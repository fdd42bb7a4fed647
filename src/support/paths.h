// Wide-string and path helpers for building file names. Every destination
// comes with its capacity (in units, terminator included, at least 1); the
// result is always zero-terminated and never written past it.
#pragma once

// Copy or append a zero-terminated wide string; return the units copied
// without the terminator (fewer when the destination is full).
int wstrcopy(char16_t* destination, int capacity, const char16_t* source);
int wstrappend(char16_t* destination, int capacity, const char16_t* source);
int wstrlength(const char16_t* text);

// The directory of a path up to and including its last separator; empty when
// there is none. The narrow form never takes the second byte of a double-byte
// character for a separator. Return the length stored.
int dirPartW(char16_t* destination, int capacity, const char16_t* path);
int dirPart(char* destination, int capacity, const char* path);

// From the last "." (outside double-byte characters) to the end; empty when none.
int extPart(char* destination, int capacity, const char* path);

// Bare name of the first match of pattern that is not a directory (looking at
// the first two matches). 0; -1 when nothing matches or only a directory; -2
// when the first two matches are directories. The destination is empty on failure.
int findFileName(char* destination, int capacity, const char* pattern);
