// Shift-JIS (Shift_JIS-2004) and UTF-16 conversion by table lookup.
//
// Capacity: both conversions stop before the first character whose output
// does not fit in capacity - 1 units (a double-byte character or a surrogate
// pair is never split) and then return the index of that character in the
// source, so a caller can tell a cut result (source[result] is not the
// terminator and result < 9998) from a complete one.
//
// Code points above U+FFFF (303 double-byte codes) become a UTF-16 surrogate
// pair in sjisToWide. wideToSjis works unit by unit, so each surrogate unit, which has no reverse mapping, becomes "?".
#include "support/sjis.h"

#include "support/log.h"
#include "support/os_files.h"
#include "support/sjis_tables.h"

namespace {

// The walk stops once this many source bytes or units have been examined.
constexpr int kMaxExamined = 9998;

}  // namespace

uint32_t sjisToUnicode(unsigned code) {
  if (code <= 0x00FF) return sjisForwardSingle[code];
  if (code >= 0x8000 && code <= 0x9FFF) return sjisForwardLow[code - 0x8000];
  if (code >= 0xE000 && code <= 0xFCFF) return sjisForwardHigh[code - 0xE000];
  return 0;
}

unsigned unicodeToSjis(unsigned unit) {
  if (unit <= 0x04FF) return sjisReverseLow[unit];
  if (unit >= 0x1E00 && unit <= 0x9FFF) return sjisReverseMid[unit - 0x1E00];
  if (unit >= 0xF900 && unit <= 0xFFFF) return sjisReverseHigh[unit - 0xF900];
  return 0;
}

int sjisToWide(char16_t* destination, int capacity, const char* source) {
  if (destination == nullptr || capacity < 1) return 0;
  int written = 0;
  int examined = 0;
  int charStart = 0;  // source index of the character being converted
  unsigned lead = 0;  // a pending lead byte, 0 = none
  if (source != nullptr) {
    while (examined < kMaxExamined) {
      const unsigned char byte = static_cast<unsigned char>(source[examined]);
      if (byte == 0) break;
      ++examined;
      char16_t units[2];
      int count = 1;
      if (lead != 0) {
        const uint32_t codePoint = sjisToUnicode(lead * 256 + byte);
        lead = 0;
        if (codePoint == 0) {
          units[0] = u'?';
        } else if (codePoint > 0xFFFF) {
          const uint32_t offset = codePoint - 0x10000;
          units[0] = static_cast<char16_t>(0xD800 + (offset >> 10));
          units[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
          count = 2;
        } else {
          units[0] = static_cast<char16_t>(codePoint);
        }
      } else if (osIsLeadByte(byte)) {
        lead = byte;
        charStart = examined - 1;
        continue;
      } else {
        units[0] = static_cast<char16_t>(byte);  // single bytes bypass the table
        charStart = examined - 1;
      }
      if (count > capacity - 1 - written) {
        examined = charStart;  // does not fit: stop before this character
        break;
      }
      for (int i = 0; i < count; ++i) destination[written++] = units[i];
    }
  }
  destination[written] = 0;
  return examined;
}

int wideToSjis(char* destination, int capacity, const char16_t* source) {
  if (destination == nullptr || capacity < 1) return 0;
  int written = 0;
  int examined = 0;
  if (source != nullptr) {
    while (examined < kMaxExamined) {
      const unsigned unit = source[examined];
      if (unit == 0) break;
      ++examined;
      unsigned code = unit;
      int count = 1;
      if (unit >= 0x100) {
        code = unicodeToSjis(unit);
        if (unit == 0x2661 && code != 0x83BB) {
          log("Assert fail converting unich0x2661 => sjisch0x83BB (%04X). ", code);
        }
        if (code == 0) {
          code = '?';
        } else if (code > 0xFF) {
          count = 2;
        }
      }
      if (count > capacity - 1 - written) {
        examined -= 1;  // does not fit: stop before this unit
        break;
      }
      if (count == 2) destination[written++] = static_cast<char>(code >> 8);
      destination[written++] = static_cast<char>(code & 0xFF);
    }
  }
  destination[written] = 0;
  return examined;
}
