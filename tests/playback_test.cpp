// Program playback and routing: the messages a program holds, what routing
// lets through, channel replacement and the outputs served.
#include "engine/playback.h"

#include "engine_fixture.h"

namespace {

class PlaybackTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    openPorts();
    openWindow();
  }
  // Plays program p of table t as a trigger would.
  static void play(int t, int p) {
    EngineLock hold;
    playProgram(t, p, 0);
  }
};

TEST_F(PlaybackTest, ProgramChangeThenNoteKeepTheirChannelWhateverTheInputsChannel) {
  inPorts[1].channel = 6;
  in3(0, 0x90, 30, 1);  // channel 1 gets its column
  in3(0, 0x80, 30, 0);
  setProgram(1, 1, {0xC0, 0x05, 0x90, 0x3C, 0x64});
  play(1, 1);
  std::vector<uint32_t> expected = {word(0x90, 30, 1), word(0x80, 30, 0), word(0xC0, 5), word(0x90, 0x3C, 0x64)};
  for (int k = 0; k < 3; k++) EXPECT_EQ(words(k), expected) << "OUT" << k + 1;
  EXPECT_EQ(keyLook(0, 60), kLookOn);
}

TEST_F(PlaybackTest, ProgramNotesAreDrawnInTheSingleColumnUnderAllChMix) {
  allChMix = 255;
  setProgram(0, 9, {0x93, 0x3C, 0x64});
  play(0, 9);
  EXPECT_EQ(keyLook(0, 60), kLookOn);
  EXPECT_EQ(maxcolumns, 0) << "playback assigns no column";
  EXPECT_EQ(relayouts(), 0);
}

TEST_F(PlaybackTest, SystemExclusiveGoesToEveryOutputAsOneLongMessage) {
  setProgram(0, 2, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
  play(0, 2);
  std::vector<uint8_t> expected = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  for (int k = 0; k < 3; k++) {
    ASSERT_EQ(longs(k).size(), 1u) << "OUT" << k + 1;
    EXPECT_EQ(longs(k)[0], expected);
    EXPECT_TRUE(words(k).empty());
  }
}

TEST_F(PlaybackTest, ValuesAboveAByteAndPlaceholdersAreSkipped) {
  setProgram(0, 4, {0x90, kChannelPlaceholder | 0x90, 0x3C, 0x100, 0x64, -1, 0xB0, 0x07, 0x10});
  play(0, 4);
  EXPECT_EQ(words(0), (std::vector<uint32_t>{word(0x90, 0x3C, 0x64), word(0xB0, 0x07, 0x10)}));
}

TEST_F(PlaybackTest, MessagesThatRoutingDoesNotPassAreDropped) {
  setProgram(0, 5, {0xF8, 0xA0, 0x3C, 0x10, 0xD0, 0x20, 0xF3, 0x01, 0xF2, 0x00, 0x10, 0xE0, 0x00, 0x40, 0xFE});
  play(0, 5);
  EXPECT_EQ(words(0), (std::vector<uint32_t>{word(0xE0, 0x00, 0x40)})) << "only the pitch bend passes";
}

TEST_F(PlaybackTest, ProgramDamperIsFollowedLikeLiveInput) {
  in3(0, 0x90, 20, 1);  // channel 1 gets its column
  setProgram(0, 6, {0xB0, 0x40, 0x7F, 0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00});
  setProgram(0, 7, {0xB0, 0x40, 0x00});
  play(0, 6);
  EXPECT_EQ(keyLook(0, 60), kLookSustained);
  EXPECT_EQ(heldOf(0), 1);
  play(0, 7);
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  EXPECT_EQ(heldOf(0), 0);
}

TEST_F(PlaybackTest, ALongExclusiveProgramIsCollectedWhole) {
  std::vector<uint8_t> expected = {0xF0};
  for (int i = 0; i < 253; i++) expected.push_back(static_cast<uint8_t>(i & 0x7F));
  expected.push_back(0xF7);
  for (size_t i = 0; i < expected.size(); i++) programData[0][8][i] = expected[i];
  programLength[0][8] = static_cast<int16_t>(expected.size());
  play(0, 8);
  ASSERT_EQ(longs(0).size(), 1u);
  EXPECT_EQ(longs(0)[0], expected);
}

TEST_F(PlaybackTest, ProgramsThatSendNothing) {
  setProgram(0, 3, {0x3C, 0x64, 0x90, 0x3C, 0x64});  // a data byte first spoils the whole program
  for (int i = 0; i < kProgramMaxLength; i++) programData[0][9][i] = i % 2 ? 0x41 : 0xF0;  // all unfinished
  programLength[0][9] = kProgramMaxLength;
  for (int p : {3, 9, 10}) play(0, p);  // program 10 is empty
  for (int k = 0; k < 3; k++) EXPECT_TRUE(simMidiOutEvents(k).empty());
  EXPECT_EQ(keyLook(0, 60), kLookOff);
}

TEST_F(PlaybackTest, RouteShortReplacesTheChannelUnlessKept) {
  inPorts[0].channel = 3;
  routeShort(0, 0x9A, 60, 100, 0, 0);
  routeShort(0, 0x9A, 60, 100, 0, -1);
  routeShort(0, 0xCA, 7, 0, 0, 0);
  routeShort(0, 0xEA, 0, 0x40, 0, 0);
  routeShort(0, 0xDA, 9, 0, 0, 0);  // channel pressure: dropped
  routeShort(0, 0xF8, 0, 0, 0, 0);  // clock: dropped
  EXPECT_EQ(words(2), (std::vector<uint32_t>{word(0x93, 60, 100), word(0x9A, 60, 100), word(0xC3, 7),
                                             word(0xE3, 0, 0x40)}));
}

TEST_F(PlaybackTest, RouteLongServesOut1ToOutnOnlyAndReplacesTheChannelOfAChannelStatus) {
  outPortCount = 2;
  const uint8_t data[] = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
  routeLong(0, 0xF0, data, 5, 0);
  inPorts[1].channel = 5;
  routeLong(1, 0x9C, data, 3, 0);
  EXPECT_EQ(longs(0), (std::vector<std::vector<uint8_t>>{{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0x95, 0x7E, 0x7F, 0x09}}));
  EXPECT_EQ(longs(1).size(), 2u);
  EXPECT_TRUE(simMidiOutEvents(2).empty()) << "OUT3 is not among the configured outputs";
}

}  // namespace
