// Key drawing: exact pixels of the key shapes in the back buffer and in the
// window, the end-key forms, the column bands and the return codes.
#include <string>
#include <vector>

#include "display_fixture.h"

namespace {

// Every pixel of the back buffer, to see that a call drew nothing.
std::vector<uint32_t> snapshot() {
  int w = 0, h = 0;
  simSurfaceSize(backBuffer, &w, &h);
  std::vector<uint32_t> pixels;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) pixels.push_back(simSurfacePixel(backBuffer, x, y));
  }
  return pixels;
}

// The first back-buffer pixel of the rectangle x0..x1, y0..y1 (inclusive)
// that is not rgb, or "" when all are.
std::string notAll(int x0, int y0, int x1, int y1, uint32_t rgb) {
  for (int y = y0; y <= y1; y++) {
    for (int x = x0; x <= x1; x++) {
      if (simSurfacePixel(backBuffer, x, y) != rgb) return std::to_string(x) + "," + std::to_string(y);
    }
  }
  return "";
}

class Drawing : public DisplayTest {};

TEST_F(Drawing, KeyboardIsDrawnOffWholeInBothSurfaces) {
  openKeyboard();
  int w = 0, h = 0;
  bufferSize(&w, &h);
  EXPECT_EQ(w, 407);
  EXPECT_EQ(h, 50);
  EXPECT_EQ(buffer(0, 0), kBlackPixel);
  EXPECT_EQ(buffer(5, 45), kWhiteOff);
  EXPECT_EQ(buffer(15, 10), kBlackOff);  // C sharp of octave 2
  EXPECT_EQ(buffer(406, 20), kBlackPixel) << "the last key's right outline";
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, MiddleCOnAndOffHaveTheExactShape) {
  openKeyboard();
  ASSERT_EQ(drawKey(0, 60, kLookOn), 0);
  // Outline: left x 294, upper right x 303 (rows 0..30), lower right x 308, top and bottom rows.
  EXPECT_EQ(notAll(294, 0, 294, 49, kBlackPixel), "");
  EXPECT_EQ(notAll(303, 0, 303, 30, kBlackPixel), "");
  EXPECT_EQ(notAll(308, 30, 308, 49, kBlackPixel), "");
  EXPECT_EQ(notAll(294, 0, 303, 0, kBlackPixel), "");
  EXPECT_EQ(notAll(294, 49, 308, 49, kBlackPixel), "");
  EXPECT_EQ(notAll(295, 1, 302, 30, kWhiteOn), "");
  EXPECT_EQ(notAll(295, 31, 307, 48, kWhiteOn), "");
  // The neighbours keep their interiors.
  EXPECT_EQ(buffer(307, 15), kBlackOff);
  EXPECT_EQ(buffer(309, 40), kWhiteOff);
  EXPECT_EQ(buffer(293, 40), kWhiteOff);
  EXPECT_EQ(clientMismatches(0, 0), 0);

  ASSERT_EQ(drawKey(0, 60, kLookOff), 0);  // white down to the last row
  EXPECT_EQ(notAll(295, 31, 307, 49, kWhiteOff), "");
  EXPECT_EQ(notAll(298, 1, 298, 30, kWhiteOff), "");
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, CSharpOnHasNoStripBelow) {
  openKeyboard();
  ASSERT_EQ(drawKey(0, 61, kLookOn), 0);
  EXPECT_EQ(notAll(303, 0, 311, 0, kBlackPixel), "");
  EXPECT_EQ(notAll(303, 30, 311, 30, kBlackPixel), "");
  EXPECT_EQ(notAll(303, 0, 303, 30, kBlackPixel), "");
  EXPECT_EQ(notAll(311, 0, 311, 30, kBlackPixel), "");
  EXPECT_EQ(notAll(304, 1, 310, 29, kBlackOn), "");
  EXPECT_EQ(buffer(305, 31), kWhiteOff);
  EXPECT_EQ(buffer(305, 49), kWhiteOff);
}

TEST_F(Drawing, SustainedColours) {
  openKeyboard();
  drawKey(0, 60, kLookSustained);
  drawKey(0, 61, kLookSustained);
  EXPECT_EQ(buffer(298, 40), kWhiteSustained);
  EXPECT_EQ(buffer(298, 49), kBlackPixel) << "pressed one pixel shorter";
  EXPECT_EQ(buffer(307, 15), kBlackSustained);
  drawKey(0, 61, 5);  // any other value is On
  EXPECT_EQ(buffer(307, 15), kBlackOn);
}

