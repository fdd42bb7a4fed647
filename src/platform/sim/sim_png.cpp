// The sim's picture files: a surface's 0xRRGGBB pixels as an 8-bit RGB PNG,
// written with libpng.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include "platform/sim/sim_state.h"

namespace {

// Writes the image into an open file, each row through row (3 x width bytes);
// false when libpng gives up. Nothing here needs undoing after libpng's long
// jump but libpng's own records.
bool writeRows(FILE* file, const uint32_t* pixels, int width, int height, png_byte* row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  // Stored deflate blocks and unfiltered rows in one IDAT chunk: the file is
  // written quickly and read back by the tests without an inflater.
  const size_t raw = static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width));
  png_set_compression_level(png, 0);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_buffer_size(png, raw + raw / 16384 * 5 + 64);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) {
    const uint32_t* from = pixels + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; x++) {
      row[3 * x] = static_cast<png_byte>(from[x] >> 16);
      row[3 * x + 1] = static_cast<png_byte>(from[x] >> 8);
      row[3 * x + 2] = static_cast<png_byte>(from[x]);
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool simWritePng(const char* hostPath, const uint32_t* pixels, int width, int height) {
  if (width <= 0 || height <= 0) return false;  // PNG has no empty image
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);  // R, G, B of one row
  FILE* file = std::fopen(hostPath, "wb");
  if (file == nullptr) return false;
  const bool written = writeRows(file, pixels, width, height, row.data());
  return std::fclose(file) == 0 && written;
}
