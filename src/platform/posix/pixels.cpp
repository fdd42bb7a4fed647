// Rectangle fill and block copy on 32-bit pixel buffers (see pixels.h).
#include "platform/posix/pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

void pixelFill(PixelBuffer p, long long left, long long top, long long right, long long bottom, uint32_t colour) {
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, static_cast<long long>(p.width));
  bottom = std::min(bottom, static_cast<long long>(p.height));
  if (left >= right || top >= bottom || p.data == nullptr) return;
  // A key is drawn as short rows and one-pixel lines, where a general fill's
  // set-up for each row costs more than its stores: rows are stepped by a
  // pointer and filled with 8- or 4-pixel blocks, the last block of a row
  // overlapping the one before instead of finishing pixel by pixel.
  const size_t width = static_cast<size_t>(right - left);
  const size_t stride = static_cast<size_t>(p.width);
  uint32_t* row = p.data + static_cast<size_t>(top) * stride + static_cast<size_t>(left);
  uint32_t* const end = row + static_cast<size_t>(bottom - top) * stride;
  uint32_t block[8];
  std::fill(std::begin(block), std::end(block), colour);
  if (width >= 8) {
    for (; row != end; row += stride) {
      size_t x = 0;
      for (; x + 8 <= width; x += 8) std::memcpy(row + x, block, sizeof block);
      if (x < width) std::memcpy(row + width - 8, block, sizeof block);
    }
  } else if (width >= 4) {
    for (; row != end; row += stride) {
      std::memcpy(row, block, 4 * sizeof(uint32_t));
      std::memcpy(row + width - 4, block, 4 * sizeof(uint32_t));
    }
  } else {
    for (; row != end; row += stride) {
      for (size_t x = 0; x < width; x++) row[x] = colour;
    }
  }
}

void pixelCopy(PixelBuffer d, long long dx, long long dy, long long w, long long h, PixelBuffer s, long long sx,
               long long sy) {
  if (d.data == nullptr || s.data == nullptr) return;
  const long long x0 = std::max({0LL, -dx, -sx});
  const long long y0 = std::max({0LL, -dy, -sy});
  const long long x1 = std::min({w, d.width - dx, s.width - sx});
  const long long y1 = std::min({h, d.height - dy, s.height - sy});
  if (x0 >= x1 || y0 >= y1) return;
  const size_t count = static_cast<size_t>(x1 - x0) * sizeof(uint32_t);
  const bool upwards = d.data == s.data && dy > sy;  // rows not yet read must not be overwritten
  for (long long i = 0; i < y1 - y0; i++) {
    const long long y = upwards ? y1 - 1 - i : y0 + i;
    std::memmove(d.data + static_cast<size_t>((dy + y) * d.width + dx + x0),
                 s.data + static_cast<size_t>((sy + y) * s.width + sx + x0), count);
  }
}