TEST_F(Drawing, NotesOutsideTheRangeAndChannelsWithoutAUsableColumnDrawNothing) {
  setColumns({0, 5});
  openKeyboard();
  const std::vector<uint32_t> before = snapshot();
  EXPECT_EQ(drawKey(0, 23, kLookOn), 1);
  EXPECT_EQ(drawKey(0, 73, kLookOn), 1);
  EXPECT_EQ(drawKey(0, -1, kLookOn), 1);
  EXPECT_EQ(drawKey(0, 200, kLookOn), 1);
  EXPECT_EQ(drawKey(3, 60, kLookOn), 2);
  channelColumn[4] = 16;
  EXPECT_EQ(drawKey(4, 60, kLookOn), -2);
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(drawKey(5, 60, kLookOn), 0);
  EXPECT_EQ(buffer(298, 52 + 40), kWhiteOn);
  EXPECT_EQ(buffer(298, 40), kWhiteOff);
}

TEST_F(Drawing, BandBetweenTwoColumnsIsBlack) {
  setColumns({0, 5});
  openKeyboard();
  int w = 0, h = 0;
  bufferSize(&w, &h);
  ASSERT_EQ(h, 102);
  EXPECT_EQ(notAll(0, 50, w - 1, 51, kBlackPixel), "");
  EXPECT_EQ(buffer(5, 49), kWhiteOff);
  EXPECT_EQ(buffer(5, 52 + 45), kWhiteOff);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, FirstKeyDHasNoLedgeOnItsLeft) {
  NoteMin = 26;
  openKeyboard();
  ASSERT_EQ(drawKey(0, 26, kLookOn), 0);
  // Upper part 14..25 and lower part 14..28 share the left side at x 0.
  EXPECT_EQ(notAll(0, 0, 0, 49, kBlackPixel), "");
  EXPECT_EQ(notAll(1, 1, 1, 48, kWhiteOn), "");
  EXPECT_EQ(buffer(11, 10), kBlackPixel) << "upper right side at unit 25";
  EXPECT_EQ(buffer(10, 10), kWhiteOn);
  EXPECT_EQ(buffer(13, 30), kBlackPixel) << "ledge under D sharp";
  EXPECT_EQ(buffer(13, 31), kWhiteOn);
  // The next D in the range has the normal form with ledges on both sides.
  drawKey(0, 38, kLookOn);
  const int d = 98;  // x of that D's lower left side (unit 14 of octave 3)
  EXPECT_EQ(buffer(d + 1, 30), kBlackPixel);
  EXPECT_EQ(buffer(d + 1, 10), kBlackOff) << "C sharp's interior stays";
}

TEST_F(Drawing, LastKeyAHasNoLedgeOnItsRight) {
  for (int last : {68, 69}) {
    SCOPED_TRACE(last);
    NoteMax = last;
    openKeyboard();
    ASSERT_EQ(lastDisplayedNote, 69);
    int w = 0, h = 0;
    bufferSize(&w, &h);
    ASSERT_EQ(w, 379);
    ASSERT_EQ(drawKey(0, 69, kLookOn), 0);
    // Upper part 74..84 (x 368..378), lower part 70..84 (x 364..378).
    EXPECT_EQ(notAll(378, 0, 378, 49, kBlackPixel), "");
    EXPECT_EQ(notAll(377, 1, 377, 48, kWhiteOn), "");
    EXPECT_EQ(buffer(368, 10), kBlackPixel) << "upper left side at unit 74";
    EXPECT_EQ(buffer(365, 30), kBlackPixel) << "ledge under G sharp";
    EXPECT_EQ(buffer(369, 10), kWhiteOn);
    destroyKeyboardWindow();
  }
}

TEST_F(Drawing, MagXTwoDoublesEveryPosition) {
  MagX = 2;
  openKeyboard();
  int w = 0, h = 0;
  bufferSize(&w, &h);
  EXPECT_EQ(w, 813);
  ASSERT_EQ(drawKey(0, 60, kLookOn), 0);
  // Units 0..9 upper and 0..14 lower: x 588..606 and 588..616.
  const uint32_t row10[] = {buffer(588, 10), buffer(589, 10), buffer(605, 10), buffer(606, 10), buffer(607, 10)};
  EXPECT_EQ(std::vector<uint32_t>(std::begin(row10), std::end(row10)),
            (std::vector<uint32_t>{kBlackPixel, kWhiteOn, kWhiteOn, kBlackPixel, kBlackOff}));
  const uint32_t row40[] = {buffer(615, 40), buffer(616, 40), buffer(617, 40)};
  EXPECT_EQ(std::vector<uint32_t>(std::begin(row40), std::end(row40)),
            (std::vector<uint32_t>{kWhiteOn, kBlackPixel, kWhiteOff}));
}

