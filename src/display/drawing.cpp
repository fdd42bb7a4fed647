// Key drawing: every key is built from rectangle fills that go to the back
// buffer and, shifted by the scroll offsets, straight to the window, so a key
// change shows at once and the back buffer keeps the whole picture. Where the
// platform copies a block for less than the fills cost, a key reaches the
// window as one copy of its box instead. Where the platform shows the window
// at the display's rate anyway, a drawn key is only noted, and the window
// thread paints each noted key once at its next pass (paintPendingKeys), so a
// flood of notes costs a note each, not a painting each. Nothing here
// allocates: drawing runs for every note on the MIDI callback thread.
#include "display/drawing.h"

#include <cassert>
#include <mutex>

#include "display/geometry.h"
#include "display/os_window.h"
#include "display/scrolling.h"
#include "state/display_settings.h"
#include "display/window.h"
#include "state/tables.h"

namespace {

struct Rgb {
  uint8_t r;  // red
  uint8_t g;  // green
  uint8_t b;  // blue
};

const Rgb kBlack = {0, 0, 0};

// Interior colours by look (Off, Sustained, On).
const Rgb kWhiteKey[3] = {{255, 255, 255}, {255, 180, 180}, {255, 120, 120}};
const Rgb kBlackKey[3] = {{80, 80, 80}, {170, 80, 80}, {250, 100, 100}};

// A key's outline in units from its octave's left edge: the upper part a..b
// and, for a white key, the lower part c..d.
struct KeyForm {
  int a;  // upper part, left
  int b;  // upper part, right
  int c;  // lower part, left (white keys)
  int d;  // lower part, right (white keys)
};

const KeyForm kNormalForm[12] = {
    {0, 9, 0, 14},   {9, 17, 0, 0},   {17, 25, 14, 28}, {25, 33, 0, 0},
    {33, 42, 28, 42}, {42, 50, 42, 56}, {50, 58, 0, 0},   {58, 66, 56, 70},
    {66, 74, 0, 0},   {74, 82, 70, 84}, {82, 90, 0, 0},   {90, 98, 84, 98}};

// End keys have no black key beside them at the open end.
const KeyForm kFirstForm[12] = {
    {0, 9, 0, 14},   {0, 0, 0, 0}, {14, 25, 14, 28}, {0, 0, 0, 0},
    {28, 42, 28, 42}, {42, 50, 42, 56}, {0, 0, 0, 0}, {56, 66, 56, 70},
    {0, 0, 0, 0},     {70, 82, 70, 84}, {0, 0, 0, 0}, {84, 98, 84, 98}};
const KeyForm kLastForm[12] = {
    {0, 14, 0, 14},  {0, 0, 0, 0}, {17, 28, 14, 28}, {0, 0, 0, 0},
    {33, 42, 28, 42}, {42, 56, 42, 56}, {0, 0, 0, 0}, {58, 70, 56, 70},
    {0, 0, 0, 0},     {74, 84, 70, 84}, {0, 0, 0, 0}, {90, 98, 84, 98}};

bool isBlack(int n) { return n == 1 || n == 3 || n == 6 || n == 8 || n == 10; }

// Keys drawn but not painted yet (a platform that defers keys), by place: the
// column row (0 in single-column mode) and the note. Under displayLock.
struct PendingKey {
  uint8_t waiting;  // 1: drawn since the last painting
  int8_t channel;   // channel of the latest drawing of that place
  int8_t look;      // its look
};
PendingKey pending[kChannelCount][128];
uint16_t pendingPlaces[kChannelCount * 128];  // row * 128 + note, in the order first noted
int pendingCount = 0;
// The shade (0 Off, 1 Sustained, 2 On) each place was last painted in on the
// back buffer; -1: not known (a buffer built or filled over since). A noted
// key still in the shade it shows is not painted again: in a flood most keys
// go on and off between two paintings and end as they were.
int8_t shownShade[kChannelCount][128];

int shadeOf(int look) { return look == kLookOff ? 0 : look == kLookSustained ? 1 : 2; }

// The back buffer's keys are not known any more.
void forgetShownLocked() {
  for (auto& row : shownShade) {
    for (int8_t& shade : row) shade = -1;
  }
}

// The fill itself; the caller holds displayLock. Surfaces that are not there
// (no window yet, or being torn down) are skipped.
void fillBack(int x1, int y1, int x2, int y2, Rgb c) {
  if (backBuffer == 0) return;
  OsRect r = {x1, y1, x2 + 1, y2 + 1};
  osFillRect(backBuffer, &r, c.r, c.g, c.b);
}

void fillWindow(int x1, int y1, int x2, int y2, Rgb c) {
  if (windowSurface == 0) return;
  int sx = scrollX;
  int sy = scrollY;
  OsRect r = {x1 - sx, y1 - sy, x2 + 1 - sx, y2 + 1 - sy};
  osFillRect(windowSurface, &r, c.r, c.g, c.b);
}

void fill(int x1, int y1, int x2, int y2, Rgb c) {
  fillBack(x1, y1, x2, y2, c);
  fillWindow(x1, y1, x2, y2, c);
}

// Where one key's fills go. With copy set, a fill that lies inside the back
// buffer goes there alone and widens the box that is copied to the window
// once the key is done; any other fill goes to both surfaces as it is, so
// what the window shows is the same either way.
struct KeyPainter {
  bool copy;  // the window gets the box copied instead of the fills
  int x1;     // box of the fills kept for the copy (inclusive; empty while x1 > x2)
  int y1;
  int x2;
  int y2;
};

KeyPainter startKey(void) {
  KeyPainter p = {false, 0, 0, -1, -1};
  p.copy = backBuffer != 0 && windowSurface != 0 && osWindowPrefersCopies() != 0;
  return p;
}

void paint(KeyPainter& p, int x1, int y1, int x2, int y2, Rgb c) {
  if (!p.copy || x1 > x2 || y1 > y2 || x1 < 0 || y1 < 0 || x2 >= backBufferWidth || y2 >= backBufferHeight) {
    fill(x1, y1, x2, y2, c);
    return;
  }
  fillBack(x1, y1, x2, y2, c);
  if (p.x1 > p.x2) {
    p.x1 = x1;
    p.y1 = y1;
    p.x2 = x2;
    p.y2 = y2;
    return;
  }
  if (x1 < p.x1) p.x1 = x1;
  if (y1 < p.y1) p.y1 = y1;
  if (x2 > p.x2) p.x2 = x2;
  if (y2 > p.y2) p.y2 = y2;
}

// Whether a key whose picture lies in x1..x2, y1..y2 (inclusive) may be
// painted as overlapping blocks instead of its outline lines: only the back
// buffer sees the fills when the window gets the key's box copied, and only
// the final picture of the key, the same either way, reaches the window.
bool asBlocks(const KeyPainter& p, int x1, int y1, int x2, int y2, int M) {
  return p.copy && M >= 1 && x1 >= 0 && y1 >= 0 && x2 < backBufferWidth && y2 < backBufferHeight;
}

// The key's box to the window, shifted by the scroll offsets: one copy.
void finishKey(const KeyPainter& p) {
  if (!p.copy || p.x1 > p.x2) return;
  osCopyBlock(windowSurface, p.x1 - scrollX, p.y1 - scrollY, p.x2 - p.x1 + 1, p.y2 - p.y1 + 1, backBuffer, p.x1,
              p.y1);
}

// Where drawKey draws: 0 with the column's row (0 in single-column mode), or
// the code of a key it does not draw.
int keyRow(int channel, int note, int* row) {
  int o = note / 12;
  int n = note % 12;
  if (o < fromOct || (o == fromOct && n < fromNote)) return 1;
  if (o > toOct || (o == toOct && n > toNote)) return 1;
  *row = 0;
  if (singleColumnMode()) return 0;
  assert(channel >= 0 && channel < kChannelCount);
  if (channel < 0 || channel >= kChannelCount) return 2;
  int k = channelColumn[channel];
  if (k < 0) return 2;
  if (k >= 16) return -2;
  *row = k;
  return 0;
}

// drawKey with displayLock held.
int drawKeyLocked(int channel, int note, int look) {
  int row = 0;
  const int placed = keyRow(channel, note, &row);
  if (placed != 0) return placed;
  int o = note / 12;
  int n = note % 12;
  int T = singleColumnMode() ? 0 : columnTop[row];

  const int shade = shadeOf(look);
  shownShade[row][note] = static_cast<int8_t>(shade);
  bool black = isBlack(n);
  Rgb colour = black ? kBlackKey[shade] : kWhiteKey[shade];

  const KeyForm& form = (o == fromOct && n == fromNote) ? kFirstForm[n]
                        : (o == toOct && n == toNote)   ? kLastForm[n]
                                                        : kNormalForm[n];
  int mx = unitX();
  int base = o * 98;
  auto X = [&](int u) { return (base + u) * mx - gxleft; };
  int M = unitY();

  KeyPainter p = startKey();
  auto hl = [&p](int x1, int x2, int y, Rgb c) { paint(p, x1, y, x2, y, c); };
  auto vl = [&p](int x, int y1, int y2, Rgb c) { paint(p, x, y1, x, y2, c); };
  if (black) {
    int x0 = X(form.a);
    int x1 = X(form.a + 8);
    if (asBlocks(p, x0, T, x1, T + 3 * M, M)) {
      // The same picture in two fills: the outline's box black, the interior.
      paint(p, x0, T, x1, T + 3 * M, kBlack);
      paint(p, x0 + 1, T + 1, x1 - 1, T + 3 * M - 1, colour);
      finishKey(p);
      return 0;
    }
    hl(x0, x1, T, kBlack);
    vl(x0, T, T + 3 * M, kBlack);
    vl(x1, T, T + 3 * M, kBlack);
    paint(p, x0 + 1, T + 1, x1 - 1, T + 3 * M - 1, colour);
    hl(x0, x1, T + 3 * M, kBlack);
    finishKey(p);
    return 0;
  }

  int u0 = X(form.a);
  int u1 = X(form.b);
  int l0 = X(form.c);
  int l1 = X(form.d);
  int bottom = T + 5 * M - (look == kLookOff ? 0 : pressDepth);
  if (l0 <= u0 && u1 <= l1 && asBlocks(p, l0, T, l1, T + 5 * M - 1, M)) {
    // The same picture in fewer fills: the upper part's box and the lower
    // part's box black (outline, ledges, bottom edge and the strip below a
    // pressed key), then the two interiors. The last row, T + 5M, which may
    // lie below the back buffer, is black in every look.
    paint(p, u0, T, u1, T + 3 * M, kBlack);
    paint(p, l0, T + 3 * M, l1, T + 5 * M - 1, kBlack);
    paint(p, l0, T + 5 * M, l1, T + 5 * M, kBlack);
    paint(p, u0 + 1, T + 1, u1 - 1, T + 3 * M, colour);
    paint(p, l0 + 1, T + 3 * M + 1, l1 - 1, bottom - 1, colour);
    finishKey(p);
    return 0;
  }
  hl(u0, u1, T, kBlack);
  vl(u0, T, T + 3 * M, kBlack);
  vl(u1, T, T + 3 * M, kBlack);
  paint(p, u0 + 1, T + 1, u1 - 1, T + 3 * M, colour);
  if (l0 < u0) hl(l0, u0, T + 3 * M, kBlack);
  if (u1 < l1) hl(u1, l1, T + 3 * M, kBlack);
  vl(l0, T + 3 * M, bottom, kBlack);
  vl(l1, T + 3 * M, bottom, kBlack);
  paint(p, l0 + 1, T + 3 * M + 1, l1 - 1, bottom - 1, colour);
  hl(l0, l1, bottom, kBlack);
  if (look != kLookOff) paint(p, l0, bottom, l1, T + 5 * M, kBlack);
  finishKey(p);
  return 0;
}

// drawKeyLocked now or, where the platform defers keys, at the window thread's
// next pass; the same code either way.
int showKey(int channel, int note, int look) {
  if (osWindowDefersKeys() == 0) return drawKeyLocked(channel, note, look);
  int row = 0;
  const int placed = keyRow(channel, note, &row);
  if (placed != 0) return placed;
  PendingKey& key = pending[row][note];
  if (key.waiting == 0) {
    // The first key noted since the last painting asks for a pass.
    if (pendingCount == 0 && keyboardWindow != 0) osWindowKeysNoted(keyboardWindow);
    pendingPlaces[pendingCount++] = static_cast<uint16_t>(row * 128 + note);
    key.waiting = 1;
  }
  key.channel = static_cast<int8_t>(channel);
  key.look = static_cast<int8_t>(look);
  return 0;
}

// Forgets the keys not painted yet: the whole keyboard is being drawn.
void forgetPendingKeys(void) {
  for (int i = 0; i < pendingCount; i++) pending[pendingPlaces[i] / 128][pendingPlaces[i] % 128].waiting = 0;
  pendingCount = 0;
}

// Every key of one column Off, the first key once more at the end.
void drawColumn(int channel) {
  for (int note = firstDisplayedNote; note <= lastDisplayedNote; note++) drawKeyLocked(channel, note, kLookOff);
  drawKeyLocked(channel, firstDisplayedNote, kLookOff);
}

// Remembers the look a key is drawn with, for later relayouts.
void rememberLook(int channel, int note, int look) {
  if (channel < 0 || channel >= kChannelCount || note < 0 || note > 127) return;
  drawnLook[channel][note] = static_cast<int8_t>(look == kLookOff ? kLookOff : look == kLookSustained ? kLookSustained : kLookOn);
}

// The keys of one channel that are not Off, in their looks.
void drawLooks(int channel) {
  for (int note = firstDisplayedNote; note <= lastDisplayedNote && note < 128; note++) {
    if (drawnLook[channel][note] != kLookOff) drawKeyLocked(channel, note, drawnLook[channel][note]);
  }
}

// One column for every channel: a key shows On when any channel sounds it,
// else Sustained when any channel's damper holds it.
void drawMixedLooks(void) {
  for (int note = firstDisplayedNote; note <= lastDisplayedNote && note < 128; note++) {
    int look = kLookOff;
    for (int c = 0; c < kChannelCount && look != kLookOn; c++) {
      if (drawnLook[c][note] != kLookOff) look = drawnLook[c][note];
    }
    if (look != kLookOff) drawKeyLocked(0, note, look);
  }
}

}  // namespace

