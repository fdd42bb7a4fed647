// Number and token scanners over the reader's look-ahead: each decides on
// rfpeek and consumes only what belongs to the item it scans.
#pragma once

#include <cstdint>

int isSeparator(int c);  // space , tab CR LF Ctrl-Z = ; :
int isTokenEnd(int c);   // space tab CR LF Ctrl-Z ; "

int rfskipline(void);  // through the first CR, LF or Ctrl-Z; -1 at the end
int rfskipsep(void);   // consumes separators; 0

// One quoted or bare token into buffer of size bytes, zero-terminated; the
// separators before it are skipped and the byte that ends it is consumed. A
// quoted token ends only at its closing quote (or the end of the file). The
// second byte of a double-byte character (osIsLeadByte) never ends a token.
// Returns its length plus one, or -1 when it did not fit: then the first
// size - 1 bytes are kept and the byte that did not fit is consumed and lost.
// Never writes past size bytes; size < 1 gives -1 with nothing consumed.
int rfgettoken(char* buffer, int size);

// Signed decimal or hexadecimal number of at most 5 digits ("+" then "-" may
// precede it). 0 on success, also without any digit (the value 0); the byte
// after the number, or the end of the file, ends it and is not consumed.
// -2 for a sixth digit ("Integer too Large." / "Hex value too Large."): the
// six digits are consumed and out is untouched.
int rfgetint(int32_t* out);
int rfgethex(int32_t* out);

// Decimal number with optional sign, fraction and exponent, also when the end
// of the file follows it. 0, or -1 without a digit (what was read stays read).
// Each digit run stops once the number's text holds 120 characters.
int rfgetfloat(float* out);
