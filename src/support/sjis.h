// Shift-JIS (Shift_JIS-2004) and UTF-16 conversion by table lookup.
#pragma once

#include <cstdint>

// Forward lookup of a one-byte code or lead x 256 + trail; 0 = unmapped.
uint32_t sjisToUnicode(unsigned code);
// Reverse lookup of a UTF-16 code unit; below 0x100 one byte, else two; 0 = unmapped.
unsigned unicodeToSjis(unsigned unit);

// Converts the zero-terminated narrow string source into destination, which
// holds capacity units (capacity >= 1); the result is always terminated and
// never longer than capacity - 1. Returns the number of source bytes examined.
int sjisToWide(char16_t* destination, int capacity, const char* source);
// The reverse, into capacity bytes; a two-byte character never is split.
// Returns the number of source units examined.
int wideToSjis(char* destination, int capacity, const char16_t* source);
