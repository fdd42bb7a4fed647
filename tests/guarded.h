// Calls of the bounded string writers (destination, capacity, source) into a
// destination of capacity units inside a larger buffer filled with a sentinel:
// the test fails when anything past the capacity was written.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

template <typename Unit>
struct Guarded {
  static constexpr Unit kSentinel = static_cast<Unit>(sizeof(Unit) == 1 ? 0x7F : 0xBEEF);
  explicit Guarded(int capacity) : capacity(capacity), buffer(capacity + 8, kSentinel) {}
  Unit* data() { return buffer.data(); }
  // The text up to the terminator.
  std::basic_string<Unit> text() const {
    for (size_t i = capacity; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], kSentinel) << "written past capacity " << capacity << " at " << i;
    }
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    return std::basic_string<Unit>(buffer.data(), length);
  }
  int capacity;
  std::vector<Unit> buffer;
};

// The result of f and the text it wrote.
template <typename Unit, typename Source>
std::pair<int, std::basic_string<Unit>> guardedCall(int (*f)(Unit*, int, const Source*), int capacity,
                                                    const Source* source) {
  Guarded<Unit> destination(capacity);
  const int result = f(destination.data(), capacity, source);
  return {result, destination.text()};
}
