// The sim's MIDI and serial machine where the product tests rely on it and
// exercise it too little to catch its faults: unrecorded sends and the reset,
// long messages the device holds and their header flags, input buffers and the
// callback's notifications, a close that waits for a callback, serial answers.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "midi/os_midi.h"
#include "sim_fixture.h"

namespace {

struct Notification {
  MidiHandle handle;   // notifying input
  unsigned message;    // OS_MIM_...
  uintptr_t instance;  // instance value given at open
  uintptr_t param1;    // message word or header address
  uintptr_t param2;    // time stamp
};

std::vector<Notification> notifications;  // written by recordingCallback on the test's thread

void recordingCallback(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2) {
  notifications.push_back({handle, message, instance, param1, param2});
}

// The notifications as (message, param1), in order.
using Notices = std::vector<std::pair<unsigned, uintptr_t>>;
Notices notices() {
  Notices out;
  for (const Notification& n : notifications) out.emplace_back(n.message, n.param1);
  return out;
}

uintptr_t address(const MidiHeader& h) { return reinterpret_cast<uintptr_t>(&h); }
constexpr uint32_t kPreparedDone = OS_MHDR_PREPARED | OS_MHDR_DONE;
using Bytes = std::vector<uint8_t>;

class SimMidi : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    notifications.clear();
  }
  static MidiHandle openOut(int index) {
    MidiHandle h = 0;
    EXPECT_EQ(osMidiOutOpen(&h, index), OS_MIDI_OK) << index;
    return h;
  }
  static MidiHandle openIn(int index, MidiInCallback callback = recordingCallback, uintptr_t instance = 0) {
    MidiHandle h = 0;
    EXPECT_EQ(osMidiInOpen(&h, index, callback, instance), OS_MIDI_OK) << index;
    return h;
  }
  // Prepares and queues the headers on an input, in turn.
  static void queue(MidiHandle in, std::initializer_list<MidiHeader*> headers) {
    for (MidiHeader* h : headers) {
      ASSERT_EQ(osMidiInPrepare(in, h), OS_MIDI_OK);
      ASSERT_EQ(osMidiInAddBuffer(in, h), OS_MIDI_OK);
    }
  }
};

// With recording off the sim answers short sends without its lock: the handle
// check, the scripted faults and a reset must still hold on that way.
TEST_F(SimMidi, UnrecordedSendsStillCheckHandlesAndFaults) {
  simAddMidiOut("A");
  const MidiHandle first = openOut(0);
  simRecordMidiOutput(false);
  EXPECT_EQ(osMidiOutShort(first, 0x643C90), OS_MIDI_OK);
  simFailMidiOutShort(1, OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutShort(first, 0x643C90), OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutShort(first, 0x643C90), OS_MIDI_OK);

  // Later handles that share the first one's place: each answers for itself.
  std::vector<MidiHandle> later;
  for (int i = 0; i < 80; i++) later.push_back(openOut(0));
  for (MidiHandle h : later) ASSERT_EQ(osMidiOutClose(h), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(first, 0x643C90), OS_MIDI_OK);
  for (MidiHandle h : later) ASSERT_EQ(osMidiOutShort(h, 0x643C90), OS_MIDI_INVALHANDLE);
  ASSERT_EQ(osMidiOutClose(first), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(first, 0x643C90), OS_MIDI_INVALHANDLE);

  // A new machine gives out the same handle values: an old one is not open there.
  const MidiHandle old = openOut(0);
  simReset();
  simAddMidiOut("A");
  simRecordMidiOutput(false);
  EXPECT_EQ(osMidiOutShort(old, 0x643C90), OS_MIDI_INVALHANDLE);
  const MidiHandle fresh = openOut(0);
  EXPECT_EQ(osMidiOutShort(fresh, 0x643C90), OS_MIDI_OK);
  simRecordMidiOutput(true);
  EXPECT_EQ(osMidiOutShort(fresh, 0x643E90), OS_MIDI_OK);
  EXPECT_EQ(simMidiOutBytes(0), (Bytes{0x90, 0x3E, 0x64})) << "recording again from the switch on";
}

