// Number and token scanning over the reader's one-byte look-ahead.
// Each scanner decides on rfpeek and consumes with rfgetc only what belongs to
// the item, so the byte that ends an item stays the look-ahead (the token
// reader and rfskipline consume their ending byte).
#include "support/scan.h"

#include <cstdlib>

#include "support/log.h"
#include "support/file_io.h"
#include "support/os_files.h"

namespace {

constexpr int kMaxDigits = 5;        // digits accepted by rfgetint and rfgethex
constexpr int kMaxFloatText = 120;   // a digit run stops at this text length

int isLineEnd(int c) { return c == '\r' || c == '\n' || c == 26; }

int isDecimalDigit(int c) { return c >= '0' && c <= '9'; }

// The value of c as a digit of base 10 or 16, or -1 when it is none (the end
// of the file included).
int digitValue(int c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16) {
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  }
  return -1;
}

// Shared body of rfgetint and rfgethex. The end of the file ends a number like
// any other non-digit, so a number that is the last thing in the file counts.
int getNumber(int32_t* out, int base, const char* tooLarge) {
  int negative = 0;
  if (rfpeek() == '+') rfgetc();
  if (rfpeek() == '-') {
    rfgetc();
    negative = 1;
  }
  int32_t value = 0;  // six digits at most: 999999 or 0xFFFFFF
  int digits = 0;
  for (;;) {
    int digit = digitValue(rfpeek(), base);
    if (digit < 0) break;
    rfgetc();
    value = value * base + digit;
    if (++digits > kMaxDigits) {
      log("%s", tooLarge);
      return -2;
    }
  }
  *out = negative ? -value : value;
  return 0;
}

// Appends the decimal digits of the look-ahead to text while it holds fewer
// than kMaxFloatText characters; returns how many were taken.
int takeDigits(char* text, int& length) {
  int taken = 0;
  while (length < kMaxFloatText && isDecimalDigit(rfpeek())) {
    text[length++] = static_cast<char>(rfgetc());
    taken++;
  }
  return taken;
}

}  // namespace

int isSeparator(int c) {
  return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n' || c == 26 || c == '=' || c == ';' ||
         c == ':';
}

int isTokenEnd(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 26 || c == ';' || c == '"';
}

int rfskipline(void) {
  for (;;) {
    int c = rfgetc();
    if (c < 0) return -1;
    if (isLineEnd(c)) return 0;
  }
}

int rfskipsep(void) {
  while (isSeparator(rfpeek())) rfgetc();
  return 0;
}

int rfgettoken(char* buffer, int size) {
  if (buffer == nullptr || size < 1) return -1;  // not even room for the terminator
  rfskipsep();
  int quoted = 0;
  if (rfpeek() == '"') {
    rfgetc();
    quoted = 1;
  }
  int length = 0;
  int afterLead = 0;  // the previous byte was the lead byte of a double-byte character
  while (rfpeek() >= 0) {
    int c = rfgetc();
    if (afterLead) {
      afterLead = 0;  // the second byte: stored whatever its value
    } else if (osIsLeadByte(static_cast<unsigned char>(c))) {
      afterLead = 1;
    } else if (quoted ? c == '"' : isTokenEnd(c)) {
      buffer[length] = 0;  // the ending byte is consumed, not stored
      return length + 1;
    }
    if (length >= size - 1) {
      buffer[length] = 0;  // the byte that does not fit is lost
      return -1;
    }
    buffer[length++] = static_cast<char>(c);
  }
  buffer[length] = 0;
  return length + 1;
}

int rfgetint(int32_t* out) { return getNumber(out, 10, "Integer too Large."); }

int rfgethex(int32_t* out) { return getNumber(out, 16, "Hex value too Large."); }

int rfgetfloat(float* out) {
  // The sign, the point, the exponent letter and its sign may follow a full
  // digit run: 120 + 4 characters and the terminator at most.
  char text[kMaxFloatText + 8];
  int length = 0;
  int digits = 0;
  if (rfpeek() == '+' || rfpeek() == '-') text[length++] = static_cast<char>(rfgetc());
  digits += takeDigits(text, length);
  if (rfpeek() == '.') {
    text[length++] = static_cast<char>(rfgetc());
    digits += takeDigits(text, length);
  }
  if (digits > 0 && (rfpeek() == 'e' || rfpeek() == 'E')) {
    text[length++] = static_cast<char>(rfgetc());
    if (rfpeek() == '+' || rfpeek() == '-') text[length++] = static_cast<char>(rfgetc());
    takeDigits(text, length);
  }
  if (digits == 0) return -1;
  text[length] = 0;
  // An exponent letter without digits is left out by the conversion (1e is 1).
  *out = static_cast<float>(std::strtod(text, nullptr));
  return 0;
}
