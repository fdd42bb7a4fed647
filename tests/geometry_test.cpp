// Keyboard geometry: the displayed range, column stacking and hit testing.
#include "display_fixture.h"

class Geometry : public DisplayTest {};

TEST_F(Geometry, DefaultRange) {
  setKeyRange(NoteMin, NoteMax);
  EXPECT_EQ(fromOct, 2);
  EXPECT_EQ(fromNote, 0);
  EXPECT_EQ(toOct, 6);
  EXPECT_EQ(toNote, 0);
  EXPECT_EQ(firstDisplayedNote, 24);
  EXPECT_EQ(lastDisplayedNote, 72);
  EXPECT_EQ(gxleft, 196);
  EXPECT_EQ(gxright, 602);
  EXPECT_EQ(gxright - gxleft + 1, 407);
  EXPECT_EQ(keyHeight, 50);
  layoutColumns();
  EXPECT_EQ(totalY, 50);
}

TEST_F(Geometry, BlackEndsWidenToTheWhiteKeysBeside) {
  setKeyRange(25, 70);
  EXPECT_EQ(firstDisplayedNote, 24);
  EXPECT_EQ(fromNote, 0);
  EXPECT_EQ(lastDisplayedNote, 71);
  EXPECT_EQ(toNote, 11);
  EXPECT_EQ(gxright, 5 * 98 + 98);
  setKeyRange(27, 66);  // D# to F#: E and G
  EXPECT_EQ(firstDisplayedNote, 26);
  EXPECT_EQ(gxleft, 2 * 98 + 14);
  EXPECT_EQ(lastDisplayedNote, 67);
  EXPECT_EQ(gxright, 5 * 98 + 70);
}

TEST_F(Geometry, MagXScalesEveryPosition) {
  MagX = 2;
  setKeyRange(24, 72);
  EXPECT_EQ(gxleft, 392);
  EXPECT_EQ(gxright, 1204);
  // The thresholds scale too: 14 units into the octave is now 28 pixels.
  int octave3 = 3 * 98 * 2 - gxleft;
  EXPECT_EQ(hitTest(octave3 + 27, 40).note, 36);
  EXPECT_EQ(hitTest(octave3 + 28, 40).note, 38);
  EXPECT_EQ(hitTest(octave3 + 17, 10).note, 36);
  EXPECT_EQ(hitTest(octave3 + 18, 10).note, 37);
}

TEST_F(Geometry, MagXZeroIsTakenAsOne) {
  MagX = 0;
  setKeyRange(24, 72);
  EXPECT_EQ(gxleft, 196);
  EXPECT_EQ(gxright, 602);
  KeyHit hit = hitTest(100, 40);
  EXPECT_EQ(hit.channel, 0);
  EXPECT_EQ(hit.note, 36);
}

TEST_F(Geometry, ReversedRangeShowsTheSwappedPairAndNotesAreClamped) {
  setKeyRange(72, 24);
  EXPECT_EQ(firstDisplayedNote, 24);
  EXPECT_EQ(lastDisplayedNote, 72);
  EXPECT_EQ(gxright - gxleft + 1, 407);
  setKeyRange(-5, 300);
  EXPECT_EQ(firstDisplayedNote, 0);
  EXPECT_EQ(lastDisplayedNote, 127);
  EXPECT_EQ(gxleft, 0);
  EXPECT_EQ(gxright, 10 * 98 + 70);
}

TEST_F(Geometry, ThreeColumnsAreStackedWithGaps) {
  setKeyRange(24, 72);
  setColumns({0, 5, 9});
  layoutColumns();
  EXPECT_EQ(columnTop[0], 0);
  EXPECT_EQ(columnTop[1], 52);
  EXPECT_EQ(columnTop[2], 104);
  EXPECT_EQ(columnHeight[0], 50);
  EXPECT_EQ(columnHeight[1], 50);
  EXPECT_EQ(columnHeight[2], 50);
  EXPECT_EQ(totalY, 154);
  EXPECT_EQ(hitTest(100, 60).channel, 5);
  EXPECT_EQ(hitTest(100, 110).channel, 9);
}