TEST_F(SimMidi, LongMessageHeldUntilFinished) {
  simAddMidiOut("Synth");
  const MidiHandle out = openOut(0);
  uint8_t buffer[8] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  MidiHeader h{buffer, 6, 0, 0};
  EXPECT_EQ(osMidiOutLong(out, &h), OS_MIDI_UNPREPARED);
  ASSERT_EQ(osMidiOutPrepare(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags, uint32_t{OS_MHDR_PREPARED});

  simHoldLongMessages(true);
  h.bufferLength = 2;  // too late: the device took the length when the header was prepared
  ASSERT_EQ(osMidiOutLong(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags & OS_MHDR_DONE, 0u);
  EXPECT_EQ(osMidiOutLong(out, &h), OS_MIDI_STILLPLAYING) << "a header the device owns cannot be sent again";
  EXPECT_EQ(osMidiOutClose(out), OS_MIDI_STILLPLAYING) << "a playing device does not close";
  simFinishLongMessages();
  EXPECT_EQ(h.flags & (OS_MHDR_DONE | OS_MHDR_INQUEUE), uint32_t{OS_MHDR_DONE});
  EXPECT_EQ(osMidiOutUnprepare(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags & OS_MHDR_PREPARED, 0u);
  EXPECT_EQ(osMidiOutUnprepare(out, &h), OS_MIDI_OK) << "unpreparing an unprepared header changes nothing";

  // Not held: done at once, and the next message may reuse the header.
  simHoldLongMessages(false);
  buffer[0] = 0xF8;
  h.bufferLength = 1;
  ASSERT_EQ(osMidiOutPrepare(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags & OS_MHDR_DONE, 0u) << "preparing clears the done bit of the previous message";
  ASSERT_EQ(osMidiOutLong(out, &h), OS_MIDI_OK);
  EXPECT_NE(h.flags & OS_MHDR_DONE, 0u);
  EXPECT_EQ(osMidiOutUnprepare(out, &h), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutClose(out), OS_MIDI_OK);
  EXPECT_EQ(simMidiOutBytes(0), (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF8}));
}

TEST_F(SimMidi, InputBuffersQueuedReturnedAndReset) {
  simAddMidiIn("Keys");
  const MidiHandle in = openIn(0, recordingCallback, 0x1231);
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0].handle, in) << "the open notice names the handle before the caller has it";
  EXPECT_EQ(notifications[0].instance, 0x1231u);
  uint8_t first[16], second[16];
  MidiHeader h1{first, 16, 0, 0}, h2{second, 16, 0, 0};
  EXPECT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_UNPREPARED);
  queue(in, {&h1});
  EXPECT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_STILLPLAYING) << "a queued buffer is not queued twice";
  queue(in, {&h2});
  EXPECT_EQ(osMidiInUnprepare(in, &h1), OS_MIDI_STILLPLAYING);

  const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  simMidiInShort(0, 0x643C90, 5);
  EXPECT_FALSE(simMidiInLong(0, sysex, 9, 6));
  EXPECT_EQ(notices(), (Notices{{OS_MIM_OPEN, 0}})) << "nothing flows before the start";
  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);
  simMidiInShort(0, 0x643C90, 1234);
  EXPECT_TRUE(simMidiInLong(0, sysex, 9, 1300));
  EXPECT_EQ(Bytes(first, first + h1.bytesRecorded), Bytes(sysex, sysex + 9)) << "the oldest buffer fills first";
  EXPECT_EQ(h1.flags, kPreparedDone);
  EXPECT_EQ(simMidiInQueuedBuffers(0), 1);
  EXPECT_EQ(osMidiInClose(in), OS_MIDI_STILLPLAYING) << "a queued buffer keeps the input open";
  ASSERT_EQ(osMidiInReset(in), OS_MIDI_OK);  // (that it returns the buffers, the input callback tests see)
  simMidiInShort(0, 0x643C90, 1400);  // reset stops the input
  EXPECT_EQ(osMidiInUnprepare(in, &h1), OS_MIDI_OK);
  EXPECT_EQ(osMidiInUnprepare(in, &h2), OS_MIDI_OK);
  EXPECT_EQ(h2.flags & OS_MHDR_PREPARED, 0u);
  ASSERT_EQ(osMidiInClose(in), OS_MIDI_OK);
  EXPECT_EQ(notices(), (Notices{{OS_MIM_OPEN, 0}, {OS_MIM_DATA, 0x643C90}, {OS_MIM_LONGDATA, address(h1)},
                                {OS_MIM_LONGDATA, address(h2)}, {OS_MIM_CLOSE, 0}}));
  EXPECT_EQ(std::make_pair(notifications[1].param2, notifications[2].param2), (std::pair<uintptr_t, uintptr_t>(1234, 1300)));
  EXPECT_EQ(notifications[4].handle, in);
  EXPECT_FALSE(simMidiInIsOpen(0));
}

