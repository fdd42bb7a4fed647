// The event engine driven as a device drives it: notes and controllers routed
// and drawn, the damper with its held notes, column assignment in the three
// column modes, programs on triggers, computer keys and mouse play.
#include "engine_fixture.h"

namespace {

class EngineTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    openPorts();
    openWindow();
  }
  static void expectNothingSent() {
    for (int k = 0; k < 3; k++) EXPECT_TRUE(simMidiOutEvents(k).empty()) << "OUT" << k + 1;
  }
};

TEST_F(EngineTest, NotesAreRoutedToEveryOutputInTheInputsChannelAndDrawnInTheirOwn) {
  in3(0, 0x90, 60, 100, 1234);
  for (int k = 0; k < 3; k++) EXPECT_EQ(words(k), Words{word(0x90, 60, 100)}) << "OUT" << k + 1;
  EXPECT_EQ(keyLooks(0, {60, 62}), (Looks{kLookOn, kLookOff}));
  in3(0, 0x80, 60, 64);
  EXPECT_EQ(words(0).back(), word(0x80, 60, 64));
  EXPECT_EQ(keyLook(0, 60), kLookOff);

  in3(1, 0x92, 60, 100);  // channel 3 on IN2 (assigned channel 2)
  EXPECT_EQ(keyLook(2, 60), kLookOn);
  in3(1, 0x92, 60, 0);  // velocity 0: like a note-off
  EXPECT_EQ(keyLook(2, 60), kLookOff);
  EXPECT_EQ(words(0), (Words{word(0x90, 60, 100), word(0x80, 60, 64), word(0x91, 60, 100), word(0x91, 60, 0)}));
}

TEST_F(EngineTest, LiveNoteTakesTheInputsChannelAndIsDrawnInItsReceivedChannel) {
  inPorts[0].channel = 0;
  in3(0, 0x94, 64, 90);  // channel 5
  EXPECT_EQ(words(0), Words{word(0x90, 64, 90)});
  EXPECT_EQ(std::vector<int>(columnChannel, columnChannel + maxcolumns), std::vector<int>{4});
  EXPECT_EQ(keyLook(4, 64), kLookOn);
}

TEST_F(EngineTest, OtherMessagesWithoutProgramAreDroppedAndControllersTakeNoColumn) {
  // Program change, polyphonic and channel pressure, pitch bend, active sensing.
  inAll(0, {{0xC0, 5, 0}, {0xA0, 60, 10}, {0xD0, 10, 0}, {0xE0, 0, 0x40}, {0xFE, 0, 0}});
  expectNothingSent();
  in3(0, 0xB3, 7, 100);
  EXPECT_EQ(words(2), Words{word(0xB0, 7, 100)});
  EXPECT_EQ(channelShown[3], 0);
  EXPECT_EQ(maxcolumns, 0);
  EXPECT_EQ(relayouts(), 0);
}

// ---- Damper.

TEST_F(EngineTest, ReleasedUnderTheDamperShowsSustainedUntilTheDamperLifts) {
  inAll(0, {{0xB0, 64, 64}, {0x90, 60, 100}, {0x80, 60, 0}});
  EXPECT_EQ(keyLook(0, 60), kLookSustained);
  EXPECT_EQ(heldOf(0), 1);
  in3(0, 0xB0, 64, 63);
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  EXPECT_EQ(heldOf(0), 0);
  EXPECT_EQ(damperDown[0], 0);
  EXPECT_EQ(words(0).size(), 4u) << "damper, note on, note off, damper all routed";
}

TEST_F(EngineTest, TheSameNoteReleasedTwiceIsHeldOnce) {
  inAll(0, {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 62, 100}, {0x90, 62, 0}, {0x80, 60, 0}});
  EXPECT_EQ(heldOf(0), 2);
  EXPECT_EQ(heldNotes[0][0], 60);
  EXPECT_EQ(heldNotes[0][1], 62);
  EXPECT_EQ(keyLook(0, 62), kLookSustained);
}