void fillRect(int x1, int y1, int x2, int y2, uint8_t r, uint8_t g, uint8_t b) {
  std::lock_guard<std::mutex> hold(displayLock);
  forgetShownLocked();  // it may cover keys
  fill(x1, y1, x2, y2, Rgb{r, g, b});
}

void hLine(int x1, int x2, int y, uint8_t r, uint8_t g, uint8_t b) { fillRect(x1, y, x2, y, r, g, b); }

void vLine(int x, int y1, int y2, uint8_t r, uint8_t g, uint8_t b) { fillRect(x, y1, x, y2, r, g, b); }

int drawKey(int channel, int note, int look) {
  std::lock_guard<std::mutex> hold(displayLock);
  rememberLook(channel, note, look);
  return showKey(channel, note, look);
}

void paintPendingKeys(void) {
  std::lock_guard<std::mutex> hold(displayLock);
  for (int i = 0; i < pendingCount; i++) {
    const int row = pendingPlaces[i] / 128;
    const int note = pendingPlaces[i] % 128;
    PendingKey& key = pending[row][note];
    if (shownShade[row][note] != shadeOf(key.look)) drawKeyLocked(key.channel, note, key.look);
    key.waiting = 0;
  }
  pendingCount = 0;
}

void resetPendingKeys(void) {
  std::lock_guard<std::mutex> hold(displayLock);
  for (auto& row : pending) {
    for (PendingKey& key : row) key = PendingKey{0, 0, kLookOff};
  }
  pendingCount = 0;
  forgetShownLocked();
}

