// Rectangle fill and block copy on 32-bit pixel buffers (see pixels.h).
#include "platform/shared/pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr size_t kNarrowFill = 16;     // pixels: a row of at most two cache lines
constexpr long long kPrefetchRows = 64;  // rows asked for ahead of a narrow fill

}  // namespace

void pixelFill(PixelBuffer p, long long left, long long top, long long right, long long bottom, uint32_t colour) {
  left = std::max(left, 0LL);
  top = std::max(top, 0LL);
  right = std::min(right, static_cast<long long>(p.width));
  bottom = std::min(bottom, static_cast<long long>(p.height));
  if (left >= right || top >= bottom || p.data == nullptr) return;
  // A key is drawn as short rows and one-pixel lines, where a general fill's
  // set-up for each row costs more than its stores: rows are stepped by a
  // pointer and filled with 4-pixel stores from a register, the last store of a
  // row overlapping the one before instead of finishing pixel by pixel.
  const size_t width = static_cast<size_t>(right - left);
  const size_t stride = static_cast<size_t>(p.width);
  uint32_t* row = p.data + static_cast<size_t>(top) * stride + static_cast<size_t>(left);
  uint32_t* const end = row + static_cast<size_t>(bottom - top) * stride;
  typedef uint32_t Quad __attribute__((vector_size(16)));
  const Quad quad = {colour, colour, colour, colour};
  auto put = [&quad](uint32_t* at) { std::memcpy(at, &quad, sizeof quad); };
  // Each row of a narrow fill is a cache line of its own, a row length away
  // from the one before: too far apart for the processor's own prefetching, so
  // every row's store would wait for its line in turn. Asking for all of them
  // first lets the lines come in together (notes drawn on a 16-column keyboard
  // went from about 1.5 to 2.1 million a second with this, see
  // docs/performance.md).
  if (width <= kNarrowFill) {
    uint32_t* const last = bottom - top > kPrefetchRows ? row + kPrefetchRows * stride : end;
    for (uint32_t* r = row; r != last; r += stride) __builtin_prefetch(r, 1);
  }
  if (width == 1) {
    for (; row != end; row += stride) *row = colour;
  } else if (width < 4) {
    for (; row != end; row += stride) {
      for (size_t x = 0; x < width; x++) row[x] = colour;
    }
  } else if (width <= 8) {
    for (; row != end; row += stride) {
      put(row);
      put(row + width - 4);
    }
  } else {
    for (; row != end; row += stride) {
      size_t x = 0;
      for (; x + 8 <= width; x += 8) {
        put(row + x);
        put(row + x + 4);
      }
      if (x < width) {
        put(row + width - 8);
        put(row + width - 4);
      }
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
  if (d.data != s.data && x1 - x0 <= static_cast<long long>(kNarrowFill)) {
    // A key's box from the back buffer to the window: short rows far apart,
    // where a library call per row costs more than the copy. Rows are stepped
    // by pointers and copied in 4-pixel blocks, the last overlapping the one
    // before, as the fill does.
    const size_t width = static_cast<size_t>(x1 - x0);
    const size_t dStride = static_cast<size_t>(d.width);
    const size_t sStride = static_cast<size_t>(s.width);
    uint32_t* to = d.data + static_cast<size_t>((dy + y0) * d.width + dx + x0);
    const uint32_t* from = s.data + static_cast<size_t>((sy + y0) * s.width + sx + x0);
    uint32_t* const end = to + static_cast<size_t>(y1 - y0) * dStride;
    uint32_t* const last = y1 - y0 > kPrefetchRows ? to + kPrefetchRows * dStride : end;
    for (uint32_t* r = to; r != last; r += dStride) __builtin_prefetch(r, 1);
    uint32_t block[4];
    auto move = [&block](uint32_t* at, const uint32_t* source) {
      std::memcpy(block, source, sizeof block);
      std::memcpy(at, block, sizeof block);
    };
    for (; to != end; to += dStride, from += sStride) {
      if (width < 4) {
        for (size_t x = 0; x < width; x++) to[x] = from[x];
        continue;
      }
      for (size_t x = 0; x + 4 <= width; x += 4) move(to + x, from + x);
      if (width % 4 != 0) move(to + width - 4, from + width - 4);
    }
    return;
  }
  const bool upwards = d.data == s.data && dy > sy;  // rows not yet read must not be overwritten
  for (long long i = 0; i < y1 - y0; i++) {
    const long long y = upwards ? y1 - 1 - i : y0 + i;
    std::memmove(d.data + static_cast<size_t>((dy + y) * d.width + dx + x0),
                 s.data + static_cast<size_t>((sy + y) * s.width + sx + x0), count);
  }
}
