// Fuzz target of the Shift-JIS conversions: the input's first byte picks the
// code page and two capacities; the rest is converted as a narrow string and
// as a string of 16-bit units into destinations of exactly that capacity, and
// every 32-bit group of it is looked up in both tables. Results must be
// terminated within their capacity, examine no more than the source holds and
// never end in half a surrogate pair.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "platform/sim/sim.h"
#include "support/sjis.h"

namespace {

const int kCapacities[8] = {1, 2, 3, 4, 7, 64, 300, 20000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int control = data[0];
  simReset();
  simSetCodePage(control & 1 ? 932 : 0);

  const std::string narrow(reinterpret_cast<const char*>(data + 1), size - 1);
  const int narrowLength = static_cast<int>(std::strlen(narrow.c_str()));
  const int wideCapacity = kCapacities[control >> 1 & 7];
  std::vector<char16_t> wideOut(static_cast<size_t>(wideCapacity));
  const int examined = sjisToWide(wideOut.data(), wideCapacity, narrow.c_str());
  FUZZ_CHECK(examined >= 0 && examined <= narrowLength);
  const int written = fuzz::unitLength(wideOut.data());  // stops inside the buffer, or ASan reports
  FUZZ_CHECK(written <= wideCapacity - 1);
  if (written > 0) FUZZ_CHECK(!(wideOut[written - 1] >= 0xD800 && wideOut[written - 1] <= 0xDBFF));
  if (wideCapacity >= 2 * narrowLength + 1 && narrowLength < 9998) FUZZ_CHECK(examined == narrowLength);

  std::u16string wide;
  for (size_t i = 1; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const int wideLength = fuzz::unitLength(wide.c_str());
  const int narrowCapacity = kCapacities[control >> 4 & 7];
  std::vector<char> narrowOut(static_cast<size_t>(narrowCapacity));
  const int examinedW = wideToSjis(narrowOut.data(), narrowCapacity, wide.c_str());
  FUZZ_CHECK(examinedW >= 0 && examinedW <= wideLength);
  FUZZ_CHECK(std::memchr(narrowOut.data(), 0, static_cast<size_t>(narrowCapacity)) != nullptr);
  if (narrowCapacity >= 2 * wideLength + 1 && wideLength < 9998) FUZZ_CHECK(examinedW == wideLength);

  // Table lookups with any value at all.
  for (size_t i = 1; i + 3 < size; i += 4) {
    const unsigned value = static_cast<unsigned>(data[i] | data[i + 1] << 8 | data[i + 2] << 16) |
                           static_cast<unsigned>(data[i + 3]) << 24;
    const uint32_t code = sjisToUnicode(value);
    FUZZ_CHECK(code <= 0x10FFFF);
    FUZZ_CHECK(unicodeToSjis(value) <= 0xFFFF);
    FUZZ_CHECK(unicodeToSjis(value & 0xFFFF) <= 0xFFFF);
    FUZZ_CHECK(sjisToUnicode(value & 0xFFFF) <= 0x10FFFF);
  }
  return 0;
}
