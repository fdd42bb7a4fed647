// Shift-JIS <-> UTF-16 conversion: the generated tables, the two
// string conversions with their edge cases, and the capacity limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "guarded.h"
#include "platform/sim/sim.h"
#include "support/sjis.h"

namespace {

class SjisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simReset();
    simSetCodePage(932);
  }
};

bool inForwardRanges(unsigned code) {
  return code <= 0xFF || (code >= 0x8000 && code <= 0x9FFF) || (code >= 0xE000 && code <= 0xFCFF);
}

bool inReverseRanges(unsigned unit) {
  return unit <= 0x4FF || (unit >= 0x1E00 && unit <= 0x9FFF) || (unit >= 0xF900 && unit <= 0xFFFF);
}

// The 25 codes that Shift_JIS-2004 maps to two code points (a kana with a
// semi-voiced mark, accented IPA letters, tone marks).
const unsigned kSequenceCodes[25] = {
    0x82F5, 0x82F6, 0x82F7, 0x82F8, 0x82F9, 0x8397, 0x8398, 0x8399, 0x839A,
    0x839B, 0x839C, 0x839D, 0x839E, 0x83F6, 0x8663, 0x8667, 0x8668, 0x8669,
    0x866A, 0x866B, 0x866C, 0x866D, 0x866E, 0x8685, 0x8686};

}  // namespace

// ---- The tables -----------------------------------------------------------

TEST(SjisTables, ForwardTableHasTheStandardCounts) {
  int doubleByte = 0;
  int aboveBmp = 0;
  uint32_t highest = 0;
  for (unsigned code = 0; code <= 0xFFFF; ++code) {
    const uint32_t codePoint = sjisToUnicode(code);
    if (codePoint == 0) continue;
    EXPECT_TRUE(inForwardRanges(code)) << std::hex << "code 0x" << code;
    if (code <= 0xFF) continue;
    ++doubleByte;
    if (codePoint > 0xFFFF) ++aboveBmp;
    if (codePoint > highest) highest = codePoint;
  }
  EXPECT_EQ(doubleByte, 11208);
  EXPECT_EQ(aboveBmp, 303);
  EXPECT_EQ(highest, 0x2A6B2u);
  EXPECT_EQ(sjisToUnicode(0x10000), 0u);
  EXPECT_EQ(sjisToUnicode(0xFFFFFFFFu), 0u);
}

TEST(SjisTables, SingleBytesFollowJisX0201) {
  for (unsigned byte = 0; byte <= 0xFF; ++byte) {
    uint32_t expected;
    if (byte == 0x5C) {
      expected = 0x00A5;  // YEN SIGN
    } else if (byte == 0x7E) {
      expected = 0x203E;  // OVERLINE
    } else if (byte <= 0x7F) {
      expected = byte;
    } else if (byte >= 0xA1 && byte <= 0xDF) {
      expected = 0xFF61 + (byte - 0xA1);
    } else {
      expected = 0;  // 0x80..0xA0, 0xE0..0xFF
    }
    EXPECT_EQ(sjisToUnicode(byte), expected) << std::hex << "byte 0x" << byte;
  }
}

TEST(SjisTables, CodesMappedToTwoCodePointsAreUnmapped) {
  for (unsigned code : kSequenceCodes) {
    EXPECT_EQ(sjisToUnicode(code), 0u) << std::hex << "code 0x" << code;
  }
  // Their neighbours are ordinary mappings (the table is not simply empty there).
  EXPECT_EQ(sjisToUnicode(0x82F4), 0x3096u);  // HIRAGANA LETTER SMALL KE
  EXPECT_EQ(sjisToUnicode(0x8396), 0x30F6u);  // KATAKANA LETTER SMALL KE
}

TEST(SjisTables, ReverseTableIsTheExactInverseInsideItsRanges) {
  int reverse = 0;
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
    const unsigned code = unicodeToSjis(unit);
    if (code == 0) continue;
    ++reverse;
    EXPECT_TRUE(inReverseRanges(unit)) << std::hex << "unit U+" << unit;
    EXPECT_EQ(sjisToUnicode(code), unit) << std::hex << "unit U+" << unit << " -> 0x" << code;
  }
  EXPECT_EQ(reverse, 11095);

  // Every forward mapping into the ranges comes back.
  for (unsigned code = 1; code <= 0xFFFF; ++code) {
    const uint32_t codePoint = sjisToUnicode(code);
    if (codePoint == 0 || codePoint > 0xFFFF || !inReverseRanges(codePoint)) continue;
    EXPECT_EQ(unicodeToSjis(codePoint), code) << std::hex << "code 0x" << code;
  }
  EXPECT_EQ(unicodeToSjis(0x10000), 0u);
  EXPECT_EQ(unicodeToSjis(0x2000B), 0u);  // above U+FFFF: no reverse mapping
}

TEST(SjisTables, ReverseOfSingleByteAndAsciiLookalikes) {
  const unsigned pairs[][2] = {
      {0x00A5, 0x5C},    // YEN SIGN is the single byte 0x5C
      {0x203E, 0x7E},    // OVERLINE is the single byte 0x7E
      {0xFF71, 0xB1},    // half-width katakana
      {0x0041, 0x41},    {0x0000, 0},
      {0x005C, 0x815F},  // REVERSE SOLIDUS is double-byte
      {0x007E, 0x81B0},  // TILDE is double-byte
      {0x00B1, 0x817D},  // PLUS-MINUS SIGN
      {0x00E9, 0x857E},  // LATIN SMALL LETTER E WITH ACUTE
  };
  for (const auto& p : pairs) EXPECT_EQ(unicodeToSjis(p[0]), p[1]) << std::hex << "U+" << p[0];
}