TEST_F(EngineTest, ANoteStruckAgainUnderTheDamperIsNoLongerHeld) {
  inAll(0, {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 62, 100}, {0x80, 62, 0}});
  in3(0, 0x90, 60, 90);  // struck again while the damper holds it
  EXPECT_EQ(keyLook(0, 60), kLookOn);
  EXPECT_EQ(heldOf(0), 1);
  EXPECT_EQ(heldNotes[0][0], 62);
  in3(0, 0xB0, 64, 0);
  EXPECT_EQ(keyLooks(0, {60, 62}), (Looks{kLookOn, kLookOff})) << "the sounding key stays On";
  in3(0, 0x80, 60, 0);
  EXPECT_EQ(keyLook(0, 60), kLookOff);
}

TEST_F(EngineTest, DamperIsFollowedPerChannel) {
  inAll(0, {{0x90, 60, 100}, {0x91, 60, 100}, {0xB1, 64, 100}, {0x80, 60, 0}, {0x81, 60, 0}});
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  EXPECT_EQ(keyLook(1, 60), kLookSustained);
}

TEST_F(EngineTest, HeldListOperations) {
  EngineLock hold;
  EXPECT_EQ(holdNote(3, 60), 1);
  EXPECT_EQ(holdNote(3, 64), 2);
  EXPECT_EQ(holdNote(3, 60), 0) << "a listed note answers its index";
  EXPECT_EQ(heldNoteCount(3), 2);
  EXPECT_EQ(takeHeldNote(3, -1), -2);
  EXPECT_EQ(takeHeldNote(3, 2), -1);
  EXPECT_EQ(takeHeldNote(3, 0), 60);
  EXPECT_EQ(heldNoteCount(3), 2) << "reading an entry that is not the last keeps the list";
  EXPECT_EQ(takeHeldNote(3, 1), 64);
  EXPECT_EQ(heldNoteCount(3), 0) << "reading the last entry empties the list";
  EXPECT_EQ(holdNote(3, 200), 0) << "no such note";
}

// ---- Columns.

TEST_F(EngineTest, ChannelsTakeColumnsInTheOrderTheyFirstPlay) {
  in3(0, 0x99, 60, 100);  // channel 10
  EXPECT_EQ(relayouts(), 1);
  inAll(0, {{0x89, 60, 0}, {0x90, 62, 100}});  // channel 1
  EXPECT_EQ(relayouts(), 2);
  in3(0, 0x99, 64, 100);
  EXPECT_EQ(relayouts(), 2) << "a channel with a column causes no relayout";
  ASSERT_EQ(maxcolumns, 2);
  EXPECT_EQ(columnChannel[0], 9);
  EXPECT_EQ(columnChannel[1], 0);
  EXPECT_EQ(channelColumn[9], 0);
  EXPECT_EQ(channelColumn[0], 1);
  EXPECT_EQ(keyLooks(0, {62, 64}), (Looks{kLookOn, kLookOff}));
  EXPECT_EQ(keyLooks(9, {62, 64}), (Looks{kLookOff, kLookOn}));
}

TEST_F(EngineTest, ARelayoutDrawsEveryKeyInItsPresentLook) {
  // Channel 1: 60 held by the damper, 64 sounding, 67 sounding from the mouse.
  inAll(0, {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 64, 100}});
  playMouseNote(0, 67);
  in3(0, 0x91, 72, 100);  // channel 2 plays for the first time: a relayout
  ASSERT_EQ(relayouts(), 2);
  EXPECT_EQ(keyLooks(0, {60, 62, 64, 67}), (Looks{kLookSustained, kLookOff, kLookOn, kLookOn}));
  EXPECT_EQ(keyLook(1, 72), kLookOn);
  EXPECT_EQ(heldOf(0), 1) << "the damper still holds 60";
  in3(0, 0xB0, 64, 0);
  EXPECT_EQ(keyLooks(0, {60, 64}), (Looks{kLookOff, kLookOn}));

  // All channels in one column: a key shows On when any channel sounds it.
  allChMix = 255;
  inAll(0, {{0xB2, 64, 127}, {0x92, 64, 100}, {0x82, 64, 0}, {0x92, 65, 100}, {0x82, 65, 0}});
  {
    EngineLock hold;
    relayoutKeyboard();
  }
  EXPECT_EQ(keyLooks(0, {60, 64, 65, 67, 72}), (Looks{kLookOff, kLookOn, kLookSustained, kLookOn, kLookOn}));
}

