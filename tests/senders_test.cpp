// Output senders: running status of mapper, device and serial outputs, long
// and direct messages through the reused header, a long message still
// playing, and sends to one output from two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "midi/os_midi.h"
#include "midi/open_close.h"
#include "midi/senders.h"
#include "ports_fixture.h"

namespace {

// OUT1 on the MIDI mapper, OUT2 on device 0, OUT3 on COM3, opened.
class Senders : public PortsFixture {
 protected:
  void SetUp() override {
    PortsFixture::SetUp();
    simAddMidiOut("Synth");
    simAddSerialPort(3);
    ASSERT_EQ(openOutPort(0, kMidiMapper, 0), 0);
    ASSERT_EQ(openOutPort(1, 0, 0), 0);
    ASSERT_EQ(openOutPort(2, 0, 3), 0);
    outPortCount = 3;
  }
  // What a device received: short words (kLong for a long message), and the long messages.
  static std::vector<uint32_t> words(int device) {
    std::vector<uint32_t> w;
    for (const SimMidiOutEvent& e : simMidiOutEvents(device)) w.push_back(e.isLong ? kLong : e.word);
    return w;
  }
  static std::vector<std::vector<uint8_t>> longs(int device) {
    std::vector<std::vector<uint8_t>> l;
    for (const SimMidiOutEvent& e : simMidiOutEvents(device)) {
      if (e.isLong) l.push_back(e.bytes);
    }
    return l;
  }
  static constexpr uint32_t kLong = 0xFFFFFFFFu;
  // OUT2 sends F0 01 02 03 F7 while long messages are held: it stays playing.
  static void holdFirstLong() {
    const uint8_t first[] = {0x01, 0x02, 0x03, 0xF7};
    simHoldLongMessages(true);
    ASSERT_EQ(sendLong(1, 0xF0, first, 4), 0);
  }
  static constexpr uint8_t kSecond[] = {0x04, 0x05, 0x06, 0xF7};  // the data of the message after it
};

using SendersUnopened = PortsFixture;
using Bytes = std::vector<uint8_t>;

}  // namespace

