// Name matching: heading and partial comparison with a..z folded to A..Z and
// every other byte compared by its unsigned value (double-byte names byte by byte).
#include "midi/matching.h"

#include <cassert>
#include <cstddef>

namespace {

unsigned char folded(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b >= 'a' && b <= 'z' ? static_cast<unsigned char>(b - ('a' - 'A')) : b;
}

}  // namespace

bool matchHead(const char* text, const char* head) {
  assert(text != nullptr && head != nullptr);
  for (size_t k = 0; head[k] != 0; k++) {
    // The terminator of a shorter text differs from any byte of the head, so
    // the comparison never reads past it.
    if (folded(text[k]) != folded(head[k])) return false;
  }
  return true;
}

bool matchPart(const char* text, const char* part) {
  assert(text != nullptr && part != nullptr);
  size_t t = 0;
  while (text[t] != 0) t++;
  size_t p = 0;
  while (part[p] != 0) p++;
  if (p == 0 || p > t) return false;
  for (size_t s = 0; s <= t - p; s++) {
    size_t k = 0;
    while (k < p && folded(text[s + k]) == folded(part[k])) k++;
    if (k == p) return true;
  }
  return false;
}
