// The sim's MIDI and serial machine: device lists and scripted failures, long
// messages the device holds, input buffers and the callback's notifications,
// delivery from another thread, serial faults, and the reset to an empty machine
// (simReset, which empties the MIDI machine too).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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

std::vector<std::string> callsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& c : simMidiCalls()) {
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  }
  return out;
}

}  // namespace

class SimMidi : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    notifications.clear();
  }
  // A fresh header over a buffer of the given length.
  MidiHeader header(uint8_t* buffer, uint32_t length) { return MidiHeader{buffer, length, 0, 0}; }
};

TEST_F(SimMidi, DeviceListsAndFailingQueries) {
  EXPECT_EQ(osMidiInCount(), 0);
  EXPECT_EQ(osMidiOutCount(), 0);
  MidiDeviceCaps caps;
  EXPECT_EQ(osMidiOutCaps(kMidiMapper, &caps), OS_MIDI_BADDEVICEID) << "no mapper without an output device";

  simAddMidiIn("USB Keyboard", OS_MM_YAMAHA, 0x0203);
  simAddMidiIn("A device name that is longer than thirty-one bytes");
  simAddMidiOut("Software Synth");
  simAddMidiOut("MIDI Interface", OS_MM_ROLAND, 0x0105);
  simFailMidiOutCaps(0, OS_MIDI_NODRIVER);
  EXPECT_EQ(osMidiInCount(), 2);
  EXPECT_EQ(osMidiOutCount(), 2);

  ASSERT_EQ(osMidiInCaps(0, &caps), OS_MIDI_OK);
  EXPECT_STREQ(caps.name, "USB Keyboard");
  EXPECT_EQ(caps.manufacturer, OS_MM_YAMAHA);
  EXPECT_EQ(caps.driverVersion, 0x0203u);
  ASSERT_EQ(osMidiInCaps(1, &caps), OS_MIDI_OK);
  EXPECT_EQ(std::string(caps.name), std::string("A device name that is longer than thirty-one bytes").substr(0, 31));

  EXPECT_EQ(osMidiOutCaps(0, &caps), OS_MIDI_NODRIVER);
  ASSERT_EQ(osMidiOutCaps(1, &caps), OS_MIDI_OK);
  EXPECT_STREQ(caps.name, "MIDI Interface");
  EXPECT_EQ(caps.manufacturer, OS_MM_ROLAND);
  EXPECT_EQ(caps.driverVersion, 0x0105u);
  EXPECT_EQ(osMidiOutCaps(kMidiMapper, &caps), OS_MIDI_OK);

  EXPECT_EQ(osMidiInCaps(2, &caps), OS_MIDI_BADDEVICEID);
  EXPECT_EQ(osMidiInCaps(-1, &caps), OS_MIDI_BADDEVICEID) << "inputs have no mapper";
  EXPECT_EQ(osMidiOutCaps(2, &caps), OS_MIDI_BADDEVICEID);
}