TEST_F(EngineTest, PanicControllersTurnTheChannelsKeysOff) {
  for (int controller : {123, 120}) {
    SCOPED_TRACE(controller);
    inAll(0, {{0x90, 50, 100}, {0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 64, 100}, {0x91, 64, 100}});
    ASSERT_EQ(keyLooks(0, {50, 60, 64}), (Looks{kLookOn, kLookSustained, kLookOn}));
    in3(0, 0xB0, controller, 0);
    EXPECT_EQ(words(0).back(), word(0xB0, controller, 0)) << "still routed";
    EXPECT_EQ(keyLooks(0, {50, 60, 64}), (Looks{kLookOff, kLookOff, kLookOff}));
    EXPECT_EQ(heldOf(0), 0);
    EXPECT_EQ(keyLook(1, 64), kLookOn) << "other channels keep their keys";
    in3(0, 0xB0, 64, 0);
    in3(0, 0x81, 64, 0);
  }
  // Reset all controllers lifts the damper: its held keys go Off.
  inAll(0, {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0xB0, 121, 0}});
  EXPECT_EQ(damperDown[0], 0);
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  EXPECT_EQ(heldOf(0), 0);
  // The same from a stored program, as live input.
  setProgram(0, 3, {0x90, 62, 100, 0xB0, 123, 0});
  keyProgram[0][256 + 1] = 3;  // controller 1 plays it
  in3(0, 0xB0, 1, 0);
  EXPECT_EQ(keyLook(0, 62), kLookOff);
}

TEST_F(EngineTest, SeventeenthChannelIsTakenOnWithoutAColumn) {
  for (int c = 0; c < 16; c++) in3(0, 0x90 | c, 60, 100);
  ASSERT_EQ(maxcolumns, 16);
  // All 16 are taken on; a further first note cannot come, so mark one as new.
  channelShown[5] = 0;
  simClearPauses();
  in3(0, 0x95, 62, 100);
  EXPECT_EQ(maxcolumns, 16);
  EXPECT_EQ(relayouts(), 1) << "relaid out all the same";
  EXPECT_EQ(channelShown[5], 255);
}

TEST_F(EngineTest, FixedColumnsDrawOnlyTheirChannels) {
  // As the settings reader leaves -Ch1.
  fixedColumns = 255;
  maxcolumns = 1;
  columnChannel[0] = channelColumn[0] = 0;
  channelShown[0] = 255;
  relayoutKeyboard();
  simClearPauses();
  in3(0, 0x91, 60, 100);  // channel 2
  EXPECT_EQ(words(0), Words{word(0x90, 60, 100)}) << "routed all the same";
  EXPECT_EQ(channelShown[1], 0);
  EXPECT_EQ(maxcolumns, 1);
  EXPECT_EQ(relayouts(), 0);
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  in3(0, 0x90, 62, 100);  // channel 1
  EXPECT_EQ(keyLook(0, 62), kLookOn);
}

TEST_F(EngineTest, AllChannelsMixedDrawEveryChannelInTheSingleColumn) {
  allChMix = 255;
  inAll(0, {{0x92, 60, 100}, {0x96, 64, 100}});
  EXPECT_EQ(relayouts(), 0);
  EXPECT_EQ(maxcolumns, 0);
  EXPECT_EQ(keyLooks(0, {60, 64}), (Looks{kLookOn, kLookOn}));
  in3(0, 0x86, 64, 0);
  EXPECT_EQ(keyLook(0, 64), kLookOff);
}