TEST_F(Geometry, ColumnWithoutChannelTakesNoRoom) {
  setKeyRange(24, 72);
  setColumns({3, -1, 7});
  layoutColumns();
  EXPECT_EQ(columnTop[0], 0);
  EXPECT_EQ(columnTop[2], 52);
  EXPECT_EQ(totalY, 102);
  EXPECT_EQ(hitTest(100, 60).channel, 7);
}

TEST_F(Geometry, ColumnIndexPastTheTableIsIgnoredByTheLayout) {
  setKeyRange(24, 72);
  setColumns({0, 1});
  channelColumn[4] = 20;
  layoutColumns();
  EXPECT_EQ(totalY, 102);
}

TEST_F(Geometry, AllChannelsMixedMakeOneColumn) {
  setKeyRange(24, 72);
  setColumns({0, 5, 9});
  allChMix = 255;
  layoutColumns();
  EXPECT_EQ(totalY, 50);
  KeyHit hit = hitTest(100, 40);
  EXPECT_EQ(hit.channel, 0);
  EXPECT_EQ(hit.note, 36);
}

TEST_F(Geometry, HitTestExamples) {
  setKeyRange(24, 72);
  layoutColumns();
  KeyHit a = hitTest(100, 40);
  EXPECT_EQ(a.channel, 0);
  EXPECT_EQ(a.note, 36);
  KeyHit b = hitTest(108, 10);
  EXPECT_EQ(b.channel, 0);
  EXPECT_EQ(b.note, 37);
  KeyHit c = hitTest(108, 40);
  EXPECT_EQ(c.channel, 0);
  EXPECT_EQ(c.note, 36);
}

TEST_F(Geometry, GapsAndRowsBelowTheColumnsHitNothing) {
  setKeyRange(24, 72);
  setColumns({0, 5});
  layoutColumns();
  for (int y : {50, 51, 102, 500}) {
    KeyHit hit = hitTest(100, y);
    EXPECT_EQ(hit.channel, -1) << y;
    EXPECT_EQ(hit.note, 128) << y;
  }
  EXPECT_EQ(hitTest(100, 49).channel, 0);
  EXPECT_EQ(hitTest(100, 52).channel, 5);
}

TEST_F(Geometry, FirstKeyOutlineBelongsToTheNoteBelow) {
  setKeyRange(24, 72);
  EXPECT_EQ(hitTest(0, 40).note, 23);
  EXPECT_EQ(hitTest(1, 40).note, 24);
  setKeyRange(26, 72);  // first key D: its outline lies under C sharp
  EXPECT_EQ(hitTest(0, 10).note, 25);
  EXPECT_EQ(hitTest(0, 40).note, 26);
}

TEST_F(Geometry, BoundaryPixelsFollowTheKeyTables) {
  setKeyRange(0, 127);
  // Octave 0 starts at x 0; y 40 is below the black keys, y 10 among them.
  const int lower[][2] = {{1, 0},   {13, 0},  {14, 2},  {28, 2},  {29, 4},  {41, 4},  {42, 5},
                          {55, 5},  {56, 7},  {70, 7},  {71, 9},  {84, 9},  {85, 11}, {97, 11}};
  for (const auto& p : lower) EXPECT_EQ(hitTest(p[0], 40).note, p[1]) << "x " << p[0];
  const int upper[][2] = {{8, 0},   {9, 1},   {17, 1},  {18, 2},  {24, 2},  {25, 3},  {33, 3},
                          {34, 4},  {41, 4},  {42, 5},  {49, 5},  {50, 6},  {58, 6},  {59, 7},
                          {65, 7},  {66, 8},  {74, 8},  {75, 9},  {81, 9},  {82, 10}, {90, 10},
                          {91, 11}, {98, 11}, {99, 12}};
  for (const auto& p : upper) EXPECT_EQ(hitTest(p[0], 10).note, p[1]) << "x " << p[0];
  EXPECT_EQ(hitTest(98, 40).note, 11) << "the octave's right outline is the next C's left";
  EXPECT_EQ(hitTest(5, 30).note, 0);
  EXPECT_EQ(hitTest(10, 30).note, 1) << "row 3 x MagY still belongs to the black keys";
  EXPECT_EQ(hitTest(10, 31).note, 0);
}