TEST_F(SimMidi, OpenFailuresAndHandles) {
  MidiHandle h = 0;
  EXPECT_EQ(osMidiOutOpen(&h, kMidiMapper), OS_MIDI_BADDEVICEID) << "mapper without output devices";
  simAddMidiIn("Keys");
  simAddMidiOut("Synth");
  simAddMidiOut("Busy Synth");
  simFailMidiOutOpen(1, OS_MIDI_ALLOCATED);

  MidiHandle mapper = 0, synth = 0, again = 0, in = 0, in2 = 0;
  ASSERT_EQ(osMidiOutOpen(&mapper, kMidiMapper), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&synth, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&again, 0), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutOpen(&h, 1), OS_MIDI_ALLOCATED);
  EXPECT_EQ(osMidiOutOpen(&h, 2), OS_MIDI_BADDEVICEID);
  ASSERT_EQ(osMidiInOpen(&in, 0, recordingCallback, 0x1231), OS_MIDI_OK);
  EXPECT_EQ(osMidiInOpen(&in2, 0, recordingCallback, 0x1231), OS_MIDI_ALLOCATED) << "an input opens once";
  EXPECT_EQ(osMidiInOpen(&in2, 1, recordingCallback, 0), OS_MIDI_BADDEVICEID);

  std::vector<MidiHandle> handles = {mapper, synth, again, in};
  for (MidiHandle x : handles) EXPECT_NE(x, 0);
  std::sort(handles.begin(), handles.end());
  EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end()) << "every open gets its own handle";

  // Input and output handles do not stand in for each other.
  EXPECT_EQ(osMidiOutShort(in, 0x90), OS_MIDI_INVALHANDLE);
  EXPECT_EQ(osMidiInStart(synth), OS_MIDI_INVALHANDLE);

  EXPECT_EQ(osMidiInClose(in), OS_MIDI_OK);
  EXPECT_EQ(osMidiInClose(in), OS_MIDI_INVALHANDLE) << "a closed handle is gone";
  EXPECT_EQ(osMidiOutClose(synth), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(synth, 0x90), OS_MIDI_INVALHANDLE);
  EXPECT_EQ(osMidiOutShort(again, 0x90), OS_MIDI_OK) << "closing one handle leaves the other open";
  ASSERT_EQ(osMidiInOpen(&in2, 0, recordingCallback, 0), OS_MIDI_OK) << "reopens after close";

  simFailMidiInOpen(0, OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutClose(mapper), OS_MIDI_OK);
  EXPECT_EQ(callsStartingWith("midiOutOpen"),
            (std::vector<std::string>{"midiOutOpen -1", "midiOutOpen -1", "midiOutOpen 0", "midiOutOpen 0",
                                      "midiOutOpen 1", "midiOutOpen 2"}));
  EXPECT_EQ(callsStartingWith("midiOutClose"),
            (std::vector<std::string>{"midiOutClose 0", "midiOutClose -1"}));
  EXPECT_EQ(callsStartingWith("midiInClose"), (std::vector<std::string>{"midiInClose 0", "midiInClose ?"}));
}

TEST_F(SimMidi, SendsAreRecordedPerDevice) {
  simAddMidiOut("A");
  simAddMidiOut("B");
  MidiHandle mapper = 0, a = 0, b = 0;
  ASSERT_EQ(osMidiOutOpen(&mapper, kMidiMapper), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&a, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&b, 1), OS_MIDI_OK);

  EXPECT_EQ(osMidiOutShort(mapper, 0x643C90), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(mapper, 0x643E), OS_MIDI_OK);  // running status
  EXPECT_EQ(osMidiOutShort(b, 0x05C0), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(b, 0xF8), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(b, 0x004000E0), OS_MIDI_OK);

  uint8_t sysex[] = {0xF0, 0x43, 0x10, 0xF7};
  MidiHeader h{sysex, 4, 0, 0};
  ASSERT_EQ(osMidiOutPrepare(b, &h), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutLong(b, &h), OS_MIDI_OK);

  EXPECT_EQ(simMidiOutBytes(kMidiMapper), (std::vector<uint8_t>{0x90, 0x3C, 0x64, 0x3E, 0x64}));
  EXPECT_TRUE(simMidiOutBytes(0).empty());
  EXPECT_EQ(simMidiOutBytes(1),
            (std::vector<uint8_t>{0xC0, 0x05, 0xF8, 0xE0, 0x00, 0x40, 0xF0, 0x43, 0x10, 0xF7}));
  std::vector<SimMidiOutEvent> events = simMidiOutEvents(1);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_FALSE(events[1].isLong);
  EXPECT_EQ(events[1].word, 0xF8u);
  EXPECT_TRUE(events[3].isLong);

  // Scripted faults hit the next calls only and record nothing.
  simFailMidiOutShort(2, OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutShort(a, 0x90), OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutShort(b, 0x90), OS_MIDI_NOMEM);
  EXPECT_EQ(osMidiOutShort(a, 0x7F3C90), OS_MIDI_OK);
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);

  ASSERT_EQ(osMidiOutUnprepare(b, &h), OS_MIDI_OK);
  simFailMidiOutPrepare(1, OS_MIDI_INVALPARAM);
  EXPECT_EQ(osMidiOutPrepare(b, &h), OS_MIDI_INVALPARAM);
  EXPECT_EQ(h.flags & OS_MHDR_PREPARED, 0u) << "a failed prepare leaves the header unprepared";
  ASSERT_EQ(osMidiOutPrepare(b, &h), OS_MIDI_OK);
  simFailMidiOutLong(1, OS_MIDI_INVALPARAM);
  EXPECT_EQ(osMidiOutLong(b, &h), OS_MIDI_INVALPARAM);
  EXPECT_EQ(simMidiOutEvents(1).size(), 4u);
}

