// Fuzz target of the path helpers: the input's first byte picks the code page
// and the capacities; the rest is a narrow path, a wide path, the earlier
// contents of an append destination (not necessarily terminated) and a file
// pattern searched in a scratch directory of a few files and directories.
// Every result must be terminated within its capacity, be as long as the
// helper says, and be the part of the path it names.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "platform/sim/sim.h"
#include "support/paths.h"

namespace {

const int kCapacities[8] = {1, 2, 3, 5, 16, 64, 260, 4096};

// The scratch directory's files: two plain files, one whose UTF-8 name is
// Shift-JIS under code page 932, and two directories.
void makeScratchFiles() {
  static bool made = false;
  if (made) return;
  made = true;
  const uint8_t none[1] = {0};
  fuzz::writeFile("song.mid", none, 0);
  fuzz::writeFile("notes.txt", none, 0);
  fuzz::writeFile("\xE8\xA1\xA8.ini", none, 0);  // U+8868, 0x95 0x5C in Shift-JIS
  mkdir((fuzz::hostDir() + "/sub").c_str(), 0700);
  mkdir((fuzz::hostDir() + "/sub.d").c_str(), 0700);
}

void checkNarrowPart(const char* path, const char* result, int returned, int capacity, bool tail) {
  const size_t length = std::strlen(result);  // the buffer is exactly capacity bytes: ASan sees a run-off
  FUZZ_CHECK(static_cast<int>(length) == returned && returned <= capacity - 1);
  const size_t pathLength = std::strlen(path);
  FUZZ_CHECK(length <= pathLength);
  if (!tail) FUZZ_CHECK(std::memcmp(path, result, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int control = data[0];
  simReset();
  simSetCodePage(control & 1 ? 932 : 0);
  makeScratchFiles();
  fuzz::Bytes in{data + 1, size - 1, 0};
  const int capacity = kCapacities[control >> 1 & 7];
  const int capacityW = kCapacities[control >> 4 & 7];

  // Narrow path: up to the first zero of the input.
  const std::string narrow(reinterpret_cast<const char*>(in.data), in.size);
  std::vector<char> out(static_cast<size_t>(capacity));
  int n = dirPart(out.data(), capacity, narrow.c_str());
  checkNarrowPart(narrow.c_str(), out.data(), n, capacity, false);
  if (n > 0 && n < capacity - 2) FUZZ_CHECK(out[static_cast<size_t>(n) - 1] == '\\');  // not cut: ends at a separator
  n = extPart(out.data(), capacity, narrow.c_str());
  checkNarrowPart(narrow.c_str(), out.data(), n, capacity, true);
  if (n > 0) {
    FUZZ_CHECK(out[0] == '.');
    FUZZ_CHECK(std::strstr(narrow.c_str(), out.data()) != nullptr);
  }

  // Wide path: the same bytes in pairs.
  std::u16string wide;
  for (size_t i = 0; i + 1 < in.size; i += 2) wide += static_cast<char16_t>(in.data[i] | in.data[i + 1] << 8);
  const int wideLength = fuzz::unitLength(wide.c_str());
  FUZZ_CHECK(wstrlength(wide.c_str()) == wideLength);
  std::vector<char16_t> outW(static_cast<size_t>(capacityW));
  n = dirPartW(outW.data(), capacityW, wide.c_str());
  FUZZ_CHECK(n == fuzz::unitLength(outW.data()) && n <= capacityW - 1 && n <= wideLength);
  FUZZ_CHECK(std::u16string(outW.data()) == wide.substr(0, static_cast<size_t>(n)));
  n = wstrcopy(outW.data(), capacityW, wide.c_str());
  FUZZ_CHECK(n == fuzz::unitLength(outW.data()) && n <= capacityW - 1);
  FUZZ_CHECK(std::u16string(outW.data()) == wide.substr(0, static_cast<size_t>(n)));
  if (n > 0) FUZZ_CHECK(!(outW[static_cast<size_t>(n) - 1] >= 0xD800 && outW[static_cast<size_t>(n) - 1] <= 0xDBFF &&
                          n < wideLength && wide[static_cast<size_t>(n)] >= 0xDC00 && wide[static_cast<size_t>(n)] <= 0xDFFF));

  // Append onto earlier contents that may fill the whole destination.
  std::vector<char16_t> dest(static_cast<size_t>(capacityW));
  for (size_t i = 0; i < dest.size(); i++) dest[i] = i < wide.size() ? static_cast<char16_t>(wide[wide.size() - 1 - i] | 1) : 0;
  if (control & 0x80) dest[dest.size() / 2] = 0;
  size_t before = 0;
  while (before < dest.size() && dest[before] != 0) before++;
  const std::u16string kept(dest.data(), before < dest.size() ? before : dest.size() - 1);
  n = wstrappend(dest.data(), capacityW, wide.c_str());
  const int total = fuzz::unitLength(dest.data());  // terminated inside, or ASan reports
  FUZZ_CHECK(total <= capacityW - 1 && n >= 0);
  FUZZ_CHECK(std::u16string(dest.data()).compare(0, kept.size(), kept) == 0);
  if (before < dest.size()) FUZZ_CHECK(total == static_cast<int>(before) + n);

  // A pattern in the scratch directory: the narrow bytes, at most 200.
  const std::string pattern = fuzz::simDir() + narrow.substr(0, 200).c_str();
  std::vector<char> found(static_cast<size_t>(capacity));
  const int result = findFileName(found.data(), capacity, pattern.c_str());
  FUZZ_CHECK(result == 0 || result == -1 || result == -2);
  FUZZ_CHECK(std::strlen(found.data()) < static_cast<size_t>(capacity));
  if (result != 0) FUZZ_CHECK(found[0] == 0);
  return 0;
}