TEST_F(SendersUnopened, UnopenedOrOutOfRangeOutputsTakeNothing) {
  simAddMidiOut("Synth");
  size_t mark = simMidiCalls().size();
  const uint8_t data[] = {0x43, 0x10, 0xF7};
  EXPECT_EQ(sendShort(16, 0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(sendShort(-1, 0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(sendShort(0, 0x90, 0x3C, 0x64), 0) << "OUT1 never opened";
  EXPECT_EQ(sendLong(0, 0xF0, data, 3), 0);
  EXPECT_EQ(sendDirect(0, 0xF8), 0);
  EXPECT_EQ(sendDirect(16, 0xF8), 0);
  EXPECT_TRUE(callsSince(mark).empty());
}

TEST_F(Senders, MapperLeavesOutARepeatedChannelStatusDevicesNeverNorASystemStatus) {
  for (int k : {0, 1}) {
    EXPECT_EQ(sendShort(k, 0x90, 0x3C, 0x64), 0);
    EXPECT_EQ(sendShort(k, 0x90, 0x3E, 0x64), 0);
    EXPECT_EQ(sendShort(k, 0x80, 0x3C, 0x00), 0);
  }
  const uint8_t song[] = {0x05};
  for (int i = 0; i < 2; i++) EXPECT_EQ(sendLong(0, 0xF8, nullptr, 0), 0);
  for (int i = 0; i < 2; i++) EXPECT_EQ(sendLong(0, 0xF3, song, 1), 0);
  EXPECT_EQ(words(kMidiMapper), (std::vector<uint32_t>{0x643C90, 0x643E, 0x003C80, 0xF8, 0xF8, 0x05F3, 0x05F3}));
  EXPECT_EQ(words(0), (std::vector<uint32_t>{0x643C90, 0x643E90, 0x003C80}));
  EXPECT_EQ(outPorts[1].lastStatus, 0x80);
}

TEST_F(Senders, SerialRunningStatusByDataCount) {
  EXPECT_EQ(sendShort(2, 0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(sendShort(2, 0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(sendShort(2, 0xC0, 0x05, 0x00), 0);
  EXPECT_EQ(sendShort(2, 0xC0, 0x06, 0x00), 0);
  EXPECT_EQ(sendShort(2, 0xE0, 0x00, 0x40), 0);
  EXPECT_EQ(sendShort(2, 0xD1, 0x20, 0x00), 0);
  EXPECT_EQ(simSerialBytes(3), (Bytes{0x90, 0x3C, 0x64, 0x3E, 0x64, 0xC0, 0x05, 0x06, 0xE0, 0x00, 0x40, 0xD1, 0x20}));
  EXPECT_EQ(outPorts[2].lastStatus, 0xD1);
}

TEST_F(Senders, AFailedSendForgetsTheRunningStatus) {
  // Serial: the whole write fails, then half of one goes out.
  ASSERT_EQ(sendShort(2, 0xB0, 0x07, 0x64), 0);
  simFailSerialWrites(3, 1);
  EXPECT_EQ(sendShort(2, 0x90, 0x3C, 0x64), -1);
  EXPECT_EQ(sendShort(2, 0x90, 0x3E, 0x64), 0);
  simPartialSerialWrites(3, 1);
  EXPECT_EQ(sendShort(2, 0x80, 0x3E, 0x00), -1) << "a short count is a failure";
  EXPECT_EQ(sendShort(2, 0x80, 0x3C, 0x00), 0);
  EXPECT_EQ(simSerialBytes(3), (Bytes{0xB0, 0x07, 0x64, 0x90, 0x3E, 0x64, 0x80, 0x80, 0x3C, 0x00}))
      << "each message after a failure carries its status";
  // Mapper.
  ASSERT_EQ(sendShort(0, 0xB0, 0x07, 0x64), 0);
  simFailMidiOutShort(1, OS_MIDI_NOMEM);
  EXPECT_EQ(sendShort(0, 0x90, 0x3C, 0x64), -1);
  EXPECT_EQ(sendShort(0, 0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(words(kMidiMapper), (std::vector<uint32_t>{0x6407B0, 0x643E90}));
}

TEST_F(Senders, ShortLengthsGoAsShortWordsLongerAsLongMessages) {
  const uint8_t cc[] = {0x07, 0x64};
  const uint8_t sysex[] = {0x43, 0x10, 0xF7};
  EXPECT_EQ(sendLong(1, 0xF8, nullptr, 0), 0);
  EXPECT_EQ(sendLong(1, 0xB0, cc, 2), 0);
  EXPECT_EQ(sendLong(1, 0xC0, cc, 1), 0);
  EXPECT_EQ(sendLong(1, 0xF0, sysex, 3), 0);
  EXPECT_EQ(words(0), (std::vector<uint32_t>{0xF8, 0x6407B0, 0x07C0, kLong}));
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{0xF0, 0x43, 0x10, 0xF7}}));
  EXPECT_EQ(outPorts[1].lastStatus, 0xF0);
  EXPECT_EQ(outPorts[1].prepared, 1) << "the header stays prepared after the send";

  // A serial output takes every length in one write.
  EXPECT_EQ(sendLong(2, 0xF8, nullptr, 0), 0);
  EXPECT_EQ(sendLong(2, 0xB0, cc, 2), 0);
  EXPECT_EQ(sendLong(2, 0xF0, sysex, 3), 0);
  EXPECT_EQ(simSerialBytes(3), (Bytes{0xF8, 0xB0, 0x07, 0x64, 0xF0, 0x43, 0x10, 0xF7}));
  EXPECT_EQ(countCalls(simMidiCalls(), "serialWrite"), 3);
  EXPECT_EQ(outPorts[2].lastStatus, 0xF0);
}

TEST_F(Senders, TheLongestMessageFillsTheBufferExactly) {
  Bytes data(kMidiBufferSize - 1);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i % 0x7F);
  Bytes whole = {0xF0};
  whole.insert(whole.end(), data.begin(), data.end());
  EXPECT_EQ(sendLong(1, 0xF0, data.data(), kMidiBufferSize - 1), 0);
  EXPECT_EQ(outPorts[1].header.bufferLength, static_cast<uint32_t>(kMidiBufferSize));
  EXPECT_EQ(sendLong(2, 0xF0, data.data(), kMidiBufferSize - 1), 0);
  EXPECT_EQ(longs(0), std::vector<Bytes>{whole});
  EXPECT_EQ(simSerialBytes(3), whole);
}

TEST_F(Senders, EachLongSendUnpreparesTheOneBefore) {
  const uint8_t a[] = {0x01, 0x02, 0x03, 0xF7};
  const uint8_t b[] = {0x04, 0x05, 0xF7};
  ASSERT_EQ(sendLong(1, 0xF0, a, 4), 0);
  size_t mark = simMidiCalls().size();
  ASSERT_EQ(sendLong(1, 0xF0, b, 3), 0);
  ASSERT_EQ(sendDirect(1, 0xFA), 0);
  EXPECT_EQ(callsSince(mark), (std::vector<std::string>{"midiOutUnprepare 0", "midiOutPrepare 0", "midiOutLong 0",
                                                        "midiOutUnprepare 0", "midiOutPrepare 0", "midiOutLong 0"}));
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0xF7}, {0xFA}}));
}

TEST_F(Senders, PlatformFailuresGiveMinusOne) {
  const uint8_t a[] = {0x01, 0x02, 0xF7};
  simFailMidiOutPrepare(1, OS_MIDI_NOMEM);
  EXPECT_EQ(sendLong(1, 0xF0, a, 3), -1);
  EXPECT_EQ(outPorts[1].prepared, 0);
  simFailMidiOutLong(1, OS_MIDI_INVALPARAM);
  EXPECT_EQ(sendLong(1, 0xF0, a, 3), -1);
  EXPECT_EQ(outPorts[1].prepared, 1) << "prepared, not sent: the next send unprepares it";
  EXPECT_EQ(sendLong(1, 0xF0, a, 3), 0);
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);
  simFailSerialWrites(3, 2);
  EXPECT_EQ(sendLong(2, 0xF0, a, 3), -1);
  EXPECT_EQ(sendDirect(2, 0xF8), -1);
}

TEST_F(Senders, WaitsWhileThePreviousMessagePlaysThenReusesTheBuffer) {
  holdFirstLong();
  size_t mark = simMidiCalls().size();
  // The sim's pauses take no time: let the sender poll for as long as the
  // real-time bound allows, so that the device below surely finishes first.
  const int bound = setLongMessageWaitPolls(1 << 30);
  std::atomic<bool> ready(false);
  std::atomic<bool> sent(false);
  std::thread device([&] {
    ready = true;
    // The device finishes once the sender has been told that it still plays.
    while (!sent && countCalls(callsSince(mark), "midiOutUnprepare") < 2) std::this_thread::yield();
    simFinishLongMessages();
  });
  while (!ready) std::this_thread::yield();
  int result = sendLong(1, 0xF0, kSecond, 4);
  sent = true;
  device.join();
  setLongMessageWaitPolls(bound);
  EXPECT_EQ(result, 0);
  std::vector<std::string> calls = callsSince(mark);
  EXPECT_GE(countCalls(calls, "midiOutUnprepare"), 3) << "asked again after the device still played";
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "midiOutPrepare 0") << "the buffer is filled only after the unprepare";
  EXPECT_FALSE(simPauses().empty());
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}}));
}