TEST_F(SimMidi, LongMessageHeldUntilFinished) {
  simAddMidiOut("Synth");
  MidiHandle out = 0;
  ASSERT_EQ(osMidiOutOpen(&out, 0), OS_MIDI_OK);
  uint8_t buffer[8] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  MidiHeader h{buffer, 6, 0, 0};

  EXPECT_EQ(osMidiOutLong(out, &h), OS_MIDI_UNPREPARED);
  ASSERT_EQ(osMidiOutPrepare(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags, static_cast<uint32_t>(OS_MHDR_PREPARED));

  simHoldLongMessages(true);
  h.bufferLength = 2;  // too late: the device took the length when the header was prepared
  ASSERT_EQ(osMidiOutLong(out, &h), OS_MIDI_OK);
  EXPECT_EQ(h.flags & OS_MHDR_DONE, 0u);
  EXPECT_EQ(osMidiOutUnprepare(out, &h), OS_MIDI_STILLPLAYING);
  EXPECT_EQ(osMidiOutUnprepare(out, &h), OS_MIDI_STILLPLAYING) << "still owned until the device finishes";
  EXPECT_EQ(osMidiOutLong(out, &h), OS_MIDI_STILLPLAYING) << "a header the device owns cannot be sent again";
  EXPECT_EQ(osMidiOutClose(out), OS_MIDI_STILLPLAYING) << "a playing device does not close";
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);

  simFinishLongMessages();
  EXPECT_EQ(h.flags & (OS_MHDR_DONE | OS_MHDR_INQUEUE), static_cast<uint32_t>(OS_MHDR_DONE));
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
  EXPECT_EQ(simMidiOutBytes(0), (std::vector<uint8_t>{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF8}));
}

TEST_F(SimMidi, InputBuffersQueuedReturnedAndReset) {
  simAddMidiIn("Keys");
  MidiHandle in = 0;
  ASSERT_EQ(osMidiInOpen(&in, 0, recordingCallback, 0x1231), OS_MIDI_OK);
  ASSERT_EQ(notifications.size(), 1u);
  EXPECT_EQ(notifications[0].message, static_cast<unsigned>(OS_MIM_OPEN));
  EXPECT_EQ(notifications[0].handle, in);
  EXPECT_EQ(notifications[0].instance, 0x1231u);

  uint8_t first[16], second[16];
  MidiHeader h1 = header(first, 16), h2 = header(second, 16);
  EXPECT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_UNPREPARED);
  ASSERT_EQ(osMidiInPrepare(in, &h1), OS_MIDI_OK);
  ASSERT_EQ(osMidiInPrepare(in, &h2), OS_MIDI_OK);
  ASSERT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_OK);
  EXPECT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_STILLPLAYING) << "a queued buffer is not queued twice";
  ASSERT_EQ(osMidiInAddBuffer(in, &h2), OS_MIDI_OK);
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
  EXPECT_EQ(osMidiInUnprepare(in, &h1), OS_MIDI_STILLPLAYING);

  // Nothing flows before the start.
  const uint8_t sysex[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  simMidiInShort(0, 0x643C90, 5);
  EXPECT_FALSE(simMidiInLong(0, sysex, 9, 6));
  EXPECT_EQ(notifications.size(), 1u);
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);

  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);
  simMidiInShort(0, 0x643C90, 1234);
  EXPECT_TRUE(simMidiInLong(0, sysex, 9, 1300));
  ASSERT_EQ(notifications.size(), 3u);
  EXPECT_EQ(notifications[1].message, static_cast<unsigned>(OS_MIM_DATA));
  EXPECT_EQ(notifications[1].param1, 0x643C90u);
  EXPECT_EQ(notifications[1].param2, 1234u);
  EXPECT_EQ(notifications[2].message, static_cast<unsigned>(OS_MIM_LONGDATA));
  EXPECT_EQ(notifications[2].param1, reinterpret_cast<uintptr_t>(&h1)) << "the oldest buffer fills first";
  EXPECT_EQ(notifications[2].param2, 1300u);
  EXPECT_EQ(h1.bytesRecorded, 9u);
  EXPECT_EQ(std::memcmp(first, sysex, 9), 0);
  EXPECT_EQ(h1.flags, static_cast<uint32_t>(OS_MHDR_PREPARED | OS_MHDR_DONE));
  EXPECT_EQ(simMidiInQueuedBuffers(0), 1);

  EXPECT_EQ(osMidiInClose(in), OS_MIDI_STILLPLAYING) << "a queued buffer keeps the input open";
  ASSERT_EQ(osMidiInReset(in), OS_MIDI_OK);
  ASSERT_EQ(notifications.size(), 4u);
  EXPECT_EQ(notifications[3].message, static_cast<unsigned>(OS_MIM_LONGDATA));
  EXPECT_EQ(notifications[3].param1, reinterpret_cast<uintptr_t>(&h2));
  EXPECT_EQ(h2.bytesRecorded, 0u);
  EXPECT_EQ(h2.flags, static_cast<uint32_t>(OS_MHDR_PREPARED | OS_MHDR_DONE));
  EXPECT_EQ(simMidiInQueuedBuffers(0), 0);

  // Reset stops the input.
  simMidiInShort(0, 0x643C90, 1400);
  EXPECT_EQ(notifications.size(), 4u);

  EXPECT_EQ(osMidiInUnprepare(in, &h1), OS_MIDI_OK);
  EXPECT_EQ(osMidiInUnprepare(in, &h2), OS_MIDI_OK);
  EXPECT_EQ(h2.flags & OS_MHDR_PREPARED, 0u);
  ASSERT_EQ(osMidiInClose(in), OS_MIDI_OK);
  ASSERT_EQ(notifications.size(), 5u);
  EXPECT_EQ(notifications[4].message, static_cast<unsigned>(OS_MIM_CLOSE));
  EXPECT_EQ(notifications[4].handle, in);
  EXPECT_FALSE(simMidiInIsOpen(0));
  EXPECT_EQ(callsStartingWith("midiIn"),
            (std::vector<std::string>{"midiInOpen 0", "midiInAddBuffer 0", "midiInPrepare 0", "midiInPrepare 0",
                                      "midiInAddBuffer 0", "midiInAddBuffer 0", "midiInAddBuffer 0",
                                      "midiInUnprepare 0", "midiInStart 0", "midiInClose 0", "midiInReset 0",
                                      "midiInUnprepare 0", "midiInUnprepare 0", "midiInClose 0"}));
}

