// The number and token scanners over the reader's look-ahead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/exit.h"
#include "platform/sim/sim.h"
#include "support/file_io.h"
#include "support/scan.h"

namespace {

namespace fs = std::filesystem;

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetFileChannels();
    resetExitHandlers();
    simReset();
    std::string pattern = ::testing::TempDir() + "notalumen_scan_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }

  void TearDown() override {
    resetFileChannels();
    resetExitHandlers();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  // Makes bytes the reader's file, opened by its narrow name.
  void input(const std::string& bytes) {
    const std::string file = (fs::path(dir) / ("scan" + std::to_string(files++) + ".ini")).string();
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(rfopen(file.c_str()), 0);
  }

  std::string dir;
  int files = 0;
};

constexpr int32_t kUntouched = 0x5A5A5A5A;

// ---------------------------------------------------------------------------
// Character classes, line and separator skipping.

TEST_F(ScanTest, CharacterClasses) {
  const std::string separators(" ,\t\r\n\x1a=;:");
  const std::string tokenEnds(" \t\r\n\x1a;\"");
  for (int c = -1; c < 256; c++) {
    const bool separator = c >= 0 && std::memchr(separators.data(), c, separators.size()) != nullptr;
    const bool tokenEnd = c >= 0 && std::memchr(tokenEnds.data(), c, tokenEnds.size()) != nullptr;
    EXPECT_EQ(isSeparator(c) != 0, separator) << c;
    EXPECT_EQ(isTokenEnd(c) != 0, tokenEnd) << c;
  }
}

TEST_F(ScanTest, SkipLineConsumesOneByteOfACrLfPair) {
  input("abc\r\nx");
  EXPECT_EQ(rfskipline(), 0);
  EXPECT_EQ(rfpeek(), '\n');
  EXPECT_EQ(rfskipline(), 0);
  EXPECT_EQ(rfpeek(), 'x');
  EXPECT_EQ(rfskipline(), -1);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, SkipLineStopsAfterCtrlZAndLf) {
  input("a\x1a" "b\nc");
  EXPECT_EQ(rfskipline(), 0);
  EXPECT_EQ(rfpeek(), 'b');
  EXPECT_EQ(rfskipline(), 0);
  EXPECT_EQ(rfpeek(), 'c');
}

TEST_F(ScanTest, SkipSeparatorsStopsAtTheFirstOtherByte) {
  input(" ,\t\r\n\x1a=;:x ");
  EXPECT_EQ(rfskipsep(), 0);
  EXPECT_EQ(rfpeek(), 'x');
  rfgetc();
  EXPECT_EQ(rfskipsep(), 0);
  EXPECT_EQ(rfpeek(), -1);
}

// ---------------------------------------------------------------------------
// rfgetint and rfgethex.

TEST_F(ScanTest, IntegerOfFiveDigitsLeavesTheLineEnd) {
  input("12345\n");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 12345);
  EXPECT_EQ(rfpeek(), '\n');
}

TEST_F(ScanTest, IntegerOfSixDigitsFailsWithSixConsumed) {
  input("1234567\n");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), -2);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(rfpeek(), '7');
}

TEST_F(ScanTest, LeadingZerosCountAsDigits) {
  input("000012 99999 ");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), -2);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(rfpeek(), ' ');
  rfgetc();
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 99999);
}

TEST_F(ScanTest, IntegerSigns) {
  input("+-7 -+7 - +8 -0x");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, -7);
  EXPECT_EQ(rfgetc(), ' ');

  value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);  // -+7 stops at the "+" with no digits
  EXPECT_EQ(value, 0);
  EXPECT_EQ(rfpeek(), '+');
  EXPECT_EQ(rfgetc(), '+');
  EXPECT_EQ(rfgetc(), '7');
  EXPECT_EQ(rfgetc(), ' ');

  value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);  // "-" then a space
  EXPECT_EQ(value, 0);
  EXPECT_EQ(rfpeek(), ' ');
  rfgetc();

  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 8);
  rfgetc();

  value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(rfpeek(), 'x');
}

TEST_F(ScanTest, HexDigitsInEitherCase) {
  input("fF;g -1A FFFFF;000000");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgethex(&value), 0);
  EXPECT_EQ(value, 255);
  EXPECT_EQ(rfgetc(), ';');

  value = kUntouched;
  EXPECT_EQ(rfgethex(&value), 0);  // g is no digit: 0, nothing consumed
  EXPECT_EQ(value, 0);
  EXPECT_EQ(rfgetc(), 'g');
  EXPECT_EQ(rfgetc(), ' ');

  EXPECT_EQ(rfgethex(&value), 0);
  EXPECT_EQ(value, -0x1A);
  EXPECT_EQ(rfgetc(), ' ');

  EXPECT_EQ(rfgethex(&value), 0);
  EXPECT_EQ(value, 0xFFFFF);
  EXPECT_EQ(rfgetc(), ';');

  value = kUntouched;
  EXPECT_EQ(rfgethex(&value), -2);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, DecimalScanStopsAtHexLetters) {
  input("12ab");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(rfpeek(), 'a');
}

