// Key drawing: exact pixels of the key shapes in the back buffer and in the
// window, the end-key forms, the column bands and the return codes.
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

}  // namespace

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

TEST_F(Drawing, MiddleCOnHasTheExactShape) {
  openKeyboard();
  ASSERT_EQ(drawKey(0, 60, kLookOn), 0);
  for (int y = 0; y <= 30; y++) {
    EXPECT_EQ(buffer(294, y), kBlackPixel) << y;
    EXPECT_EQ(buffer(303, y), kBlackPixel) << y;
  }
  for (int y = 30; y <= 49; y++) {
    EXPECT_EQ(buffer(294, y), kBlackPixel) << y;
    EXPECT_EQ(buffer(308, y), kBlackPixel) << y;
  }
  for (int x = 294; x <= 303; x++) EXPECT_EQ(buffer(x, 0), kBlackPixel) << x;
  for (int y = 1; y <= 30; y++) {
    for (int x = 295; x <= 302; x++) ASSERT_EQ(buffer(x, y), kWhiteOn) << x << "," << y;
  }
  for (int y = 31; y <= 48; y++) {
    for (int x = 295; x <= 307; x++) ASSERT_EQ(buffer(x, y), kWhiteOn) << x << "," << y;
  }
  for (int x = 294; x <= 308; x++) EXPECT_EQ(buffer(x, 49), kBlackPixel) << x;
  // The neighbours keep their interiors.
  EXPECT_EQ(buffer(307, 15), kBlackOff);
  EXPECT_EQ(buffer(309, 40), kWhiteOff);
  EXPECT_EQ(buffer(293, 40), kWhiteOff);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, MiddleCOffGoesWhiteDownToTheLastRow) {
  openKeyboard();
  drawKey(0, 60, kLookOn);
  ASSERT_EQ(drawKey(0, 60, kLookOff), 0);
  for (int y = 31; y <= 49; y++) {
    for (int x = 295; x <= 307; x++) ASSERT_EQ(buffer(x, y), kWhiteOff) << x << "," << y;
  }
  for (int y = 1; y <= 30; y++) EXPECT_EQ(buffer(298, y), kWhiteOff) << y;
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, CSharpOnHasNoStripBelow) {
  openKeyboard();
  ASSERT_EQ(drawKey(0, 61, kLookOn), 0);
  for (int x = 303; x <= 311; x++) {
    EXPECT_EQ(buffer(x, 0), kBlackPixel) << x;
    EXPECT_EQ(buffer(x, 30), kBlackPixel) << x;
  }
  for (int y = 0; y <= 30; y++) {
    EXPECT_EQ(buffer(303, y), kBlackPixel) << y;
    EXPECT_EQ(buffer(311, y), kBlackPixel) << y;
  }
  for (int y = 1; y <= 29; y++) {
    for (int x = 304; x <= 310; x++) ASSERT_EQ(buffer(x, y), kBlackOn) << x << "," << y;
  }
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

TEST_F(Drawing, NotesOutsideTheRangeDrawNothing) {
  openKeyboard();
  std::vector<uint32_t> before = snapshot();
  EXPECT_EQ(drawKey(0, 23, kLookOn), 1);
  EXPECT_EQ(drawKey(0, 73, kLookOn), 1);
  EXPECT_EQ(drawKey(0, -1, kLookOn), 1);
  EXPECT_EQ(drawKey(0, 200, kLookOn), 1);
  EXPECT_EQ(snapshot(), before);
}

TEST_F(Drawing, ChannelsWithoutAUsableColumnDrawNothing) {
  setColumns({0, 5});
  openKeyboard();
  std::vector<uint32_t> before = snapshot();
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
  for (int x = 0; x < w; x++) {
    ASSERT_EQ(buffer(x, 50), kBlackPixel) << x;
    ASSERT_EQ(buffer(x, 51), kBlackPixel) << x;
  }
  EXPECT_EQ(buffer(5, 49), kWhiteOff);
  EXPECT_EQ(buffer(5, 52 + 45), kWhiteOff);
  EXPECT_EQ(clientMismatches(0, 0), 0);
}

TEST_F(Drawing, FirstKeyDHasNoLedgeOnItsLeft) {
  NoteMin = 26;
  openKeyboard();
  ASSERT_EQ(drawKey(0, 26, kLookOn), 0);
  // Upper part 14..25 and lower part 14..28 share the left side at x 0.
  for (int y = 0; y <= 49; y++) EXPECT_EQ(buffer(0, y), kBlackPixel) << y;
  for (int y = 1; y <= 48; y++) ASSERT_EQ(buffer(1, y), kWhiteOn) << y;
  EXPECT_EQ(buffer(11, 10), kBlackPixel) << "upper right side at unit 25";
  EXPECT_EQ(buffer(10, 10), kWhiteOn);
  EXPECT_EQ(buffer(13, 30), kBlackPixel) << "ledge under D sharp";
  EXPECT_EQ(buffer(13, 31), kWhiteOn);
  // The next D in the range has the normal form with ledges on both sides.
  drawKey(0, 38, kLookOn);
  int d = 98;  // x of that D's lower left side (unit 14 of octave 3)
  EXPECT_EQ(buffer(d + 1, 30), kBlackPixel);
  EXPECT_EQ(buffer(d + 1, 10), kBlackOff) << "C sharp's interior stays";
}

TEST_F(Drawing, LastKeyAHasNoLedgeOnItsRight) {
  for (int last : {68, 69}) {
    NoteMax = last;
    openKeyboard();
    ASSERT_EQ(lastDisplayedNote, 69);
    int w = 0, h = 0;
    bufferSize(&w, &h);
    ASSERT_EQ(w, 379);
    ASSERT_EQ(drawKey(0, 69, kLookOn), 0);
    // Upper part 74..84 (x 368..378), lower part 70..84 (x 364..378).
    for (int y = 0; y <= 49; y++) EXPECT_EQ(buffer(378, y), kBlackPixel) << y;
    for (int y = 1; y <= 48; y++) ASSERT_EQ(buffer(377, y), kWhiteOn) << y;
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
  EXPECT_EQ(buffer(588, 10), kBlackPixel);
  EXPECT_EQ(buffer(606, 10), kBlackPixel);
  EXPECT_EQ(buffer(589, 10), kWhiteOn);
  EXPECT_EQ(buffer(605, 10), kWhiteOn);
  EXPECT_EQ(buffer(607, 10), kBlackOff);
  EXPECT_EQ(buffer(616, 40), kBlackPixel);
  EXPECT_EQ(buffer(615, 40), kWhiteOn);
  EXPECT_EQ(buffer(617, 40), kWhiteOff);
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
