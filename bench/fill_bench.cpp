// Fill-rate baselines for the drawing figures: a plain fill of a pixel block
// the size of a 16-column back buffer, the same through the sim's surface
// fill, and key-sized rectangles through the surface fill.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bench_machine.h"
#include "display/os_window.h"

namespace {

enum { kWidth = 407, kHeight = 16 * 50 + 15 * 2 };  // 16 columns of the default keyboard with their gaps

void BM_RawFill(benchmark::State& state) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);
  uint32_t colour = 0xFF7878;
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), colour);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
    colour ^= 0x0F0F0F;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(pixels.size() * sizeof(uint32_t)));
}
BENCHMARK(BM_RawFill);

void BM_SurfaceFill(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  const OsSurface surface = osCreateOffscreen(0, kWidth, kHeight);
  const OsRect all = {0, 0, kWidth, kHeight};
  uint8_t g = 120;
  for (auto _ : state) {
    osFillRect(surface, &all, 255, g, 120);
    g ^= 0x0F;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kWidth) * kHeight * 4);
  osDestroyOffscreen(surface);
  benchCloseMachine();
}
BENCHMARK(BM_SurfaceFill);

// The interior of a white key's upper part (8 x 30 pixels) and a one-pixel
// outline of the same height, in turn: the fills a key change is made of.
void BM_SurfaceFillKeyRects(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  const OsSurface surface = osCreateOffscreen(0, kWidth, kHeight);
  const OsRect interior = {295, 1, 303, 31};
  const OsRect outline = {294, 0, 295, 31};
  for (auto _ : state) {
    osFillRect(surface, &interior, 255, 120, 120);
    osFillRect(surface, &outline, 0, 0, 0);
  }
  state.SetItemsProcessed(state.iterations() * 2);
  osDestroyOffscreen(surface);
  benchCloseMachine();
}
BENCHMARK(BM_SurfaceFillKeyRects);

}  // namespace
