// The input callback as the device drives it: trigger numbers, running status,
// timing clock, long messages, and closing. (Long messages after errors, over
// more than one buffer and from both inputs, with the buffers queued again,
// are in faults_test.cpp.)
#include "engine/input_callback.h"

#include "engine_fixture.h"
#include "midi/os_midi.h"

namespace {

class InputCallbackTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    openPorts();
    openWindow();
  }
  // Trigger t of input table i plays a program that sends control change
  // 0xBF 0x50 marker: the marker shows which trigger fired.
  static void markTrigger(int i, int t, int marker) {
    int p = 100 + marker;
    keyProgram[i][t] = static_cast<int16_t>(p);
    setProgram(i, p, {0xBF, 0x50, marker});
  }
  static std::vector<int> markers(int k) {
    std::vector<int> m;
    for (uint32_t w : words(k)) {
      if ((w & 0xFFFF) == 0x50BF) m.push_back(static_cast<int>(w >> 16));
    }
    return m;
  }
};

TEST_F(InputCallbackTest, TriggerNumbersOfEachKindOfMessage) {
  const int triggers[] = {60, 188, 263, 384, 386, 385, 387, 402, 190};
  for (int k = 0; k < 9; k++) markTrigger(1, triggers[k], k + 1);
  in3(1, 0x90, 0x3C, 0x64, 1234);  // note-on 60
  in3(1, 0x91, 0x3C, 0x00);        // velocity 0: as note-off 60
  in3(1, 0x81, 0x3C, 0x40);        // note-off 60
  in3(1, 0xB0, 0x07, 0x64);        // controller 7
  in3(1, 0xE0, 0x00, 0x40);        // pitch bend
  in3(1, 0xC5, 0x10, 0);           // program change
  in3(1, 0xA3, 0x3C, 0x10);        // polyphonic pressure
  in3(1, 0xD3, 0x10, 0);           // channel pressure
  in3(1, 0xFE, 0, 0);              // active sensing
  in3(1, 0x8F, 0x3E, 0);           // note-off 62
  EXPECT_EQ(markers(0), (std::vector<int>{1, 2, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(markers(0).size(), words(0).size()) << "each message was replaced by its program";
}

TEST_F(InputCallbackTest, RealTimeBytesNeitherReachTheEngineAsClockNorBreakRunningStatus) {
  markTrigger(0, 0xF8 + 148, 1);
  in3(0, 0xF8, 0, 0);
  in3(0, 0xF8, 0x3C, 0x64);
  EXPECT_TRUE(simMidiOutEvents(0).empty()) << "the clock is never passed on";

  // 90 3C 64, F8, 3E 64, FE, 3E 00: the data bytes after a real-time byte
  // still belong to the note-on.
  in3(0, 0x90, 0x3C, 0x64);
  in3(0, 0xF8, 0, 0);
  simMidiInShort(0, word(0x3E, 0x64), 0);
  EXPECT_EQ(keyLooks(0, {0x3C, 0x3E}), (Looks{kLookOn, kLookOn}));
  in3(0, 0xFE, 0, 0);
  simMidiInShort(0, word(0x3E, 0x00), 0);
  EXPECT_EQ(keyLooks(0, {0x3C, 0x3E}), (Looks{kLookOn, kLookOff}));
  EXPECT_EQ(words(0), (Words{word(0x90, 0x3C, 0x64), word(0x90, 0x3E, 0x64), word(0x90, 0x3E, 0)}));
}

TEST_F(InputCallbackTest, DataBytesBeforeAnyStatusGiveTriggerZeroWithStatusZero) {
  simMidiInShort(0, word(0x3C, 0x64), 0);
  EXPECT_TRUE(simMidiOutEvents(0).empty()) << "status 0 without a program: dropped";
  markTrigger(1, 0, 4);
  simMidiInShort(1, word(0x3C, 0x64), 0);
  EXPECT_EQ(markers(0), (std::vector<int>{4}));
}

TEST_F(InputCallbackTest, RunningStatusIsKeptPerInputAndDataBytesAreCutToSevenBits) {
  in3(0, 0x92, 0x3C, 0x64);
  simMidiInShort(0, word(0x3E, 0x50, 0x77), 0);  // data bytes only; the third byte is not part of it
  EXPECT_EQ(keyLook(2, 62), kLookOn);
  simMidiInShort(0, word(0x3E, 0x00), 0);  // running-status note-off
  EXPECT_EQ(keyLook(2, 62), kLookOff);
  in3(1, 0xB1, 0x07, 0x10);
  simMidiInShort(0, word(0x40, 0x64), 0);
  simMidiInShort(1, word(0x0A, 0x20), 0);
  in3(0, 0x90, 0xBC, 0xE4);
  EXPECT_EQ(words(0), (Words{word(0x90, 0x3C, 0x64), word(0x90, 0x3E, 0x50), word(0x90, 0x3E, 0x00), word(0xB1, 0x07, 0x10),
                             word(0x90, 0x40, 0x64), word(0xB1, 0x0A, 0x20), word(0x90, 0x3C, 0x64)}));
  EXPECT_EQ(keyLook(0, 60), kLookOn);
}

TEST_F(InputCallbackTest, ErrorsAndUnknownHandlesAreIgnoredLongMessagesRouted) {
  simMidiInError(0, word(0x90, 0x3C, 0x64), 0);
  midiInCallback(0x7777, OS_MIM_DATA, 0, word(0x90, 0x3C, 0x64), 0);
  midiInCallback(inPorts[0].handle, OS_MIM_LONGDATA, 0, 0, 0);  // a header that is not ours
  for (int k = 0; k < 3; k++) EXPECT_TRUE(simMidiOutEvents(k).empty());
  const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  ASSERT_TRUE(simMidiInLong(0, sysex, 9, 55));  // and a long message is routed from the receive buffer
  for (int k = 0; k < 3; k++) EXPECT_EQ(longs(k), (std::vector<std::vector<uint8_t>>{{sysex, sysex + 9}})) << k;
  EXPECT_EQ(maxcolumns, 0);
}

TEST_F(InputCallbackTest, ClosingHandsTheBuffersBackForGood) {
  const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
  simMidiInLong(0, sysex, 4, 0);
  closeAllPorts();
  EXPECT_FALSE(simMidiInIsOpen(0)) << "nothing queued again: the input closes";
  EXPECT_FALSE(simMidiInIsOpen(1));
  EXPECT_EQ(simMidiInQueuedBuffers(0), 0);
  EXPECT_EQ(longs(0).size(), 1u) << "the returned buffers carry nothing on";
}

}  // namespace