void forgetShownKeys(void) { forgetShownLocked(); }

int releaseChannelKeys(int channel) {
  assert(channel >= 0 && channel < kChannelCount);
  if (channel < 0 || channel >= kChannelCount) return 0;
  std::lock_guard<std::mutex> hold(displayLock);
  int released = 0;
  for (int note = 0; note < 128; note++) {
    if (drawnLook[channel][note] == kLookOff) continue;
    drawnLook[channel][note] = kLookOff;
    showKey(channel, note, kLookOff);
    released++;
  }
  return released;
}

void drawKeyboardLocked(void) {
  forgetPendingKeys();
  if (singleColumnMode()) {
    drawColumn(0);
    drawMixedLooks();
    return;
  }
  int count = maxcolumns > 16 ? 16 : maxcolumns;
  for (int i = 0; i < count; i++) {
    int c = columnChannel[i];
    if (c < 0 || c >= kChannelCount) continue;
    drawColumn(c);
    drawLooks(c);
    if (i != count - 1 && columnGap >= 1) {
      int y = columnTop[i] + columnHeight[i];
      fill(0, y, gxright - gxleft - 1, y + columnGap - 1, kBlack);
    }
  }
}

void drawKeyboard(void) {
  std::lock_guard<std::mutex> hold(displayLock);
  drawKeyboardLocked();
}
