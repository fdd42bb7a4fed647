// Keyboard geometry: the displayed range, column stacking and hit testing.
#include <array>
#include <utility>
#include <vector>

#include "display_fixture.h"

namespace {

class Geometry : public DisplayTest {
 protected:
  // The range and columns as start-up or the engine leave them (fresh column
  // tables), laid out.
  static void layout(int magX, int low, int high, std::initializer_list<int> channels = {}, bool mixed = false) {
    resetEngineTables();
    MagX = magX;
    setKeyRange(low, high);
    setColumns(channels);
    allChMix = mixed ? 255 : 0;
    layoutColumns();
  }
  // Each {x, y, channel, note}: what hitTest finds at (x, y).
  static void expectHits(std::initializer_list<std::array<int, 4>> probes) {
    for (const auto& [x, y, channel, note] : probes) {
      const KeyHit hit = hitTest(x, y);
      EXPECT_EQ(std::make_pair(hit.channel, hit.note), std::make_pair(channel, note)) << "at " << x << "," << y;
    }
  }
};

TEST_F(Geometry, RangeEndsAreWhiteKeysAndSetTheOutlines) {
  struct Case {
    int magX, low, high;
    std::array<int, 4> firstLastLeftRight;
  } cases[] = {
      {1, 24, 72, {24, 72, 196, 602}},
      {1, 25, 70, {24, 71, 196, 5 * 98 + 98}},  // black ends widen to the white keys beside
      {1, 27, 66, {26, 67, 2 * 98 + 14, 5 * 98 + 70}},  // D# to F#: E and G
      {2, 24, 72, {24, 72, 392, 1204}},  // MagX scales every position
      {0, 24, 72, {24, 72, 196, 602}},   // MagX 0 is taken as 1
      {1, 72, 24, {24, 72, 196, 602}},   // a reversed range shows the swapped pair
      {1, -5, 300, {0, 127, 0, 10 * 98 + 70}},  // notes are clamped
  };
  for (const Case& c : cases) {
    layout(c.magX, c.low, c.high);
    EXPECT_EQ((std::array<int, 4>{firstDisplayedNote, lastDisplayedNote, gxleft, gxright}), c.firstLastLeftRight)
        << c.magX << " " << c.low << ".." << c.high;
    EXPECT_EQ(std::make_pair(fromOct * 12 + fromNote, toOct * 12 + toNote),
              std::make_pair(firstDisplayedNote, lastDisplayedNote));
    EXPECT_EQ(keyHeight, 50);
    EXPECT_EQ(totalY, 50);
  }
  layout(1, NoteMin, NoteMax);  // the default range
  EXPECT_EQ((std::array<int, 4>{fromOct, fromNote, toOct, toNote}), (std::array<int, 4>{2, 0, 6, 0}));
}

TEST_F(Geometry, AVerticalScaleBelowOnePixelIsTakenAsOne) {
  MagY = 0;  // -mY=0
  layout(1, 24, 72);
  EXPECT_EQ(keyHeight, 5) << "a keyboard the window can show";
  EXPECT_EQ(totalY, 5);
  expectHits({{306, 2, 0, 61}, {306, 4, 0, 60}});  // the black-key band is the upper 3 rows
}

TEST_F(Geometry, ColumnsAreStackedWithGaps) {
  layout(1, 24, 72, {0, 5, 9});
  EXPECT_EQ((std::vector<int>(columnTop, columnTop + 3)), (std::vector<int>{0, 52, 104}));
  EXPECT_EQ((std::vector<int>(columnHeight, columnHeight + 3)), (std::vector<int>{50, 50, 50}));
  EXPECT_EQ(totalY, 154);
  expectHits({{100, 60, 5, 36}, {100, 110, 9, 36}});

  layout(1, 24, 72, {3, -1, 7});  // a column without a channel takes no room
  EXPECT_EQ(columnTop[0], 0);
  EXPECT_EQ(columnTop[2], 52);
  EXPECT_EQ(totalY, 102);
  expectHits({{100, 60, 7, 36}});

  layout(1, 24, 72, {0, 1});
  channelColumn[4] = 20;  // a column index past the table is ignored
  layoutColumns();
  EXPECT_EQ(totalY, 102);

  layout(1, 24, 72, {0, 5, 9}, true);  // all channels mixed make one column
  EXPECT_EQ(totalY, 50);
  expectHits({{100, 40, 0, 36}});

  // Gaps and rows below the columns hit nothing.
  layout(1, 24, 72, {0, 5});
  expectHits({{100, 50, -1, 128}, {100, 51, -1, 128}, {100, 102, -1, 128}, {100, 500, -1, 128}, {100, 49, 0, 36},
              {100, 52, 5, 36}});
}

TEST_F(Geometry, HitTests) {
  layout(1, 24, 72);
  expectHits({{100, 40, 0, 36}, {108, 10, 0, 37}, {108, 40, 0, 36}});
  expectHits({{0, 40, 0, 23}, {1, 40, 0, 24}});  // the first key's outline belongs to the note below
  layout(1, 26, 72);  // first key D: its outline lies under C sharp
  expectHits({{0, 10, 0, 25}, {0, 40, 0, 26}});
  layout(2, 24, 72);  // the thresholds scale: 14 units into octave 3 (x 196) are 28 pixels
  expectHits({{223, 40, 0, 36}, {224, 40, 0, 38}, {213, 10, 0, 36}, {214, 10, 0, 37}});
  layout(0, 24, 72);
  expectHits({{100, 40, 0, 36}});
}

TEST_F(Geometry, BoundaryPixelsFollowTheKeyTables) {
  layout(1, 0, 127);
  // Octave 0 starts at x 0; y 40 is below the black keys, y 10 among them.
  const int lower[][2] = {{1, 0},  {13, 0}, {14, 2}, {28, 2}, {29, 4}, {41, 4},  {42, 5},
                          {55, 5}, {56, 7}, {70, 7}, {71, 9}, {84, 9}, {85, 11}, {97, 11}};
  for (const auto& p : lower) EXPECT_EQ(hitTest(p[0], 40).note, p[1]) << "x " << p[0];
  const int upper[][2] = {{8, 0},  {9, 1},  {17, 1}, {18, 2}, {24, 2}, {25, 3},  {33, 3},  {34, 4},
                          {41, 4}, {42, 5}, {49, 5}, {50, 6}, {58, 6}, {59, 7},  {65, 7},  {66, 8},
                          {74, 8}, {75, 9}, {81, 9}, {82, 10}, {90, 10}, {91, 11}, {98, 11}, {99, 12}};
  for (const auto& p : upper) EXPECT_EQ(hitTest(p[0], 10).note, p[1]) << "x " << p[0];
  EXPECT_EQ(hitTest(98, 40).note, 11) << "the octave's right outline is the next C's left";
  EXPECT_EQ(hitTest(5, 30).note, 0);
  EXPECT_EQ(hitTest(10, 30).note, 1) << "row 3 x MagY still belongs to the black keys";
  EXPECT_EQ(hitTest(10, 31).note, 0);
}

}  // namespace
