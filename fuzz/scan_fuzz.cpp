// Fuzz target of the scanners: the input's first byte picks the code page and
// the order and buffer sizes of the scans; the rest is the file the scans
// read, one after the other, until its end. Each scan is checked against a
// model of what its description promises, run over the same bytes: the value,
// the result, the bytes consumed (the look-ahead afterwards) and, for tokens,
// the buffer, which is exactly its size so that a byte past it is a report.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/reset.h"
#include "state/globals.h"
#include "fuzz_common.h"
#include "platform/sim/sim.h"
#include "support/file_io.h"
#include "support/scan.h"

namespace {

const int kTokenSizes[8] = {1, 2, 3, 8, 16, 127, 259, 4096};

// The file as the model reads it: the bytes and the position of the look-ahead.
struct Model {
  std::string bytes;
  size_t at;
  bool doubleByte;  // code page 932

  int peek() const { return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : -1; }
  int get() { return at < bytes.size() ? static_cast<unsigned char>(bytes[at++]) : -1; }
  bool lead(int c) const { return doubleByte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); }
};

bool separator(int c) {
  return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n' || c == 26 || c == '=' || c == ';' || c == ':';
}
bool tokenEnd(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 26 || c == ';' || c == '"'; }

// Token: separators skipped, quoted or bare, the ending byte consumed, the
// byte that does not fit consumed and lost.
int modelToken(Model& m, std::string* token, int size) {
  token->clear();
  if (size < 1) return -1;
  while (separator(m.peek())) m.get();
  bool quoted = false;
  if (m.peek() == '"') {
    m.get();
    quoted = true;
  }
  bool afterLead = false;
  while (m.peek() >= 0) {
    const int c = m.get();
    if (afterLead) {
      afterLead = false;
    } else if (m.lead(c)) {
      afterLead = true;
    } else if (quoted ? c == '"' : tokenEnd(c)) {
      return static_cast<int>(token->size()) + 1;
    }
    if (static_cast<int>(token->size()) >= size - 1) return -1;
    *token += static_cast<char>(c);
  }
  return static_cast<int>(token->size()) + 1;
}

// Number: "+" then "-" may precede at most five digits; a sixth is consumed
// and fails the scan.
int modelNumber(Model& m, int base, int32_t* out) {
  bool negative = false;
  if (m.peek() == '+') m.get();
  if (m.peek() == '-') {
    m.get();
    negative = true;
  }
  int32_t value = 0;
  int digits = 0;
  for (;;) {
    const int c = m.peek();
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (d < 0) break;
    m.get();
    if (++digits > 5) return -2;
    value = value * base + d;
  }
  *out = negative ? -value : value;
  return 0;
}

// Float: sign, digits, "." and digits, and after a digit an exponent with its
// sign and digits; each digit run stops at 120 characters of text.
int modelFloat(Model& m, float* out) {
  std::string text;
  int digits = 0;
  auto run = [&] {
    int n = 0;
    while (text.size() < 120 && m.peek() >= '0' && m.peek() <= '9') {
      text += static_cast<char>(m.get());
      n++;
    }
    return n;
  };
  if (m.peek() == '+' || m.peek() == '-') text += static_cast<char>(m.get());
  digits += run();
  if (m.peek() == '.') {
    text += static_cast<char>(m.get());
    digits += run();
  }
  if (digits > 0 && (m.peek() == 'e' || m.peek() == 'E')) {
    text += static_cast<char>(m.get());
    if (m.peek() == '+' || m.peek() == '-') text += static_cast<char>(m.get());
    run();
  }
  if (digits == 0) return -1;
  *out = static_cast<float>(std::strtod(text.c_str(), nullptr));
  return 0;
}

void scanOnce(Model& m, int op, int sizeIndex) {
  switch (op % 8) {
    case 0: {
      const int size = kTokenSizes[sizeIndex % 8];
      std::vector<char> buffer(static_cast<size_t>(size));  // exactly size bytes
      const int result = rfgettoken(buffer.data(), size);
      std::string expected;
      FUZZ_CHECK(result == modelToken(m, &expected, size));
      FUZZ_CHECK(std::memchr(buffer.data(), 0, static_cast<size_t>(size)) != nullptr);
      FUZZ_CHECK(std::memcmp(buffer.data(), expected.c_str(), expected.size() + 1) == 0);
      break;
    }
    case 1:
    case 2: {
      const int base = op % 8 == 1 ? 10 : 16;
      int32_t value = 0x5A5A5A5A;
      int32_t expected = 0x5A5A5A5A;
      const int result = base == 10 ? rfgetint(&value) : rfgethex(&value);
      FUZZ_CHECK(result == modelNumber(m, base, &expected));
      FUZZ_CHECK(value == expected);  // untouched on -2
      break;
    }
    case 3: {
      float value = 0.25f, expected = 0.25f;
      const int result = rfgetfloat(&value);
      FUZZ_CHECK(result == modelFloat(m, &expected));
      FUZZ_CHECK(std::memcmp(&value, &expected, sizeof value) == 0);
      break;
    }
    case 4:
      FUZZ_CHECK(rfskipsep() == 0);
      while (separator(m.peek())) m.get();
      break;
    case 5: {
      const int result = rfskipline();
      int modelResult = -1;
      for (int c = m.get(); c >= 0; c = m.get()) {
        if (c == '\r' || c == '\n' || c == 26) {
          modelResult = 0;
          break;
        }
      }
      FUZZ_CHECK(result == modelResult);
      break;
    }
    case 6:
      FUZZ_CHECK(rfgetc() == m.get());
      break;
    default:
      FUZZ_CHECK(isSeparator(m.peek()) == separator(m.peek()));
      FUZZ_CHECK(isTokenEnd(m.peek()) == tokenEnd(m.peek()));
      break;
  }
  FUZZ_CHECK(rfpeek() == m.peek());  // both consumed the same bytes
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int control = data[0];
  simReset();
  simSetCodePage(control & 1 ? 932 : 0);
  resetGlobalState();
  fuzz::writeFile("scan.txt", data + 1, size - 1);
  FUZZ_CHECK(rfopen((fuzz::simDir() + "scan.txt").c_str()) == 0);
  Model m{std::string(reinterpret_cast<const char*>(data + 1), size - 1), 0, (control & 1) != 0};
  // Every round ends with rfgetc, so the reading reaches the end of the file.
  unsigned op = static_cast<unsigned>(control) >> 1;
  int steps = 0;
  while (rfpeek() >= 0) {
    scanOnce(m, static_cast<int>(op % 8), static_cast<int>(op / 8 % 8) + steps);
    scanOnce(m, static_cast<int>(op / 3 % 8) + steps, steps);
    scanOnce(m, 6, 0);
    op = op * 5 + 1;  // unsigned: wraps
    FUZZ_CHECK(++steps <= static_cast<int>(size));
  }
  FUZZ_CHECK(rfgetc() == -1);  // the end is sticky
  rfclose();
  resetGlobalState();
  return 0;
}
