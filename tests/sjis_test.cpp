// Shift-JIS <-> UTF-16 conversion: the generated tables, the two
// string conversions with their edge cases, and the capacity limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "support/sjis.h"

namespace {

constexpr char16_t kWideSentinel = 0xBEEF;
constexpr char kNarrowSentinel = '\x7F';

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

// sjisToWide into a destination of capacity units inside a larger buffer
// filled with a sentinel; fails the test when anything past it was written.
std::u16string toWide(const std::string& narrow, int capacity, int* examined = nullptr) {
  std::vector<char16_t> buffer(capacity + 8, kWideSentinel);
  const int result = sjisToWide(buffer.data(), capacity, narrow.c_str());
  if (examined != nullptr) *examined = result;
  for (size_t i = capacity; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kWideSentinel) << "written past capacity " << capacity << " at " << i;
  }
  size_t length = 0;
  while (length < buffer.size() && buffer[length] != 0) ++length;
  return std::u16string(buffer.data(), length);
}

std::string toNarrow(const std::u16string& wide, int capacity, int* examined = nullptr) {
  std::vector<char> buffer(capacity + 8, kNarrowSentinel);
  const int result = wideToSjis(buffer.data(), capacity, wide.c_str());
  if (examined != nullptr) *examined = result;
  for (size_t i = capacity; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kNarrowSentinel) << "written past capacity " << capacity << " at " << i;
  }
  size_t length = 0;
  while (length < buffer.size() && buffer[length] != 0) ++length;
  return std::string(buffer.data(), length);
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
  EXPECT_EQ(unicodeToSjis(0x00A5), 0x5Cu);    // YEN SIGN is the single byte 0x5C
  EXPECT_EQ(unicodeToSjis(0x203E), 0x7Eu);    // OVERLINE is the single byte 0x7E
  EXPECT_EQ(unicodeToSjis(0xFF71), 0xB1u);    // half-width katakana
  EXPECT_EQ(unicodeToSjis(0x0041), 0x41u);
  EXPECT_EQ(unicodeToSjis(0x005C), 0x815Fu);  // REVERSE SOLIDUS is double-byte
  EXPECT_EQ(unicodeToSjis(0x007E), 0x81B0u);  // TILDE is double-byte
  EXPECT_EQ(unicodeToSjis(0x00B1), 0x817Du);  // PLUS-MINUS SIGN
  EXPECT_EQ(unicodeToSjis(0x00E9), 0x857Eu);  // LATIN SMALL LETTER E WITH ACUTE
  EXPECT_EQ(unicodeToSjis(0x0000), 0u);
}

// ---- Conversions ------------------------------------------------------------

TEST_F(SjisTest, AsciiFileNameRoundTrips) {
  int examined = -1;
  const std::u16string wide = toWide("progrm01.ini", 64, &examined);
  EXPECT_EQ(wide, u"progrm01.ini");
  EXPECT_EQ(examined, 12);
  EXPECT_EQ(toNarrow(wide, 64, &examined), "progrm01.ini");
  EXPECT_EQ(examined, 12);
}

TEST_F(SjisTest, DoubleByteCharactersConvertBothWays) {
  EXPECT_EQ(toWide("\x81\x40", 8), u"\u3000");  // ideographic space
  EXPECT_EQ(toNarrow(u"\u3000", 8), "\x81\x40");
  EXPECT_EQ(toWide("\x83\xBB", 8), u"\u2661");  // WHITE HEART SUIT
  EXPECT_EQ(toNarrow(u"\u2661", 8), "\x83\xBB");
  // A trail byte of 0x5C is part of the character, not a backslash.
  EXPECT_EQ(toWide("a\\\x95\x5C\\b", 16), u"a\\\u8868\\b");
  EXPECT_EQ(toNarrow(u"a\\\u8868\\b", 16), "a\\\x95\x5C\\b");
}

TEST_F(SjisTest, SingleBytesBypassTheTables) {
  // Half-width katakana and the backslash keep their byte values as units.
  EXPECT_EQ(toWide("\xB1", 8), std::u16string(1, char16_t(0x00B1)));
  EXPECT_EQ(toNarrow(std::u16string(1, char16_t(0x00B1)), 8), "\xB1");
  EXPECT_EQ(toWide("C:\\x~", 8), u"C:\\x~");
  EXPECT_EQ(toNarrow(u"C:\\x~", 8), "C:\\x~");
  // Units below 0x100 are copied as bytes: U+00E9 stays one byte even though
  // its table entry is the double-byte 0x85 0x7E.
  EXPECT_EQ(toNarrow(u"\u00E9", 8), "\xE9");
}

TEST_F(SjisTest, LeadByteTestFollowsTheCodePage) {
  simSetCodePage(0);  // no double-byte characters: every byte is its own unit
  EXPECT_EQ(toWide("\x81\x40", 8), std::u16string({char16_t(0x81), char16_t(0x40)}));
  simSetCodePage(932);
  EXPECT_EQ(toWide("\x81\x40", 8), u"\u3000");
}

TEST_F(SjisTest, LeadByteAtTheEndProducesNothing) {
  int examined = -1;
  EXPECT_EQ(toWide("ab\x82", 8, &examined), u"ab");
  EXPECT_EQ(examined, 3);
  EXPECT_EQ(toWide("\xE0", 8, &examined), u"");
  EXPECT_EQ(examined, 1);
}