TEST_F(ScanTest, HexSixDigitsConsumed) {
  input("ABCDEF1");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgethex(&value), -2);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(rfpeek(), '1');
}

// The mend: a number that runs to the end of the file is complete.
TEST_F(ScanTest, IntegerAtTheEndOfTheFileIsComplete) {
  input("42");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, NegativeIntegerAtTheEndOfTheFile) {
  input("x -99999");
  rfgetc();
  rfgetc();
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, -99999);
}

TEST_F(ScanTest, HexAtTheEndOfTheFileIsComplete) {
  input("7f");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgethex(&value), 0);
  EXPECT_EQ(value, 0x7F);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, SignAloneOrNothingAtTheEndGivesZero) {
  input("-");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(rfpeek(), -1);
  value = kUntouched;
  EXPECT_EQ(rfgethex(&value), 0);
  EXPECT_EQ(value, 0);
}

TEST_F(ScanTest, SixDigitsAtTheEndStillFail) {
  input("123456");
  int32_t value = kUntouched;
  EXPECT_EQ(rfgetint(&value), -2);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(rfpeek(), -1);
}

// ---------------------------------------------------------------------------
// rfgetfloat.

TEST_F(ScanTest, FloatForms) {
  input(".5 -.5 2.5e1 +3 4. 2E-1 1e+2;7.25e");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 0.5f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, -0.5f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 25.0f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 3.0f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 4.0f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 0.2f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 100.0f);
  EXPECT_EQ(rfgetc(), ';');
  // The mend: the last number of the file, even with a bare exponent letter.
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 7.25f);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, ExponentLetterWithoutDigitsIsConsumedAndIgnored) {
  input("1e x1E+;");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 1.0f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetc(), 'x');
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 1.0f);
  EXPECT_EQ(rfpeek(), ';');
}

TEST_F(ScanTest, FloatWithoutDigitsFails) {
  input(". e5 -x");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), -1);  // the lone point is consumed
  EXPECT_EQ(value, -99.0f);
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), -1);  // no digit: the exponent letter stays
  EXPECT_EQ(rfgetc(), 'e');
  EXPECT_EQ(rfgetc(), '5');
  EXPECT_EQ(rfgetc(), ' ');
  EXPECT_EQ(rfgetfloat(&value), -1);  // the sign is consumed
  EXPECT_EQ(rfpeek(), 'x');
  EXPECT_EQ(value, -99.0f);
}

TEST_F(ScanTest, FloatAtTheEndOfAnEmptyFileFails) {
  input("");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), -1);
  EXPECT_EQ(value, -99.0f);
}

TEST_F(ScanTest, IntegerDigitRunStopsAt120Characters) {
  input(std::string(119, '0') + "1" + "99999 ");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 1.0f);
  int32_t rest = kUntouched;
  EXPECT_EQ(rfgetint(&rest), 0) << "the digits after the 120th stay unread";
  EXPECT_EQ(rest, 99999);
}

TEST_F(ScanTest, SignCountsTowardsThe120Characters) {
  input("-" + std::string(118, '0') + "3" + "4");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, -3.0f);
  EXPECT_EQ(rfpeek(), '4');
}

TEST_F(ScanTest, FractionDigitRunStopsAt120Characters) {
  input("0." + std::string(118, '5') + "7");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 0.5555555555f);
  EXPECT_EQ(rfpeek(), '7');
}

TEST_F(ScanTest, PointAfterAFullRunIsTakenButNoMoreDigits) {
  input(std::string(119, '0') + "2" + ".5e1");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 2.0f);
  EXPECT_EQ(rfpeek(), '5');
}

TEST_F(ScanTest, ExponentDigitRunStopsAt120Characters) {
  input("1e" + std::string(117, '0') + "1" + "5");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 10.0f);
  EXPECT_EQ(rfpeek(), '5');
}

TEST_F(ScanTest, FullRunThenEveryMarkStaysWithinTheText) {
  // 120 digits, the point (no more digits), then not an exponent: the text
  // holds 121 characters; the scanner must not overrun its buffer.
  input(std::string(120, '0') + ".e+5");
  float value = -99.0f;
  EXPECT_EQ(rfgetfloat(&value), 0);
  EXPECT_FLOAT_EQ(value, 0.0f);
  EXPECT_EQ(rfpeek(), '5');
}

// ---------------------------------------------------------------------------
// rfgettoken.