namespace {

// ---- Conversions and capacity ---------------------------------------------

constexpr int kWhole = -1;  // every source unit examined

std::string kanji(int n) {  // n times U+4E9C
  std::string s;
  for (int i = 0; i < n; ++i) s += "\x88\x9F";
  return s;
}

TEST_F(SjisTest, ToWide) {
  struct Case {
    int codePage;
    std::string source;
    int capacity;
    std::u16string text;
    int examined;
  } cases[] = {
      {932, "progrm01.ini", 64, u"progrm01.ini", 12},
      {932, "\x81\x40", 8, u"\u3000", kWhole},  // ideographic space
      {932, "\x83\xBB", 8, u"\u2661", kWhole},  // WHITE HEART SUIT
      {932, "a\\\x95\x5C\\b", 16, u"a\\\u8868\\b", kWhole},  // a trail byte 0x5C is no backslash
      {932, "\xB1", 8, u"\u00B1", kWhole},  // single bytes keep their values as units
      {932, "C:\\x~", 8, u"C:\\x~", kWhole},
      {0, "\x81\x40", 8, u"\x81\x40", kWhole},  // no double-byte code page
      {932, "ab\x82", 8, u"ab", 3},  // a lead byte at the end produces nothing
      {932, "\xE0", 8, u"", 1},
      {932, "\x82\xF5", 8, u"?", kWhole},  // maps to two code points
      {932, "x\x81\x7F" "y", 8, u"x?y", kWhole},  // no such code
      {932, "\x87\xA0", 8, u"\U0002000B", kWhole},
      {932, "[\xFC\xF4]", 8, u"[\U0002A6B2]", kWhole},  // the highest one
      {932, "\x81\x40\x81\x40", 1, u"", 0},
      {932, "\x81\x40\x81\x40", 2, u"\u3000", 2},  // stopped before the second character
      {932, "\x81\x40\x81\x40", 3, u"\u3000\u3000", 4},
      {932, "\x87\xA0", 2, u"", 0},  // a surrogate pair is never split
      {932, "a\x87\xA0", 3, u"a", 1},
      {932, "\x87\xA0", 3, u"\U0002000B", 2},
      {932, std::string(20000, 'n'), 100, std::u16string(99, u'n'), 99},
      {932, kanji(5000), 10, std::u16string(9, u'\u4E9C'), 18},
      // The walk stops after 9998 source bytes; a lead byte as the 9998th is
      // examined without its trail, a character ending there is converted.
      {932, std::string(10005, 'a'), 20000, std::u16string(9998, u'a'), 9998},
      {932, std::string(9997, 'a') + "\x81\x40zz", 20000, std::u16string(9997, u'a'), 9998},
      {932, std::string(9996, 'a') + "\x81\x40zz", 20000, std::u16string(9996, u'a') + u"\u3000", 9998},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    const Case& c = cases[i];
    simSetCodePage(c.codePage);
    const int examined = c.examined == kWhole ? static_cast<int>(c.source.size()) : c.examined;
    EXPECT_EQ(guardedCall(sjisToWide, c.capacity, c.source.c_str()), std::make_pair(examined, c.text)) << "row " << i;
  }
}

TEST_F(SjisTest, ToNarrow) {
  struct Case {
    std::u16string source;
    int capacity;
    std::string text;
    int examined;
  } cases[] = {
      {u"progrm01.ini", 64, "progrm01.ini", 12},
      {u"\u3000", 8, "\x81\x40", kWhole},
      {u"\u2661", 8, "\x83\xBB", kWhole},
      {u"a\\\u8868\\b", 16, "a\\\x95\x5C\\b", kWhole},
      {u"\u00B1", 8, "\xB1", kWhole},
      {u"C:\\x~", 8, "C:\\x~", kWhole},
      {u"\u00E9", 8, "\xE9", kWhole},  // below 0x100 one byte, though the table has 0x85 0x7E
      {u"a\u0500b", 8, "a?b", kWhole},  // outside the reverse ranges
      {u"\u4E04", 8, "?", kWhole},       // a kanji outside JIS X 0213
      {u"\U0002000B", 8, "??", kWhole},  // surrogate units have no reverse mapping
      {u"\u3000", 1, "", 0},
      {u"\u3000", 2, "", 0},  // never half a character
      {u"\u3000", 3, "\x81\x40", 1},
      {u"a\u3000", 2, "a", 1},
      {u"a\u3000", 3, "a", 1},
      {u"ab", 2, "a", 1},
      {std::u16string(20000, u'\u4E9C'), 100, kanji(49), 49},  // 98 bytes, no half character
      {std::u16string(10005, u'a'), 20000, std::string(9998, 'a'), 9998},  // the walk stops after 9998 units
      {std::u16string(9997, u'a') + u"\u3000\u3000", 20000, std::string(9997, 'a') + "\x81\x40", 9998},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    const Case& c = cases[i];
    const int examined = c.examined == kWhole ? static_cast<int>(c.source.size()) : c.examined;
    EXPECT_EQ(guardedCall(wideToSjis, c.capacity, c.source.c_str()), std::make_pair(examined, c.text)) << "row " << i;
  }
}

}  // namespace
