// The Shift_JIS-2004 conversion tables, defined in the generated
// sjis_tables.cpp (tools/gen_sjis_tables.py). Only sjis.cpp reads them.
#pragma once

#include <cstdint>

// Forward: code -> code point, 0 = unmapped. Indexed by code - first code.
extern const uint32_t sjisForwardSingle[256];  // 0x0000..0x00FF
extern const uint32_t sjisForwardLow[8192];    // 0x8000..0x9FFF
extern const uint32_t sjisForwardHigh[7424];   // 0xE000..0xFCFF

// Reverse: UTF-16 unit -> code (below 0x100 one byte), 0 = unmapped.
extern const uint16_t sjisReverseLow[1280];    // U+0000..U+04FF
extern const uint16_t sjisReverseMid[33280];   // U+1E00..U+9FFF
extern const uint16_t sjisReverseHigh[1792];   // U+F900..U+FFFF