TEST_F(ScanTest, BareTokenEndsAtASemicolonWhichIsConsumed) {
  input("abc;def");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(rfpeek(), 'd');
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);  // the end of the file ends it
  EXPECT_STREQ(buffer, "def");
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "");
}

TEST_F(ScanTest, BareTokenEnds) {
  input("a\tb\rc\nd\x1a" "e\"f g");
  char buffer[32];
  for (const char* expected : {"a", "b", "c", "d", "e", "f", "g"}) {
    EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 2);
    EXPECT_STREQ(buffer, expected);
  }
}

TEST_F(ScanTest, BareTokenKeepsCommasEqualsAndColons) {
  input("a,b=c:d e");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "a,b=c:d");
  EXPECT_EQ(rfpeek(), 'e');
}

TEST_F(ScanTest, QuotedTokenKeepsSpacesAndSeparators) {
  input("\"a b\" \"x;y, =:z\"w");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "a b");
  EXPECT_EQ(rfpeek(), ' ');
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 9);
  EXPECT_STREQ(buffer, "x;y, =:z");
  EXPECT_EQ(rfpeek(), 'w');
}

TEST_F(ScanTest, EmptyQuotedToken) {
  input("\"\"x");
  char buffer[8];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(rfpeek(), 'x');
}

TEST_F(ScanTest, SeparatorsBeforeATokenAreSkipped) {
  input(" =:,;\t\r\n\x1a tok");
  char buffer[16];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "tok");
}

TEST_F(ScanTest, UnclosedQuoteTakesTheRestOfTheFile) {
  input(" \"abc def;x\r\ny");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 13);
  EXPECT_STREQ(buffer, "abc def;x\r\ny");
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(ScanTest, TokenOf126BytesFitsSize127) {
  input(std::string(126, 'n') + " next");
  char buffer[140];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rfgettoken(buffer, 127), 127);
  EXPECT_EQ(std::string(buffer), std::string(126, 'n'));
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(rfpeek(), 'n');
}

TEST_F(ScanTest, TokenOf127BytesDoesNotFit) {
  input(std::string(127, 'n') + " next");
  char buffer[140];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rfgettoken(buffer, 127), -1);
  EXPECT_EQ(std::string(buffer), std::string(126, 'n'));
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(rfpeek(), ' ') << "the 127th byte is consumed and lost";
}

TEST_F(ScanTest, LongQuotedTokenKeepsItsStartAndLeavesTheRest) {
  input("\"" + std::string(127, 'q') + "tail\"");
  char buffer[140];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rfgettoken(buffer, 127), -1);
  EXPECT_EQ(std::string(buffer), std::string(126, 'q'));
  EXPECT_EQ(buffer[127], '#');
  EXPECT_EQ(rfpeek(), 't');
}

TEST_F(ScanTest, SizeOneHoldsOnlyTheEmptyToken) {
  input("ab");
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(rfgettoken(buffer, 1), -1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], '#');
  EXPECT_EQ(rfpeek(), 'b');
  rfgetc();
  EXPECT_EQ(rfgettoken(buffer, 1), 1);
  EXPECT_EQ(buffer[0], 0);
}

// ---------------------------------------------------------------------------
// rfgettoken and double-byte characters (Shift-JIS, code page 932).

TEST_F(ScanTest, SecondByteNeverEndsATokenUnderCodePage932) {
  simSetCodePage(932);
  input("\"\x83\x22x\" \x81\x20y z a\x95;b\tc\x81\x81\"d");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "\x83\x22x");
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "\x81\x20y");
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "z");
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "a\x95;b");
  // A second byte in the lead-byte range is no lead byte: the quote ends.
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "c\x81\x81");
  EXPECT_EQ(rfpeek(), 'd');
}

TEST_F(ScanTest, WithoutADoubleByteCodePageEveryByteCounts) {
  input("\"\x83\x22x\" a\x95;b");
  char buffer[32];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "\x83");
  EXPECT_EQ(rfpeek(), 'x');
  rfgetc();
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 6);  // the quote opens a token to the end
  EXPECT_STREQ(buffer, " a\x95;b");
}

TEST_F(ScanTest, LeadByteAtTheEndOfTheFileIsStored) {
  simSetCodePage(932);
  input("ab\x81");
  char buffer[8];
  EXPECT_EQ(rfgettoken(buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "ab\x81");
}

TEST_F(ScanTest, DoubleByteCharacterAcrossTheSizeLimit) {
  simSetCodePage(932);
  input("ab\x82\xA0 c");
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rfgettoken(buffer, 3), -1);  // the lead byte does not fit and is lost
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(buffer[3], '#');
  EXPECT_EQ(rfpeek(), 0xA0);
}

}  // namespace