TEST_F(SjisTest, UnmappedCharactersBecomeQuestionMarks) {
  EXPECT_EQ(toWide("\x82\xF5", 8), u"?");          // maps to two code points
  EXPECT_EQ(toWide("x\x81\x7F" "y", 8), u"x?y");   // no such code
  EXPECT_EQ(toNarrow(u"a\u0500b", 8), "a?b");      // outside the reverse ranges
  EXPECT_EQ(toNarrow(u"\u4E04", 8), "?");          // a kanji outside JIS X 0213
  // A surrogate unit has no reverse mapping, so a pair gives two "?".
  EXPECT_EQ(toNarrow(u"\U0002000B", 8), "??");
}

TEST_F(SjisTest, CodePointsAboveFfffBecomeSurrogatePairs) {
  EXPECT_EQ(toWide("\x87\xA0", 8), u"\U0002000B");
  EXPECT_EQ(toWide("[\xFC\xF4]", 8), u"[\U0002A6B2]");  // the highest one
}

// ---- Capacity -------------------------------------------------------------

TEST_F(SjisTest, WideDestinationOfOneTwoAndThreeUnits) {
  int examined = -1;
  EXPECT_EQ(toWide("\x81\x40\x81\x40", 1, &examined), u"");
  EXPECT_EQ(examined, 0);
  EXPECT_EQ(toWide("\x81\x40\x81\x40", 2, &examined), u"\u3000");
  EXPECT_EQ(examined, 2);  // stopped before the second character
  EXPECT_EQ(toWide("\x81\x40\x81\x40", 3, &examined), u"\u3000\u3000");
  EXPECT_EQ(examined, 4);
  // A surrogate pair needs two units besides the terminator and is never split.
  EXPECT_EQ(toWide("\x87\xA0", 2, &examined), u"");
  EXPECT_EQ(examined, 0);
  EXPECT_EQ(toWide("a\x87\xA0", 3, &examined), u"a");
  EXPECT_EQ(examined, 1);
  EXPECT_EQ(toWide("\x87\xA0", 3, &examined), u"\U0002000B");
  EXPECT_EQ(examined, 2);
}

TEST_F(SjisTest, NarrowDestinationOfOneTwoAndThreeBytes) {
  int examined = -1;
  EXPECT_EQ(toNarrow(u"\u3000", 1, &examined), "");
  EXPECT_EQ(examined, 0);
  EXPECT_EQ(toNarrow(u"\u3000", 2, &examined), "");  // never half a character
  EXPECT_EQ(examined, 0);
  EXPECT_EQ(toNarrow(u"\u3000", 3, &examined), "\x81\x40");
  EXPECT_EQ(examined, 1);
  EXPECT_EQ(toNarrow(u"a\u3000", 2, &examined), "a");
  EXPECT_EQ(examined, 1);
  EXPECT_EQ(toNarrow(u"a\u3000", 3, &examined), "a");
  EXPECT_EQ(examined, 1);
  EXPECT_EQ(toNarrow(u"ab", 2, &examined), "a");
  EXPECT_EQ(examined, 1);
}

TEST_F(SjisTest, LongInputsAreCutAtTheCapacity) {
  const std::string narrow(20000, 'n');
  int examined = -1;
  EXPECT_EQ(toWide(narrow, 100, &examined), std::u16string(99, u'n'));
  EXPECT_EQ(examined, 99);
  std::string kanji;
  for (int i = 0; i < 5000; ++i) kanji += "\x88\x9F";  // U+4E9C
  EXPECT_EQ(toWide(kanji, 10, &examined), std::u16string(9, u'\u4E9C'));
  EXPECT_EQ(examined, 18);

  const std::u16string wide(20000, u'\u4E9C');
  std::string expected;
  for (int i = 0; i < 49; ++i) expected += "\x88\x9F";
  EXPECT_EQ(toNarrow(wide, 100, &examined), expected);  // 98 bytes, no half character
  EXPECT_EQ(examined, 49);
}

TEST_F(SjisTest, WalkStopsAfter9998SourceBytes) {
  int examined = -1;
  EXPECT_EQ(toWide(std::string(10005, 'a'), 20000, &examined), std::u16string(9998, u'a'));
  EXPECT_EQ(examined, 9998);
  // A lead byte as the 9998th byte is examined but its trail is not.
  std::string split(9997, 'a');
  split += "\x81\x40zz";
  EXPECT_EQ(toWide(split, 20000, &examined), std::u16string(9997, u'a'));
  EXPECT_EQ(examined, 9998);
  // A character ending exactly at byte 9998 is still converted.
  std::string fits(9996, 'a');
  fits += "\x81\x40zz";
  EXPECT_EQ(toWide(fits, 20000, &examined), std::u16string(9996, u'a') + u"\u3000");
  EXPECT_EQ(examined, 9998);
}

TEST_F(SjisTest, WalkStopsAfter9998SourceUnits) {
  int examined = -1;
  EXPECT_EQ(toNarrow(std::u16string(10005, u'a'), 20000, &examined), std::string(9998, 'a'));
  EXPECT_EQ(examined, 9998);
  std::u16string wide(9997, u'a');
  wide += u"\u3000\u3000";
  EXPECT_EQ(toNarrow(wide, 20000, &examined), std::string(9997, 'a') + "\x81\x40");
  EXPECT_EQ(examined, 9998);
}
