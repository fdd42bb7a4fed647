// The number and token scanners over the reader's look-ahead, case by case
// from a fresh file each: what a scan returns, stores and leaves unread.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sim_fixture.h"
#include "support/file_io.h"
#include "support/scan.h"

namespace {

constexpr double kKept = -12345;  // the value a failing scan leaves alone
using Step = std::pair<int, int>;  // a call's result and the look-ahead after it

class ScanTest : public SimTest {
 protected:
  // Makes bytes the reader's file, opened by its narrow name.
  void input(const std::string& bytes) {
    const std::string name = "scan" + std::to_string(files++) + ".ini";
    writeHostFile(name, bytes);
    ASSERT_EQ(rfopen(hostFile(name).c_str()), 0);
  }
  static Step step(int result) { return {result, rfpeek()}; }
  int files = 0;
};

TEST_F(ScanTest, CharacterClasses) {
  const std::string separators(" ,\t\r\n\x1a=;:");
  const std::string tokenEnds(" \t\r\n\x1a;\"");
  for (int c = -1; c < 256; c++) {
    EXPECT_EQ(isSeparator(c) != 0, c >= 0 && std::memchr(separators.data(), c, separators.size()) != nullptr) << c;
    EXPECT_EQ(isTokenEnd(c) != 0, c >= 0 && std::memchr(tokenEnds.data(), c, tokenEnds.size()) != nullptr) << c;
  }
}

TEST_F(ScanTest, SkippingLinesAndSeparators) {
  input("abc\r\nx");  // one byte of a CR LF pair per line
  EXPECT_EQ(step(rfskipline()), Step(0, '\n'));
  EXPECT_EQ(step(rfskipline()), Step(0, 'x'));
  EXPECT_EQ(step(rfskipline()), Step(-1, -1));
  input("a\x1a" "b\nc");  // Ctrl-Z ends a line too
  EXPECT_EQ(step(rfskipline()), Step(0, 'b'));
  EXPECT_EQ(step(rfskipline()), Step(0, 'c'));
  input(" ,\t\r\n\x1a=;:x ");
  EXPECT_EQ(step(rfskipsep()), Step(0, 'x'));
  rfgetc();
  EXPECT_EQ(step(rfskipsep()), Step(0, -1));
}

// One number scanned from the start of the text.
struct NumberCase {
  char kind;  // 'd' rfgetint, 'x' rfgethex, 'f' rfgetfloat
  std::string text;
  int result;
  double value;  // kKept: untouched
  int next;      // the look-ahead after the scan, -1 the end of the file
};

TEST_F(ScanTest, Numbers) {
  const std::string zeros118(118, '0');
  const NumberCase cases[] = {
      {'d', "12345\n", 0, 12345, '\n'},
      {'d', "1234567\n", -2, kKept, '7'},  // six digits consumed
      {'d', "000012 ", -2, kKept, ' '},    // leading zeros count as digits
      {'d', "99999 ", 0, 99999, ' '},
      {'d', "+-7 ", 0, -7, ' '},
      {'d', "-+7", 0, 0, '+'},  // stops at the "+" with no digits
      {'d', "- +8", 0, 0, ' '},
      {'d', "+8", 0, 8, -1},
      {'d', "-0x", 0, 0, 'x'},
      {'d', "12ab", 0, 12, 'a'},  // no hex letters in a decimal
      {'d', "42", 0, 42, -1},     // a number that runs to the end of the file is complete
      {'d', "-99999", 0, -99999, -1},
      {'d', "-", 0, 0, -1},
      {'d', "123456", -2, kKept, -1},
      {'x', "fF;", 0, 255, ';'},
      {'x', "g", 0, 0, 'g'},  // no digit: 0, nothing consumed
      {'x', "-1A ", 0, -0x1A, ' '},
      {'x', "FFFFF;", 0, 0xFFFFF, ';'},
      {'x', "000000", -2, kKept, -1},
      {'x', "ABCDEF1", -2, kKept, '1'},
      {'x', "7f", 0, 0x7F, -1},
      {'x', "-", 0, 0, -1},
      {'f', ".5 ", 0, 0.5, ' '},
      {'f', "-.5 ", 0, -0.5, ' '},
      {'f', "2.5e1 ", 0, 25, ' '},
      {'f', "+3 ", 0, 3, ' '},
      {'f', "4. ", 0, 4, ' '},
      {'f', "2E-1 ", 0, 0.2, ' '},
      {'f', "1e+2;", 0, 100, ';'},
      {'f', "7.25e", 0, 7.25, -1},  // the last number of the file, a bare exponent letter after it
      {'f', "1e x", 0, 1, ' '},     // an exponent letter without digits is consumed and ignored
      {'f', "1E+;", 0, 1, ';'},
      {'f', ". e5", -1, kKept, ' '},  // the lone point is consumed
      {'f', "e5", -1, kKept, 'e'},    // no digit: the exponent letter stays
      {'f', "-x", -1, kKept, 'x'},    // the sign is consumed
      {'f', "", -1, kKept, -1},
      // Each digit run stops once the text holds 120 characters, the sign included.
      {'f', "0" + zeros118 + "1" + "2345 ", 0, 1, '2'},
      {'f', "-" + zeros118 + "34", 0, -3, '4'},
      {'f', "0." + std::string(118, '5') + "7", 0, 0.5555555555, '7'},
      {'f', "0" + zeros118 + "2" + ".5e1", 0, 2, '5'},  // the point is taken, no more digits
      {'f', "1e" + std::string(117, '0') + "1" + "5", 0, 10, '5'},
      {'f', "00" + zeros118 + ".e+5", 0, 0, '5'},  // 121 characters: no overrun of the text
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.kind << " " << ::testing::PrintToString(c.text));
    input(c.text);
    if (c.kind == 'f') {
      float value = static_cast<float>(kKept);
      EXPECT_EQ(rfgetfloat(&value), c.result);
      EXPECT_FLOAT_EQ(value, static_cast<float>(c.value));
    } else {
      int32_t value = static_cast<int32_t>(kKept);
      EXPECT_EQ(c.kind == 'd' ? rfgetint(&value) : rfgethex(&value), c.result);
      EXPECT_EQ(value, static_cast<int32_t>(c.value));
    }
    EXPECT_EQ(rfpeek(), c.next);
  }
}