// ---- Programs on triggers, computer keys.

TEST_F(EngineTest, ProgramOnANoteReplacesThatNoteOnAnyChannel) {
  keyProgram[0][60] = 7;
  setProgram(0, 7, {0xB0, 0x07, 0x30});
  inAll(0, {{0x90, 60, 100}, {0x95, 60, 80}});
  for (int k = 0; k < 3; k++) EXPECT_EQ(words(k), (Words{word(0xB0, 7, 0x30), word(0xB0, 7, 0x30)})) << "OUT" << k + 1;
  EXPECT_EQ(maxcolumns, 0) << "the note is neither drawn nor given a column";
  EXPECT_EQ(keyLook(0, 60), kLookOff);
  in3(0, 0x90, 62, 100);
  EXPECT_EQ(words(0).back(), word(0x90, 62, 100)) << "other notes pass";
  in3(1, 0x90, 60, 100);
  EXPECT_EQ(words(0).back(), word(0x91, 60, 100)) << "IN2 has its own table";
}

TEST_F(EngineTest, ComputerKeysPlayTheProgramsOfIn1) {
  keyDownEvent(0x41);  // no program yet
  keyUpEvent(0x41);
  expectNothingSent();
  EXPECT_EQ(relayouts(), 0);
  keyProgram[0][512 + 0x41] = 3;
  keyProgram[0][768 + 0x41] = 4;
  keyProgram[1][512 + 0x41] = 5;  // not consulted: keys belong to IN1
  setProgram(0, 3, {0x92, 0x3C, 0x64});
  setProgram(0, 4, {0x82, 0x3C, 0x00});
  setProgram(1, 5, {0xF0, 0x01, 0xF7});
  in3(0, 0x92, 40, 1);  // channel 3 gets its column
  keyDownEvent(0x41);
  EXPECT_EQ(keyLook(2, 60), kLookOn);
  keyUpEvent(0x41);
  EXPECT_EQ(keyLook(2, 60), kLookOff);
  EXPECT_EQ(words(1), (Words{word(0x90, 40, 1), word(0x92, 0x3C, 0x64), word(0x82, 0x3C, 0)}));
  EXPECT_TRUE(longs(1).empty());
}

// ---- Mouse play.

TEST_F(EngineTest, MouseNotesGoThroughIn1sRoutingAndDrawInTheClickedColumn) {
  in3(0, 0x99, 40, 100);  // channel 10 gets column 0
  inPorts[0].channel = 0;
  playMouseNote(9, 60);
  EXPECT_EQ(keyLook(9, 60), kLookOn);
  releaseMouseNote(9, 60);
  EXPECT_EQ(keyLook(9, 60), kLookOff);
  EXPECT_EQ(words(0), (Words{word(0x90, 40, 100), word(0x90, 60, 100), word(0x80, 60, 50)}));
  // Released under the damper, it stays sustained.
  in3(0, 0xB9, 64, 127);
  playMouseNote(9, 60);
  releaseMouseNote(9, 60);
  EXPECT_EQ(keyLook(9, 60), kLookSustained);
  EXPECT_EQ(heldOf(9), 1);
  in3(0, 0xB9, 64, 0);
  EXPECT_EQ(keyLook(9, 60), kLookOff);
}

TEST_F(EngineTest, NoOutputPortsReceiveNothing) {
  outPorts[1].noOutput = 255;
  keyProgram[0][512 + 0x20] = 1;
  setProgram(0, 1, {0xC0, 0x05, 0xF0, 0x7E, 0x00, 0xF7});
  in3(0, 0x90, 60, 100);
  keyDownEvent(0x20);
  playMouseNote(0, 62);
  const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
  simMidiInLong(0, sysex, 4, 0);
  EXPECT_TRUE(simMidiOutEvents(1).empty());
  EXPECT_EQ(words(0).size(), 3u);
  EXPECT_EQ(longs(2).size(), 2u);
}

}  // namespace