TEST_F(Senders, ADeviceThatNeverFinishesKeepsItsBuffer) {
  holdFirstLong();
  simClearPauses();
  EXPECT_EQ(sendLong(1, 0xF0, kSecond, 4), -1);
  EXPECT_EQ(sendDirect(1, 0xFA), -1);
  // The wait is bounded and made of short pauses.
  ASSERT_FALSE(simPauses().empty());
  EXPECT_LE(simPauses().size(), 2000u);
  for (int ms : simPauses()) EXPECT_EQ(ms, 1);
  EXPECT_EQ(std::memcmp(outPorts[1].header.data, "\xF0\x01\x02\x03\xF7", 5), 0) << "the playing buffer is untouched";
  EXPECT_EQ(outPorts[1].prepared, 1);
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);
  // Once the device is done, the next send goes out.
  simFinishLongMessages();
  EXPECT_EQ(sendLong(1, 0xF0, kSecond, 4), 0);
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}}));
}

// The engine holds its lock while a program plays: a send there never waits
// for the device, it takes the spare header or fails at once.
TEST_F(Senders, UnderTheEngineLockASendTakesTheSpareHeaderOrFailsWithoutWaiting) {
  holdFirstLong();
  simClearPauses();
  {
    EngineLock hold;
    EXPECT_EQ(sendLong(1, 0xF0, kSecond, 4), 0) << "the spare header takes it";
    EXPECT_EQ(sendDirect(1, 0xFA), -1) << "the device still plays both";
    EXPECT_TRUE(simPauses().empty()) << "nothing waited";
    EXPECT_EQ(std::memcmp(outPorts[1].header.data, "\xF0\x01\x02\x03\xF7", 5), 0);
    EXPECT_EQ(std::memcmp(outPorts[1].spareHeader.data, "\xF0\x04\x05\x06\xF7", 5), 0);
    simFinishLongMessages();
    EXPECT_EQ(sendDirect(1, 0xFA), 0);
  }
  closeAllPorts();
  EXPECT_EQ(outPorts[1].prepared + outPorts[1].sparePrepared, 0) << "closing lets both go";
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}, {0xFA}}));
}

