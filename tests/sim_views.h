// Views of the sim window machine as single values, so that a size or a
// rectangle is checked in one expectation.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include "platform/sim/sim.h"

using Size = std::pair<int, int>;      // width, height
using Rect = std::array<int, 4>;       // left, top, right, bottom

inline Size clientSize() {
  int w = 0, h = 0;
  simClientSize(&w, &h);
  return {w, h};
}
inline Size surfaceSize(intptr_t surface) {
  int w = 0, h = 0;
  simSurfaceSize(surface, &w, &h);
  return {w, h};
}
inline Size maximizedSize() {
  int w = 0, h = 0;
  simMaximizedSize(&w, &h);
  return {w, h};
}
inline Rect windowRect() {
  Rect r{};
  simWindowRect(&r[0], &r[1], &r[2], &r[3]);
  return r;
}
inline Size outerSize() {
  const Rect r = windowRect();
  return {r[2] - r[0], r[3] - r[1]};
}