// rfgettoken called in turn on one text: each call's result and token, then
// the look-ahead. The buffer byte at size must stay untouched.
struct TokenCase {
  int codePage;
  std::string text;
  int size;
  std::vector<std::pair<int, std::string>> tokens;
  int next;
};

TEST_F(ScanTest, Tokens) {
  const std::string n126(126, 'n'), q126(126, 'q');
  const TokenCase cases[] = {
      {0, "abc;def", 32, {{4, "abc"}}, 'd'},             // the semicolon ending it is consumed
      {0, "def", 32, {{4, "def"}, {1, ""}}, -1},         // the end of the file ends it
      {0, "a\tb\rc\nd\x1a" "e\"f g", 32, {{2, "a"}, {2, "b"}, {2, "c"}, {2, "d"}, {2, "e"}, {2, "f"}, {2, "g"}}, -1},
      {0, "a,b=c:d e", 32, {{8, "a,b=c:d"}}, 'e'},       // a bare token keeps , = and :
      {0, "\"a b\" x", 32, {{4, "a b"}}, ' '},
      {0, "\"x;y, =:z\"w", 32, {{9, "x;y, =:z"}}, 'w'},  // quoted: separators are kept
      {0, "\"\"x", 8, {{1, ""}}, 'x'},
      {0, " =:,;\t\r\n\x1a tok", 16, {{4, "tok"}}, -1},  // separators before it are skipped
      {0, " \"abc def;x\r\ny", 32, {{13, "abc def;x\r\ny"}}, -1},  // unclosed: the rest of the file
      {0, n126 + " next", 127, {{127, n126}}, 'n'},
      {0, n126 + "n next", 127, {{-1, n126}}, ' '},  // the 127th byte is consumed and lost
      {0, "\"" + q126 + "qtail\"", 127, {{-1, q126}}, 't'},
      {0, "ab", 1, {{-1, ""}}, 'b'},  // size 1 holds only the empty token
      {0, "", 1, {{1, ""}}, -1},
      // The second byte of a double-byte character never ends a token.
      {932, "\"\x83\x22x\" \x81\x20y z a\x95;b\tc\x81\x81\"d", 32,
       {{4, "\x83\x22x"}, {4, "\x81\x20y"}, {2, "z"}, {5, "a\x95;b"}, {4, "c\x81\x81"}}, 'd'},  // 0x81 0x81 then a quote
      {0, "\"\x83\x22x", 32, {{2, "\x83"}}, 'x'},  // without the code page every byte counts
      {0, "\" a\x95;b", 32, {{6, " a\x95;b"}}, -1},
      {932, "ab\x81", 8, {{4, "ab\x81"}}, -1},  // a lead byte at the end is stored
      {932, "ab\x82\xA0 c", 3, {{-1, "ab"}}, 0xA0},  // a lead byte that does not fit is lost
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.codePage << " " << ::testing::PrintToString(c.text));
    simSetCodePage(c.codePage);
    input(c.text);
    char buffer[160];
    std::memset(buffer, '#', sizeof buffer);
    for (const auto& [result, token] : c.tokens) {
      EXPECT_EQ(rfgettoken(buffer, c.size), result);
      EXPECT_EQ(std::string(buffer), token);
      EXPECT_EQ(buffer[c.size], '#');
    }
    EXPECT_EQ(rfpeek(), c.next);
  }
}

}  // namespace