TEST_F(SimMidi, LongInputBeyondTheBufferAndErrors) {
  simAddMidiIn("Keys");
  MidiHandle in = 0;
  ASSERT_EQ(osMidiInOpen(&in, 0, recordingCallback, 0), OS_MIDI_OK);
  uint8_t small[4], large[8];
  MidiHeader h1 = header(small, 4), h2 = header(large, 8);
  ASSERT_EQ(osMidiInPrepare(in, &h1), OS_MIDI_OK);
  ASSERT_EQ(osMidiInPrepare(in, &h2), OS_MIDI_OK);
  ASSERT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_OK);
  ASSERT_EQ(osMidiInAddBuffer(in, &h2), OS_MIDI_OK);
  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);

  // Ten bytes: the first buffer returns full, the rest goes to the next one.
  const uint8_t sysex[] = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7};
  EXPECT_TRUE(simMidiInLong(0, sysex, 10, 50));
  EXPECT_EQ(h1.bytesRecorded, 4u);
  EXPECT_EQ(h2.bytesRecorded, 6u);
  EXPECT_EQ(std::memcmp(small, sysex, 4), 0);
  EXPECT_EQ(std::memcmp(large, sysex + 4, 6), 0);

  // With one buffer of four left, the part beyond it is lost.
  ASSERT_EQ(osMidiInAddBuffer(in, &h1), OS_MIDI_OK);
  EXPECT_FALSE(simMidiInLong(0, sysex, 10, 60));
  EXPECT_EQ(h1.bytesRecorded, 4u);
  EXPECT_FALSE(simMidiInLong(0, sysex, 3, 70)) << "no buffer queued: the message is lost";

  ASSERT_EQ(osMidiInAddBuffer(in, &h2), OS_MIDI_OK);
  simMidiInError(0, 0x0000F4, 80);
  EXPECT_TRUE(simMidiInLongError(0, sysex, 3, 90));
  EXPECT_EQ(h2.bytesRecorded, 3u);
  EXPECT_NE(h2.flags & OS_MHDR_DONE, 0u);

  std::vector<unsigned> messages;
  for (const Notification& n : notifications) messages.push_back(n.message);
  EXPECT_EQ(messages, (std::vector<unsigned>{OS_MIM_OPEN, OS_MIM_LONGDATA, OS_MIM_LONGDATA, OS_MIM_LONGDATA,
                                             OS_MIM_ERROR, OS_MIM_LONGERROR}));
  EXPECT_EQ(notifications[4].param1, 0xF4u);
  EXPECT_EQ(notifications[4].param2, 80u);
  EXPECT_EQ(notifications[5].param1, reinterpret_cast<uintptr_t>(&h2));
}

