// Keyboard geometry: note range, key positions, column stacking, hit testing.
//
// Everything is integer arithmetic on a grid of units: one horizontal unit is
// MagX pixels, one vertical unit MagY pixels. An octave is 98 units wide (seven
// white keys of 14 units); a key is 5 units high, the black keys taking the
// upper 3. Two settings the reader accepts would break that arithmetic, and
// the geometry settles them itself:
// - MagX 0 (an -mX value below 0.5) is taken as 1: keys are never zero pixels
//   wide and the hit test never divides by zero. MagY 0 (-mY below 0.05) is
//   taken as 1 likewise: a key height of 0 would leave a window without keys.
// - NoteMin above NoteMax shows the swapped pair, so the width is never
//   negative. Notes outside 0..127 are clamped to that range first.
#include "display/geometry.h"

#include "support/log.h"
#include "state/display_settings.h"
#include "state/tables.h"

std::mutex displayLock;

int fromOct;
int fromNote;
int toOct;
int toNote;
int firstDisplayedNote;
int lastDisplayedNote;
int gxleft;
int gxright;
int keyHeight;

int columnTop[16];
int columnHeight[16];

namespace {

// Left and right edge of each white key's lower part, in units from the
// octave's left edge (black keys map to nothing here).
const int kLowerLeft[12] = {0, 0, 14, 0, 28, 42, 0, 56, 0, 70, 0, 84};
const int kLowerRight[12] = {14, 0, 28, 0, 42, 56, 0, 70, 0, 84, 0, 98};

bool isBlack(int n) { return n == 1 || n == 3 || n == 6 || n == 8 || n == 10; }

int clampNote(int note) { return note < 0 ? 0 : note > 127 ? 127 : note; }

int columnLimit(void) { return maxcolumns < 0 ? 0 : maxcolumns > 16 ? 16 : maxcolumns; }

}  // namespace

int unitX(void) { return MagX < 1 ? 1 : MagX; }

int unitY(void) { return MagY < 1 ? 1 : MagY; }

bool singleColumnMode(void) { return allChMix != 0 || maxcolumns == 0; }

int setKeyRange(int low, int high) {
  low = clampNote(low);
  high = clampNote(high);
  if (low > high) {
    int t = low;
    low = high;
    high = t;
  }
  int mx = unitX();

  fromOct = low / 12;
  int n = low % 12;
  if (isBlack(n)) n--;
  fromNote = n;
  gxleft = (fromOct * 98 + kLowerLeft[n]) * mx;

  toOct = high / 12;
  int m = high % 12;
  if (isBlack(m)) m++;
  toNote = m;
  gxright = (toOct * 98 + kLowerRight[m]) * mx;

  firstDisplayedNote = fromOct * 12 + fromNote;
  lastDisplayedNote = toOct * 12 + toNote;
  keyHeight = 5 * unitY();

  log("from  oct %d - note %d \n", fromOct, fromNote);
  log("to    oct %d - note %d \n", toOct, toNote);
  log("notefrom %d - noteto %d (%d keys) \n", low, high, high - low + 1);
  log("gxleft %d - gxright %d (%d white keys) \n", gxleft, gxright, (gxright - gxleft) / 14);
  return 0;
}

void layoutColumns(void) {
  if (singleColumnMode()) {
    for (int i = 0; i < 16; i++) {
      columnHeight[i] = keyHeight;
      columnTop[i] = 0;
    }
    totalY = keyHeight;
    return;
  }
  for (int i = 0; i < 16; i++) columnHeight[i] = 0;
  for (int c = 0; c < kChannelCount; c++) {
    int k = channelColumn[c];
    if (k >= 0 && k < 16) columnHeight[k] = keyHeight;  // a column index past 15 has no row
  }
  int count = columnLimit();
  int y = 0;
  for (int i = 0; i < count; i++) {
    if (columnChannel[i] == -1) continue;
    columnTop[i] = y;
    y += columnHeight[i];
    if (i != count - 1) y += columnGap;
  }
  totalY = y;
  log("maxcolumns %d \n", maxcolumns);
  for (int i = 0; i < count; i++) log("pos %d (height %d) \n", columnTop[i], columnHeight[i]);
  log("totalY = %d \n", totalY);
}

KeyHit hitTest(int x, int y) {
  std::lock_guard<std::mutex> hold(displayLock);
  int X = x + gxleft;
  int Y = y;
  int channel = 0;
  if (!singleColumnMode()) {
    int count = columnLimit();
    int i = 0;
    while (i < count && !(columnTop[i] <= Y && Y < columnTop[i] + columnHeight[i])) i++;
    if (i == count) return {-1, 128};
    channel = columnChannel[i];
    if (channel < 0 || channel > 15) return {-1, 128};
    Y -= columnTop[i];
  }

  int M = unitX();
  int o = (X / M) / 98;
  int P = X - o * 98 * M;
  int note = o * 12;
  if (P <= 0) return {channel, note - 1};

  if (Y > 3 * unitY()) {
    if (P < 14 * M) return {channel, note};
    if (P <= 28 * M) return {channel, note + 2};
    if (P < 42 * M) return {channel, note + 4};
    if (P < 56 * M) return {channel, note + 5};
    if (P <= 70 * M) return {channel, note + 7};
    if (P <= 84 * M) return {channel, note + 9};
    return {channel, note + 11};
  }
  if (P < 9 * M) return {channel, note};
  if (P <= 17 * M) return {channel, note + 1};
  if (P < 25 * M) return {channel, note + 2};
  if (P <= 33 * M) return {channel, note + 3};
  if (P < 42 * M) return {channel, note + 4};
  if (P < 50 * M) return {channel, note + 5};
  if (P <= 58 * M) return {channel, note + 6};
  if (P < 66 * M) return {channel, note + 7};
  if (P <= 74 * M) return {channel, note + 8};
  if (P < 82 * M) return {channel, note + 9};
  if (P <= 90 * M) return {channel, note + 10};
  return {channel, note + 11};
}