TEST_F(Senders, RunningStatusRulesByKindOfOutput) {
  // Mapper: timing clock and active sensing leave the running status alone,
  // other status bytes take its place.
  ASSERT_EQ(sendShort(0, 0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(sendDirect(0, 0xF8), 0);
  EXPECT_EQ(sendDirect(0, 0xFE), 0);
  EXPECT_EQ(sendDirect(0, 0x3C), 0);
  EXPECT_EQ(outPorts[0].lastStatus, 0x90);
  EXPECT_EQ(sendShort(0, 0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(sendDirect(0, 0x1B0), 0) << "the low byte counts";
  EXPECT_EQ(outPorts[0].lastStatus, 0xB0);
  EXPECT_EQ(sendShort(0, 0x90, 0x40, 0x64), 0);
  EXPECT_EQ(sendDirect(0, 0x90), 0);
  EXPECT_EQ(sendShort(0, 0x90, 0x41, 0x64), 0);
  // The mapper leaves out 0x90 after F8, FE and a data byte, and after a direct 0x90.
  EXPECT_EQ(words(kMidiMapper), (std::vector<uint32_t>{0x643C90, kLong, kLong, kLong, 0x643E, kLong, 0x644090, kLong, 0x6441}));
  EXPECT_EQ(longs(kMidiMapper)[0], Bytes{0xF8});

  // Serial: every direct byte becomes the running status.
  ASSERT_EQ(sendShort(2, 0x90, 0x3C, 0x64), 0);
  EXPECT_EQ(sendDirect(2, 0xF8), 0);
  EXPECT_EQ(outPorts[2].lastStatus, 0xF8);
  EXPECT_EQ(sendShort(2, 0x90, 0x3E, 0x64), 0);
  EXPECT_EQ(simSerialBytes(3), (Bytes{0x90, 0x3C, 0x64, 0xF8, 0x90, 0x3E, 0x64}));
}

namespace {

// Message i of thread t: mostly note-ons on channel t, every eighth a system
// exclusive message naming the thread and the number.
bool isLongMessage(int i) { return i % 8 == 7; }
Bytes threadMessage(int t, int i) {
  if (isLongMessage(i)) {
    return Bytes{0xF0, 0x7D, static_cast<uint8_t>(t), static_cast<uint8_t>(i >> 7 & 0x7F),
                 static_cast<uint8_t>(i & 0x7F), 0xF7};
  }
  return Bytes{static_cast<uint8_t>(0x90 | t), static_cast<uint8_t>(i & 0x7F), static_cast<uint8_t>(i >> 7 & 0x7F)};
}

// Splits a byte stream into whole messages (running status expanded); a byte
// that fits no message makes the result empty.
std::vector<Bytes> splitMessages(const Bytes& stream) {
  std::vector<Bytes> messages;
  int running = 0;
  for (size_t i = 0; i < stream.size();) {
    Bytes m;
    if (stream[i] == 0xF0) {
      while (i < stream.size() && (m.empty() || m.back() != 0xF7)) m.push_back(stream[i++]);
      running = 0;
    } else {
      int status = stream[i] & 0x80 ? stream[i++] : running;
      if (!(status >= 0x80 && status <= 0xEF) || i + 2 > stream.size()) return {};
      running = status;
      m = {static_cast<uint8_t>(status), stream[i], stream[i + 1]};
      i += 2;
    }
    messages.push_back(m);
  }
  return messages;
}

void sendFromTwoThreads(int output, int perThread) {
  auto run = [output, perThread](int t) {
    for (int i = 0; i < perThread; i++) {
      Bytes m = threadMessage(t, i);
      if (isLongMessage(i)) {
        sendLong(output, m[0], m.data() + 1, static_cast<int>(m.size()) - 1);
      } else {
        sendShort(output, m[0], m[1], m[2]);
      }
    }
  };
  std::thread first(run, 0);
  std::thread second(run, 1);
  first.join();
  second.join();
}

void expectWholeInThreadOrder(const Bytes& stream, int perThread) {
  std::vector<Bytes> messages = splitMessages(stream);
  ASSERT_EQ(messages.size(), static_cast<size_t>(2 * perThread));
  int next[2] = {0, 0};
  for (const Bytes& m : messages) {
    int t = m[0] == 0xF0 ? m[2] : m[0] & 0x0F;
    ASSERT_TRUE(t == 0 || t == 1);
    ASSERT_EQ(m, threadMessage(t, next[t])) << "thread " << t << " message " << next[t];
    next[t]++;
  }
}

}  // namespace

TEST_F(Senders, TwoThreadsOnTheMapperOrASerialPortEachMessageWholeAndInOrder) {
  const int perThread = 20000;
  sendFromTwoThreads(0, perThread);
  expectWholeInThreadOrder(simMidiOutBytes(kMidiMapper), perThread);
  sendFromTwoThreads(2, perThread);
  expectWholeInThreadOrder(simSerialBytes(3), perThread);
}
