// A full program table as text, for the reader's tests and the file
// benchmarks: 511 programs of 255 values, even ones in DEC, odd ones in HEX
// with a channel placeholder every 16th value, then every trigger assigned
// (trigger k to program k % 511 + 1); the file ends without a line break.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "state/program_tables.h"

// Value i of program p as the reader stores it.
inline int32_t fullProgramValue(int p, int i) {
  if (p % 2 == 0) return (p + i * 3) % 256;
  if (i % 16 == 0) return kChannelPlaceholder + (((i / 16) % 8 + 8) << 4);
  return (p * 5 + i) % 256;
}

inline std::string fullProgramFile() {
  std::string file;
  char text[48];
  for (int p = 1; p < kProgramCount; p++) {
    std::snprintf(text, sizeof text, p % 2 == 0 ? "/DEC\r\n/PGM%d\r\n" : "/HEX\r\n/PGM%X\r\n", p);
    file += text;
    for (int i = 0; i < kProgramMaxLength; i++) {
      const int32_t v = fullProgramValue(p, i);
      if (p % 2 == 0) {
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
      } else if (v & kChannelPlaceholder) {
        std::snprintf(text, sizeof text, "%XN", static_cast<int>((v >> 4) & 0xF));
      } else {
        std::snprintf(text, sizeof text, "%02X", static_cast<int>(v));
      }
      file += text;
      file += i % 16 == 15 ? "\r\n" : " ";
    }
    file += "\r\n";
  }
  file += "/DEC\r\n";
  for (int k = 0; k < kTriggerCount; k++) {
    std::snprintf(text, sizeof text, "%s/SETKEY%d:PGM%d", k ? "\r\n" : "", k, k % 511 + 1);
    file += text;
  }
  return file;
}