namespace {

MidiHandle echoOutput = 0;  // where echoCallback sends what it receives

// Sends every short message on through the sim, as the engine does from the
// callback: the sim must not hold its lock while a callback runs.
void echoCallback(MidiHandle, unsigned message, uintptr_t, uintptr_t param1, uintptr_t) {
  if (message == OS_MIM_DATA) osMidiOutShort(echoOutput, static_cast<uint32_t>(param1));
}

std::atomic<bool> callbackEntered{false};    // blockingCallback is running
std::atomic<bool> releaseCallback{false};    // lets blockingCallback return
std::atomic<bool> inputClosed{false};        // osMidiInClose has returned
std::atomic<int> callbacksAfterClose{0};     // callbacks still running once it had

void blockingCallback(MidiHandle, unsigned message, uintptr_t, uintptr_t, uintptr_t) {
  if (message != OS_MIM_DATA) return;
  callbackEntered = true;
  while (!releaseCallback) std::this_thread::yield();
  if (inputClosed) callbacksAfterClose++;
}

}  // namespace

TEST_F(SimMidi, DeliveryOnAnotherThreadWhileSending) {
  simAddMidiIn("Keys");
  simAddMidiOut("Synth");
  ASSERT_EQ(osMidiOutOpen(&echoOutput, 0), OS_MIDI_OK);
  MidiHandle in = 0;
  ASSERT_EQ(osMidiInOpen(&in, 0, echoCallback, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);

  const int kEach = 2000;
  std::thread input([] {
    for (int i = 0; i < kEach; i++) simMidiInShort(0, 0x403C90, static_cast<uint32_t>(i));
  });
  for (int i = 0; i < kEach; i++) ASSERT_EQ(osMidiOutShort(echoOutput, 0x00C0), OS_MIDI_OK);
  input.join();

  std::vector<SimMidiOutEvent> events = simMidiOutEvents(0);
  ASSERT_EQ(events.size(), static_cast<size_t>(2 * kEach));
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const SimMidiOutEvent& e) { return e.word == 0x403C90; }),
            kEach);
  EXPECT_EQ(osMidiInReset(in), OS_MIDI_OK);
  EXPECT_EQ(osMidiInClose(in), OS_MIDI_OK);
}

