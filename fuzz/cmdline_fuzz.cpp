// Fuzz target of the command-line splitter: the input's first byte picks the
// code page; the rest is split as a narrow line, as a wide line of 16-bit
// units, and as the wide line of the same bytes one unit each, which under
// code page 0 must split exactly as the narrow line does. Every list must
// stay inside its store, terminated, with items[count] an empty string.
#include <cstring>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "state/globals.h"
#include "fuzz_common.h"
#include "platform/sim/sim.h"

namespace {

ArgList narrowList;
ArgListW wideList;
ArgListW widenedList;

template <typename Char, typename List>
void checkList(const List& list) {
  FUZZ_CHECK(list.count >= 1 && list.count <= kMaxArgs);
  const Char* end = list.store + kArgStoreSize;
  const Char* previous = list.store;
  for (int i = 0; i <= list.count; i++) {
    const Char* item = list.items[i];
    FUZZ_CHECK(item >= previous && item < end);
    const Char* p = item;
    while (p < end && *p != 0) p++;
    FUZZ_CHECK(p < end);  // terminated inside the store
    previous = item;
  }
  FUZZ_CHECK(list.items[list.count][0] == 0);
}

template <typename Char, typename List>
std::vector<std::u16string> itemsOf(const List& list) {
  std::vector<std::u16string> items;
  for (int i = 0; i < list.count; i++) {
    std::u16string item;
    for (const Char* p = list.items[i]; *p != 0; p++) item += static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(*p));
    items.push_back(item);
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool doubleByte = (data[0] & 1) != 0;
  simReset();
  simSetCodePage(doubleByte ? 932 : 0);

  const std::string narrow(reinterpret_cast<const char*>(data + 1), size - 1);  // up to the first zero
  FUZZ_CHECK(splitCommandLine(&narrowList, narrow.c_str()) == 0);
  checkList<char>(narrowList);

  std::u16string wide;
  for (size_t i = 1; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  FUZZ_CHECK(splitCommandLineW(&wideList, wide.c_str()) == 0);
  checkList<char16_t>(wideList);
  for (int i = 0; i < wideList.count; i++) {
    for (const char16_t* p = wideList.items[i]; *p != 0; p++) FUZZ_CHECK(*p != u'"');
  }

  std::u16string widened;
  for (size_t i = 1; i < size; i++) widened += static_cast<char16_t>(data[i]);
  FUZZ_CHECK(splitCommandLineW(&widenedList, widened.c_str()) == 0);
  checkList<char16_t>(widenedList);
  if (!doubleByte) FUZZ_CHECK((itemsOf<char>(narrowList) == itemsOf<char16_t>(widenedList)));
  return 0;
}