std::atomic<bool> callbackEntered{false};  // blockingCallback is running
std::atomic<bool> releaseCallback{false};  // lets blockingCallback return
std::atomic<bool> inputClosed{false};      // osMidiInClose has returned
std::atomic<int> callbacksAfterClose{0};   // callbacks still running once it had

void blockingCallback(MidiHandle, unsigned message, uintptr_t, uintptr_t, uintptr_t) {
  if (message != OS_MIM_DATA) return;
  callbackEntered = true;
  while (!releaseCallback) std::this_thread::yield();
  if (inputClosed) callbacksAfterClose++;
}

TEST_F(SimMidi, CloseWaitsForACallbackInProgress) {
  simAddMidiIn("Keys");
  const MidiHandle in = openIn(0, blockingCallback);
  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);
  callbackEntered = releaseCallback = inputClosed = false;
  callbacksAfterClose = 0;
  std::thread input([] { simMidiInShort(0, 0x403C90, 1); });
  while (!callbackEntered) std::this_thread::yield();
  std::thread closer([in] {
    osMidiInReset(in);
    osMidiInClose(in);
    inputClosed = true;
  });
  // A close that does not wait returns while the callback is still held here.
  for (int i = 0; i < 50 && !inputClosed; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  releaseCallback = true;
  input.join();
  closer.join();
  EXPECT_EQ(callbacksAfterClose, 0);
  EXPECT_FALSE(simMidiInIsOpen(0));
}

// What the serial output tests rely on: a port opens once (not even twice by
// us), COM10 and above only by the device-namespace name, and a closed handle
// takes nothing. (Partial writes and a port freed by its close, the serial
// output tests see.)
TEST_F(SimMidi, SerialPorts) {
  simAddSerialPort(3);
  simAddSerialPort(10);
  SerialHandle h = 0, other = 0;
  ASSERT_EQ(osSerialOpen("COM3", &h), 0);
  EXPECT_EQ(osSerialOpen("COM3", &other), 5);
  EXPECT_EQ(osSerialOpen("COM10", &other), 2);
  ASSERT_EQ(osSerialOpen("\\\\.\\COM10", &other), 0);
  EXPECT_NE(h, other);
  const uint8_t noteOn[] = {0x90, 0x3C, 0x64};
  EXPECT_EQ(osSerialWrite(h, noteOn, 3), 3);
  osSerialClose(h);
  EXPECT_EQ(osSerialWrite(h, noteOn, 1), -1);
  int step = 0;
  EXPECT_NE(osSerialConfigure(h, &step), 0);
  EXPECT_EQ(simSerialBytes(3), (Bytes{0x90, 0x3C, 0x64}));
  osSerialClose(other);
}

}  // namespace
