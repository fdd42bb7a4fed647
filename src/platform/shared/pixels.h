// Rectangle fill and block copy on 32-bit pixel buffers (0xRRGGBB, row after
// row), shared by the desktop and sim window backends.
#pragma once

#include <cstdint>

struct PixelBuffer {
  uint32_t* data;  // first pixel of the top row; null when empty
  int width;       // in pixels
  int height;      // in pixels
};

// Fills [left, right) x [top, bottom), clipped to the buffer.
void pixelFill(PixelBuffer p, long long left, long long top, long long right, long long bottom, uint32_t colour);

// Copies the part of a w x h block from s at (sx, sy) to d at (dx, dy) that lies
// inside both buffers, as BitBlt does; s and d may be the same buffer and the
// block may overlap itself (rows move as memmove moves bytes).
void pixelCopy(PixelBuffer d, long long dx, long long dy, long long w, long long h, PixelBuffer s, long long sx,
               long long sy);