// Where the platform prefers copies, a key reaches the window as one copy of
// its box and the back buffer gets fewer, overlapping fills; both surfaces
// must end up exactly as with every fill made on both (the Windows program's
// way), for every key form and look, in two columns, the view scrolled.
// The same keys three ways: every fill on both surfaces (Windows), the key's
// box copied to the window, and keys only noted until the window thread
// paints them (Linux), in one pass or two.
TEST_F(Drawing, KeysCopiedToTheWindowOrPaintedLaterLookAsTheirFillsOnBothSurfaces) {
  auto picture = [](bool copies, bool defers) {
    simWindowCopies(copies);
    simWindowDefersKeys(defers);
    NoteMin = 26;  // first key D, last key A: the end-key forms
    NoteMax = 69;
    setColumns({0, 9});
    openKeyboard();
    scrollX = 3;  // as a scroll bar sets it: the window shows the buffer from (3, 2)
    scrollY = 2;
    simPostMessage(OS_WM_PAINT, 0, 0);
    pump();
    fillRect(0, 0, 400, 110, 1, 2, 3);  // no pixel is black or a key's colour before it is drawn
    const std::vector<uint32_t> before = snapshot();
    const int asked = simKeysNotedCount();
    for (int note = 26; note <= 69; note++) drawKey(note % 2 == 0 ? 0 : 9, note, kLookOn);
    for (int note = 26; note <= 69; note += 2) drawKey(0, note, kLookSustained);
    EXPECT_EQ(snapshot() == before, defers) << "a deferred key is only noted";
    EXPECT_EQ(simKeysNotedCount() - asked, defers ? 1 : 0) << "one pass asked for, however many keys";
    paintPendingKeys();
    for (int note = 27; note <= 69; note += 3) drawKey(9, note, kLookOff);
    EXPECT_EQ(simKeysNotedCount() - asked, defers ? 2 : 0) << "a key noted after the painting asks again";
    for (int note = 26; note <= 69; note += 5) drawKey(9, note, kLookSustained);
    releaseChannelKeys(9);  // after it, only what is drawn later shows for channel 9
    for (int note = 29; note <= 69; note += 4) drawKey(9, note, kLookOn);
    paintPendingKeys();
    std::vector<uint32_t> pixels = snapshot();
    // The client pixels that show the back buffer.
    int cw = 0, ch = 0, bw = 0, bh = 0;
    simClientSize(&cw, &ch);
    bufferSize(&bw, &bh);
    for (int y = 0; y < ch && y + 2 < bh; y++) {
      for (int x = 0; x < cw && x + 3 < bw; x++) pixels.push_back(client(x, y));
    }
    destroyKeyboardWindow();
    resetKeyboardDisplay();
    simWindowDefersKeys(false);
    return pixels;
  };
  const std::vector<uint32_t> filled = picture(false, false);
  for (bool defers : {false, true}) {
    const std::vector<uint32_t> other = picture(true, defers);
    ASSERT_EQ(filled.size(), other.size());
    size_t differ = 0;
    for (size_t i = 0; i < filled.size(); i++) differ += filled[i] != other[i];
    EXPECT_EQ(differ, 0u) << (defers ? "painted later" : "copied");
  }
}

// Painting passes over a noted key still in the look it shows, but not once
// the back buffer was built anew (black) or filled over: there the key must
// be painted again, though its look is the one it was painted in before.
TEST_F(Drawing, ANotedKeyIsPaintedAgainOnANewOrFilledBuffer) {
  simWindowDefersKeys(true);
  openKeyboard();
  int w = 0, h = 0;
  bufferSize(&w, &h);
  drawKey(0, 60, kLookOn);
  paintPendingKeys();
  ASSERT_EQ(buffer(300, 40), kWhiteOn);  // middle C's lower interior
  ASSERT_EQ(resizeKeyboardWindow(w, h), 0);
  ASSERT_EQ(buffer(300, 40), kBlackPixel);
  drawKey(0, 60, kLookOn);
  paintPendingKeys();
  EXPECT_EQ(buffer(300, 40), kWhiteOn) << "after a new buffer";
  fillRect(290, 0, 310, 49, 1, 2, 3);
  drawKey(0, 60, kLookOn);
  paintPendingKeys();
  EXPECT_EQ(buffer(300, 40), kWhiteOn) << "after a fill over it";
  simWindowDefersKeys(false);
}

TEST_F(Drawing, FillRectBoundsAreInclusive) {
  openKeyboard();
  fillRect(10, 5, 10, 5, 1, 2, 3);
  EXPECT_EQ(buffer(10, 5), 0x010203u);
  EXPECT_NE(buffer(11, 5), 0x010203u);
  EXPECT_NE(buffer(10, 6), 0x010203u);
  EXPECT_NE(buffer(9, 5), 0x010203u);
  hLine(20, 22, 7, 9, 9, 9);
  vLine(30, 1, 3, 8, 8, 8);
  EXPECT_EQ(buffer(22, 7), 0x090909u);
  EXPECT_NE(buffer(23, 7), 0x090909u);
  EXPECT_EQ(buffer(30, 3), 0x080808u);
  EXPECT_NE(buffer(30, 4), 0x080808u);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

}  // namespace