TEST_F(SimMidi, CloseWaitsForACallbackInProgress) {
  simAddMidiIn("Keys");
  MidiHandle in = 0;
  ASSERT_EQ(osMidiInOpen(&in, 0, blockingCallback, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiInStart(in), OS_MIDI_OK);
  callbackEntered = false;
  releaseCallback = false;
  inputClosed = false;
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

TEST_F(SimMidi, SerialPorts) {
  SerialHandle h = 0, other = 0;
  EXPECT_EQ(osSerialOpen("COM3", &h), 2) << "a port that was not added";
  simAddSerialPort(3);
  simAddSerialPort(4);
  simAddSerialPort(10);
  simSetSerialBusy(4, true);

  ASSERT_EQ(osSerialOpen("COM3", &h), 0);
  EXPECT_NE(h, 0);
  EXPECT_TRUE(simSerialIsOpen(3));
  EXPECT_EQ(osSerialOpen("COM3", &other), 5) << "no sharing, not even with ourselves";
  EXPECT_EQ(osSerialOpen("COM4", &other), 5);
  EXPECT_EQ(osSerialOpen("COM10", &other), 2) << "COM10 and above need the device-namespace prefix";
  ASSERT_EQ(osSerialOpen("\\\\.\\COM10", &other), 0);

  int step = -1;
  EXPECT_EQ(osSerialConfigure(h, &step), 0);
  EXPECT_EQ(step, 0);
  simFailSerialConfigure(10, 2, 87);
  EXPECT_EQ(osSerialConfigure(other, &step), 87);
  EXPECT_EQ(step, 2);
  simFailSerialConfigure(10, 1, 31);
  EXPECT_EQ(osSerialConfigure(other, &step), 31);
  EXPECT_EQ(step, 1);

  const uint8_t noteOn[] = {0x90, 0x3C, 0x64, 0x3E};
  EXPECT_EQ(osSerialWrite(h, noteOn, 3), 3);
  simFailSerialWrites(3, 1);
  EXPECT_EQ(osSerialWrite(h, noteOn, 3), -1);
  EXPECT_NE(osSerialLastError(), 0);
  simPartialSerialWrites(3, 1);
  EXPECT_EQ(osSerialWrite(h, noteOn, 4), 2) << "a partial write reports what went";
  EXPECT_EQ(osSerialWrite(h, noteOn + 3, 1), 1);
  EXPECT_EQ(simSerialBytes(3), (std::vector<uint8_t>{0x90, 0x3C, 0x64, 0x90, 0x3C, 0x3E}));
  EXPECT_TRUE(simSerialBytes(10).empty());

  osSerialClose(h);
  EXPECT_FALSE(simSerialIsOpen(3));
  EXPECT_EQ(osSerialWrite(h, noteOn, 1), -1) << "a closed channel takes nothing";
  ASSERT_EQ(osSerialOpen("COM3", &h), 0) << "free again after close";
  osSerialClose(h);
  osSerialClose(other);
  EXPECT_EQ(callsStartingWith("serialOpen"),
            (std::vector<std::string>{"serialOpen COM3", "serialOpen COM3", "serialOpen COM3", "serialOpen COM4",
                                      "serialOpen COM10", "serialOpen \\\\.\\COM10", "serialOpen COM3"}));
  EXPECT_EQ(callsStartingWith("serialClose"),
            (std::vector<std::string>{"serialClose COM3", "serialClose COM3", "serialClose COM10"}));
}

TEST_F(SimMidi, ResetGivesAnEmptyMachine) {
  simReset();  // nothing open: harmless
  simAddMidiIn("Keys");
  simAddMidiOut("Synth");
  simAddSerialPort(1);
  MidiHandle in = 0, out = 0;
  SerialHandle com = 0;
  ASSERT_EQ(osMidiInOpen(&in, 0, recordingCallback, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&out, 0), OS_MIDI_OK);
  ASSERT_EQ(osSerialOpen("COM1", &com), 0);
  uint8_t buffer[4] = {0xF0, 0x01, 0xF7};
  MidiHeader h{buffer, 3, 0, 0};
  ASSERT_EQ(osMidiOutPrepare(out, &h), OS_MIDI_OK);
  simHoldLongMessages(true);
  h.bufferLength = 2;  // too late: the device took the length when the header was prepared
  ASSERT_EQ(osMidiOutLong(out, &h), OS_MIDI_OK);
  simFailMidiOutShort(5, OS_MIDI_NOMEM);

  simReset();
  EXPECT_EQ(h.flags & OS_MHDR_DONE, 0u) << "the reset touches no header of the old machine";
  EXPECT_TRUE(simMidiCalls().empty());
  EXPECT_EQ(osMidiInCount(), 0);
  EXPECT_EQ(osMidiOutCount(), 0);
  EXPECT_FALSE(simSerialIsOpen(1));
  EXPECT_EQ(osSerialOpen("COM1", &com), 2);
  EXPECT_EQ(osMidiOutShort(out, 0x90), OS_MIDI_INVALHANDLE);

  // The new machine opens afresh, sends go through and long messages are not held.
  simAddMidiIn("Keys");
  simAddMidiOut("Synth");
  ASSERT_EQ(osMidiInOpen(&in, 0, recordingCallback, 0), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutOpen(&out, 0), OS_MIDI_OK);
  EXPECT_EQ(osMidiOutShort(out, 0x90), OS_MIDI_OK);
  MidiHeader fresh{buffer, 3, 0, 0};
  ASSERT_EQ(osMidiOutPrepare(out, &fresh), OS_MIDI_OK);
  ASSERT_EQ(osMidiOutLong(out, &fresh), OS_MIDI_OK);
  EXPECT_NE(fresh.flags & OS_MHDR_DONE, 0u);
}
