// The desktop MIDI backend against a real JACK server (dummy driver) that the
// tests start: other clients' ports as devices, short and system-exclusive
// input through the callback, output to a device and through the mapper port.
#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jack_server.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop_midi.h"

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
const auto kPatience = std::chrono::seconds(10);  // longest wait for a message
// An undefined real-time byte that the tests send until a new connection
// carries it: JACK makes a connection part of its graph at the start of a
// cycle, so what is sent at once after connecting may go nowhere. Markers are
// left out of everything the tests look at.
const uint8_t kMarker = 0xF9;

// What arrives somewhere, from JACK's threads: the items but the markers, and
// how many markers came.
template <typename Item>
struct Heard {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Item> items;
  int markers = 0;

  void add(Item item, bool marker) {
    std::lock_guard<std::mutex> guard(lock);
    if (marker) {
      markers++;
    } else {
      items.push_back(std::move(item));
    }
    changed.notify_all();
  }
  bool waitFor(size_t count) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, kPatience, [&] { return items.size() >= count; });
  }
  // Calls send until a marker arrives (at most 50 times, 200 ms apart).
  bool connected(const std::function<void()>& send) {
    for (int i = 0; i < 50; i++) {
      send();
      std::unique_lock<std::mutex> guard(lock);
      if (changed.wait_for(guard, milliseconds(200), [&] { return markers > 0; })) return true;
    }
    return false;
  }
  std::vector<Item> copy() {
    std::lock_guard<std::mutex> guard(lock);
    return items;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(lock);
    items.clear();
    markers = 0;
  }
};

// One notification of our input callback, with what the header held then.
struct Notice {
  MidiHandle handle;
  unsigned message;
  uintptr_t instance;
  uintptr_t param1;
  uintptr_t param2;
  Bytes bytes;     // bytes recorded in the header (long data, long error)
  uint32_t flags;  // header flags (long data, long error)
};
using InRecord = Heard<Notice>;
using Sink = Heard<Bytes>;  // messages that arrive at one of the test's own JACK ports
using Kinds = std::vector<std::pair<unsigned, uintptr_t>>;  // message and param1 of each notice

uintptr_t at(const MidiHeader& h) { return reinterpret_cast<uintptr_t>(&h); }
Kinds kinds(const std::vector<Notice>& notices) {
  Kinds out;
  for (const Notice& n : notices) out.emplace_back(n.message, n.param1);
  return out;
}

// The notifications so far, one a line, for failure messages.
std::string text(InRecord& record) {
  std::string out;
  char line[64];
  for (const Notice& n : record.copy()) {
    std::snprintf(line, sizeof line, "%X %lX %lu bytes\n", n.message, static_cast<unsigned long>(n.param1),
                  static_cast<unsigned long>(n.bytes.size()));
    out += line;
  }
  return out;
}

void recordIn(MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2) {
  Notice n{handle, message, instance, param1, param2, {}, 0};
  if (message == OS_MIM_LONGDATA || message == OS_MIM_LONGERROR) {
    const MidiHeader* h = reinterpret_cast<const MidiHeader*>(param1);
    n.bytes.assign(h->data, h->data + h->bytesRecorded);
    n.flags = h->flags;
  }
  reinterpret_cast<InRecord*>(instance)->add(n, message == OS_MIM_DATA && param1 == kMarker);
}

void recordSink(double, std::vector<unsigned char>* message, void* data) {
  static_cast<Sink*>(data)->add(Bytes(message->begin(), message->end()),
                                message->size() == 1 && (*message)[0] == kMarker);
}

// Sends markers through an output of ours until the sink hears one.
bool outputConnected(MidiHandle handle, Sink* sink) {
  return sink->connected([handle] { osMidiOutShort(handle, kMarker); });
}

std::unique_ptr<RtMidiIn> newSinkPort(Sink* sink, const char* client) {
  auto in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, client);
  in->ignoreTypes(false, false, false);
  in->setCallback(recordSink, sink);
  return in;
}

// The device names by index ("" where the query fails), and the index of one.
std::vector<std::string> deviceNames(bool input) {
  std::vector<std::string> names;
  const int count = input ? osMidiInCount() : osMidiOutCount();
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps;
    const bool ok = (input ? osMidiInCaps(i, &caps) : osMidiOutCaps(i, &caps)) == OS_MIDI_OK;
    names.push_back(ok ? caps.name : "");
  }
  return names;
}
int findDevice(bool input, const char* name) {
  const std::vector<std::string> names = deviceNames(input);
  for (size_t i = 0; i < names.size(); i++) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool startServer(JackServer* server, const char* tag, std::string* why) {
  if (!jackdInstalled()) {
    *why = "jackd is not installed";
    return false;
  }
  if (jackServerStart(server, tag, why)) return true;
  // On CI the server must run: a server that cannot start is a failure there.
  if (std::getenv("CI")) ADD_FAILURE() << *why;
  return false;
}

// Waits (bounded) until the backend sees the given MIDI system.
bool systemBecomes(DesktopMidiSystem wanted) {
  for (int i = 0; i < 100; i++) {
    if (desktopMidiSystem() == wanted) return true;
    usleep(100 * 1000);
  }
  return false;
}

bool alsaPresent() { return access("/dev/snd/seq", F_OK) == 0; }

// A long message in buffer through the header (prepared), as the senders send it.
int sendLong(MidiHandle handle, MidiHeader* header, const Bytes& bytes) {
  std::memcpy(header->data, bytes.data(), bytes.size());
  header->bufferLength = static_cast<uint32_t>(bytes.size());
  return osMidiOutLong(handle, header);
}

// ---- With a JACK server and two ports of another client: a source ("keys")
// the backend reads from and a sink ("synth") it writes to.

class DesktopMidiJack : public ::testing::Test {
 protected:
  struct Rig {
    JackServer server{};
    std::string skipWhy;
    std::unique_ptr<RtMidiOut> source;  // "nltest:keys"
    Sink sink;                          // what "nlsink:synth" hears
    std::unique_ptr<RtMidiIn> synth;
  };
  static void SetUpTestSuite() {
    rig = new Rig;
    if (!startServer(&rig->server, "midi", &rig->skipWhy)) return;
    rig->source = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "nltest");
    rig->source->openVirtualPort("keys");
    rig->synth = newSinkPort(&rig->sink, "nlsink");
    rig->synth->openVirtualPort("synth");
  }
  static void TearDownTestSuite() {
    // Every client goes before the server: none is left attached to it.
    desktopMidiRelease();
    rig->synth.reset();
    if (rig->source) {
      // RtMidi 5.0 frees a JACK output's ring buffer before it closes the
      // client: the port goes first, and a few cycles pass before the rest.
      rig->source->closePort();
      usleep(200 * 1000);
    }
    rig->source.reset();
    jackServerStop(&rig->server);
    delete rig;
  }
  void SetUp() override {
    if (rig->server.pid == 0) GTEST_SKIP() << rig->skipWhy;
    sink->clear();
  }
  static void send(const Bytes& bytes) { rig->source->sendMessage(bytes.data(), bytes.size()); }

  // Opens the input on "nltest:keys" with the recorder, started, with the
  // given headers prepared and queued.
  MidiHandle openKeys(InRecord* record, std::vector<MidiHeader*> headers) {
    const int index = findDevice(true, "nltest:keys");
    EXPECT_GE(index, 0);
    MidiHandle handle = 0;
    EXPECT_EQ(OS_MIDI_OK, osMidiInOpen(&handle, index, recordIn, reinterpret_cast<uintptr_t>(record)));
    for (MidiHeader* h : headers) {
      EXPECT_EQ(OS_MIDI_OK, osMidiInPrepare(handle, h));
      EXPECT_EQ(OS_MIDI_OK, osMidiInAddBuffer(handle, h));
    }
    EXPECT_EQ(OS_MIDI_OK, osMidiInStart(handle));
    EXPECT_TRUE(record->connected([] { send({kMarker}); })) << "the input receives nothing";
    return handle;
  }
  // Opens the device "nlsink:synth" and waits until what it sends arrives.
  MidiHandle openSynth() {
    MidiHandle handle = 0;
    EXPECT_EQ(OS_MIDI_OK, osMidiOutOpen(&handle, findDevice(false, "nlsink:synth")));
    EXPECT_TRUE(outputConnected(handle, sink));
    return handle;
  }

  static Rig* rig;
  Sink* const sink = &rig->sink;
};

DesktopMidiJack::Rig* DesktopMidiJack::rig;

// A system-exclusive message of 2000 bytes (F0, the data, F7) in its header.
struct Sysex2000 {
  uint8_t bytes[2000];                              // the message
  MidiHeader header{bytes, sizeof bytes, 0, 0};     // for osMidiOutLong
  Sysex2000() {
    bytes[0] = 0xF0;
    for (size_t i = 1; i + 1 < sizeof bytes; i++) bytes[i] = static_cast<uint8_t>(i % 128);
    bytes[sizeof bytes - 1] = 0xF7;
  }
};

TEST_F(DesktopMidiJack, JackIsChosenWhileItsServerRuns) {
  EXPECT_EQ(DESKTOP_MIDI_JACK, desktopMidiSystem());
  if (alsaPresent()) return;
  // Forced to ALSA on a machine without the sequencer: no MIDI system at all.
  setenv("NOTALUMEN_MIDI", "alsa", 1);
  EXPECT_EQ(DESKTOP_MIDI_NONE, desktopMidiSystem());
  EXPECT_EQ(0, osMidiInCount());
  unsetenv("NOTALUMEN_MIDI");
  EXPECT_EQ(DESKTOP_MIDI_JACK, desktopMidiSystem());
}

TEST_F(DesktopMidiJack, OtherProgramsPortsAreTheDevicesOursAreNot) {
  MidiDeviceCaps caps;
  const int in = findDevice(true, "nltest:keys");
  ASSERT_GE(in, 0);
  ASSERT_EQ(OS_MIDI_OK, osMidiInCaps(in, &caps));
  EXPECT_EQ(0, caps.manufacturer);
  EXPECT_EQ(0x0100u, caps.driverVersion);
  EXPECT_EQ(OS_MIDI_BADDEVICEID, osMidiInCaps(osMidiInCount(), &caps));
  // A source is no output and a sink no input.
  EXPECT_EQ(-1, findDevice(true, "nlsink:synth"));
  EXPECT_EQ(-1, findDevice(false, "nltest:keys"));
  MidiHandle mapper = 0;
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&mapper, kMidiMapper));
  const MidiHandle device = openSynth();
  InRecord record;
  const MidiHandle input = openKeys(&record, {});
  // Our mapper port and the ports that join us to others are no devices.
  for (bool direction : {true, false}) {
    for (const std::string& name : deviceNames(direction)) EXPECT_EQ(std::string::npos, name.find("Notalumen")) << name;
  }
  EXPECT_GE(findDevice(true, "nltest:keys"), 0);
  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(input));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(device));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(mapper));
}

TEST_F(DesktopMidiJack, ShortMessagesReachTheCallback) {
  InRecord record;
  const auto started = std::chrono::steady_clock::now();
  const MidiHandle handle = openKeys(&record, {});
  usleep(30 * 1000);  // so the stamps are well past the start
  send({0x90, 0x3C, 0x64});
  // One JACK event holding three messages under running status, a clock and
  // active sensing: each comes as a message of its own, status written out.
  send({0xB0, 0x07, 0x64, 0x0A, 0x40, 0xF8, 0xC5, 0x10});
  send({0xFE});
  ASSERT_TRUE(record.waitFor(7)) << text(record);
  const long elapsed =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - started).count();
  const std::vector<Notice> n = record.copy();
  EXPECT_EQ(kinds(n), (Kinds{{OS_MIM_OPEN, 0}, {OS_MIM_DATA, 0x643C90}, {OS_MIM_DATA, 0x6407B0},
                             {OS_MIM_DATA, 0x400AB0}, {OS_MIM_DATA, 0xF8}, {OS_MIM_DATA, 0x10C5}, {OS_MIM_DATA, 0xFE}}));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&record), n[0].instance);
  for (const Notice& notice : n) {
    EXPECT_EQ(handle, notice.handle);
    EXPECT_LE(notice.param2, static_cast<uintptr_t>(elapsed));  // milliseconds since the start
    if (notice.message == OS_MIM_DATA) {
      EXPECT_GE(notice.param2, 30u);
    }
  }
  EXPECT_EQ(OS_MIDI_OK, osMidiInReset(handle));
  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(handle));
  EXPECT_EQ(unsigned{OS_MIM_CLOSE}, record.copy().back().message);
  EXPECT_EQ(OS_MIDI_INVALHANDLE, osMidiInStart(handle));
}

TEST_F(DesktopMidiJack, SystemExclusiveFillsTheQueuedHeadersInTurn) {
  uint8_t one[64], small[8], three[64];
  MidiHeader first{one, sizeof one, 0, 0}, second{small, sizeof small, 0, 0}, third{three, sizeof three, 0, 0};
  InRecord record;
  const MidiHandle handle = openKeys(&record, {&first, &second, &third});
  const Bytes sysexA = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  // Longer than the next header: it goes on in the one after.
  Bytes sysexB = {0xF0};
  for (uint8_t i = 0; i < 18; i++) sysexB.push_back(i);
  sysexB.push_back(0xF7);
  send(sysexA);
  send(sysexB);
  // No header left: the third is lost, the note after it still comes.
  send({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  send({0x80, 0x3C, 0x00});
  ASSERT_TRUE(record.waitFor(5)) << text(record);
  const std::vector<Notice> n = record.copy();
  EXPECT_EQ(kinds(n), (Kinds{{OS_MIM_OPEN, 0}, {OS_MIM_LONGDATA, at(first)}, {OS_MIM_LONGDATA, at(second)},
                             {OS_MIM_LONGDATA, at(third)}, {OS_MIM_DATA, 0x3C80}}));
  const Bytes bytes[] = {sysexA, Bytes(sysexB.begin(), sysexB.begin() + 8), Bytes(sysexB.begin() + 8, sysexB.end())};
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(bytes[i], n[i + 1].bytes) << i;
    EXPECT_EQ(uint32_t{OS_MHDR_DONE | OS_MHDR_PREPARED}, n[i + 1].flags) << i;
  }
  EXPECT_EQ(OS_MIDI_OK, osMidiInUnprepare(handle, &first));
  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(handle));
}

TEST_F(DesktopMidiJack, ResetAndCloseHandEveryHeaderBackEmpty) {
  uint8_t a[16], b[16], c[16];
  MidiHeader first{a, sizeof a, 0, 0}, second{b, sizeof b, 0, 0}, third{c, sizeof c, 0, 0};
  InRecord record;
  const MidiHandle handle = openKeys(&record, {&first, &second});
  // Queued headers belong to the device: they cannot be unprepared.
  EXPECT_EQ(OS_MIDI_STILLPLAYING, osMidiInUnprepare(handle, &first));
  EXPECT_EQ(OS_MIDI_STILLPLAYING, osMidiInAddBuffer(handle, &first));
  EXPECT_EQ(OS_MIDI_OK, osMidiInReset(handle));
  EXPECT_EQ(3u, record.copy().size()) << "the reset returned both headers";
  EXPECT_EQ(OS_MIDI_OK, osMidiInUnprepare(handle, &first));
  // A header still queued at the close comes back before the close notice.
  EXPECT_EQ(OS_MIDI_OK, osMidiInPrepare(handle, &third));
  EXPECT_EQ(OS_MIDI_OK, osMidiInAddBuffer(handle, &third));
  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(handle));
  const std::vector<Notice> n = record.copy();
  EXPECT_EQ(kinds(n), (Kinds{{OS_MIM_OPEN, 0}, {OS_MIM_LONGDATA, at(first)}, {OS_MIM_LONGDATA, at(second)},
                             {OS_MIM_LONGDATA, at(third)}, {OS_MIM_CLOSE, 0}}));
  for (size_t i = 1; i < 4 && i < n.size(); i++) {
    EXPECT_TRUE(n[i].bytes.empty()) << i;
    EXPECT_EQ(uint32_t{OS_MHDR_DONE | OS_MHDR_PREPARED}, n[i].flags) << i;
  }
}

TEST_F(DesktopMidiJack, OutputReachesTheDevice) {
  const MidiHandle handle = openSynth();
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(handle, 0x643C90));
  // Running status in a short word: the status of the word before.
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(handle, 0x643E));
  uint8_t buffer[kMidiBufferSize];
  MidiHeader header{buffer, 0, 0, 0};
  EXPECT_EQ(OS_MIDI_UNPREPARED, osMidiOutLong(handle, &header));
  ASSERT_EQ(OS_MIDI_OK, osMidiOutPrepare(handle, &header));
  EXPECT_EQ(OS_MIDI_OK, sendLong(handle, &header, {0x3C, 0x00}));  // under the short message's status
  // A stored program: two messages in one long buffer go as two messages.
  EXPECT_EQ(OS_MIDI_OK, sendLong(handle, &header, {0xB0, 0x07, 0x64, 0xC0, 0x05}));
  EXPECT_TRUE(header.flags & OS_MHDR_DONE);
  const Bytes sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  EXPECT_EQ(OS_MIDI_OK, sendLong(handle, &header, sysex));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutUnprepare(handle, &header));
  // One byte at a time, as the "#hh" entries send them: one message.
  for (uint8_t byte : {0x90, 0x40, 0x7F}) {
    ASSERT_EQ(OS_MIDI_OK, osMidiOutPrepare(handle, &header));
    EXPECT_EQ(OS_MIDI_OK, sendLong(handle, &header, {byte}));
    EXPECT_EQ(OS_MIDI_OK, osMidiOutUnprepare(handle, &header));
    if (byte == 0x40) {
      EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(handle, 0xF8));  // a clock between its bytes
    }
  }
  ASSERT_TRUE(sink->waitFor(8));
  const std::vector<Bytes> want = {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x3C, 0x00}, {0xB0, 0x07, 0x64},
                                   {0xC0, 0x05}, sysex, {0xF8}, {0x90, 0x40, 0x7F}};
  EXPECT_EQ(want, sink->copy());
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(handle));
  EXPECT_EQ(OS_MIDI_INVALHANDLE, osMidiOutShort(handle, 0x643C90));
}

TEST_F(DesktopMidiJack, AFloodLargerThanTheQueueArrivesWholeInOrderAlsoWhenClosedAtOnce) {
  const MidiHandle handle = openSynth();
  // 40,000 messages are more than the port's queue holds: a send that finds
  // it full is refused at once, the test waits for room and sends again, and
  // each cycle the port carries what its buffer takes.
  std::vector<Bytes> want;
  for (int i = 0; i < 40000; i++) {
    const uint8_t status = static_cast<uint8_t>(0xB0 + i % 16);
    const uint8_t controller = static_cast<uint8_t>(i / 16 % 120);
    const uint8_t value = static_cast<uint8_t>(i / 1920 % 128);
    int result = OS_MIDI_NOTREADY;
    for (int tries = 0; tries < 10000 && result == OS_MIDI_NOTREADY; tries++) {
      result = osMidiOutShort(handle, status | controller << 8 | value << 16);
      if (result == OS_MIDI_NOTREADY) std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_EQ(OS_MIDI_OK, result) << i;
    want.push_back({status, controller, value});
  }
  Sysex2000 sysex;
  MidiHeader& header = sysex.header;
  ASSERT_EQ(OS_MIDI_OK, osMidiOutPrepare(handle, &header));
  int result = OS_MIDI_NOTREADY;
  for (int tries = 0; tries < 10000 && result == OS_MIDI_NOTREADY; tries++) {
    result = osMidiOutLong(handle, &header);
    if (result == OS_MIDI_NOTREADY) std::this_thread::sleep_for(milliseconds(1));
  }
  EXPECT_EQ(OS_MIDI_OK, result);
  want.emplace_back(sysex.bytes, sysex.bytes + sizeof sysex.bytes);
  // Closed straight away: what was sent still goes out first.
  EXPECT_EQ(OS_MIDI_OK, osMidiOutUnprepare(handle, &header));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(handle));
  ASSERT_TRUE(sink->waitFor(want.size())) << sink->copy().size() << " arrived";
  const std::vector<Bytes> got = sink->copy();
  size_t same = 0;
  while (same < got.size() && same < want.size() && got[same] == want[same]) same++;
  EXPECT_EQ(want.size(), same) << "first difference at message " << same;
  EXPECT_EQ(want.size(), got.size());
}

TEST_F(DesktopMidiJack, ASendIntoAFullQueueFailsAtOnceOffTheJackThreads) {
  const MidiHandle handle = openSynth();
  // The window thread sends under the engine lock: a full queue must refuse
  // the message at once instead of waiting for the next cycles to make room.
  // Long messages fill the queue far faster than the cycles empty it, also
  // in a slow (sanitizer) build.
  Sysex2000 sysex;
  MidiHeader& header = sysex.header;
  ASSERT_EQ(OS_MIDI_OK, osMidiOutPrepare(handle, &header));
  int result = OS_MIDI_OK;
  int sent = 0;
  auto slowest = steady_clock::duration::zero();
  while (result == OS_MIDI_OK && sent < 100000) {
    const auto start = steady_clock::now();
    result = osMidiOutLong(handle, &header);
    slowest = std::max(slowest, steady_clock::now() - start);
    if (result == OS_MIDI_OK) sent++;
  }
  EXPECT_EQ(OS_MIDI_NOTREADY, result) << sent << " sent";
  EXPECT_LT(slowest, milliseconds(100));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutUnprepare(handle, &header));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(handle));
}

TEST_F(DesktopMidiJack, OurPortsAreNamedAfterTheirLogicalNumbers) {
  // OUT3 and IN5 open first (OUT1, OUT2 and IN1..IN4 had no device): their
  // names stay those a patchbay stored.
  osMidiNameNextPort(3);
  const MidiHandle output = openSynth();
  osMidiNameNextPort(5);
  InRecord record;
  const MidiHandle input = openKeys(&record, {});
  auto listed = [](RtMidi& lister, const std::string& name) {
    for (unsigned i = 0; i < lister.getPortCount(); i++) {
      if (lister.getPortName(i) == name) return true;
    }
    return false;
  };
  RtMidiIn sources(RtMidi::UNIX_JACK, "nlnames");
  RtMidiOut sinks(RtMidi::UNIX_JACK, "nlnames");
  EXPECT_TRUE(listed(sources, "Notalumen:Out 3"));
  EXPECT_TRUE(listed(sinks, "Notalumen:In 5"));
  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(input));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(output));
}

TEST_F(DesktopMidiJack, TheMapperIsAPortOfOurOwn) {
  MidiHandle first = 0, second = 0;
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&first, kMidiMapper));
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&second, kMidiMapper));
  // Another program connects to "Notalumen:Out".
  Sink heard;
  std::unique_ptr<RtMidiIn> listener = newSinkPort(&heard, "nllisten");
  int port = -1;
  for (unsigned i = 0; i < listener->getPortCount(); i++) {
    const std::string name = listener->getPortName(i);
    if (name == "Notalumen:Out") {
      EXPECT_EQ(-1, port) << "one port for all mapper handles";
      port = static_cast<int>(i);
    }
  }
  ASSERT_GE(port, 0);
  listener->openPort(static_cast<unsigned>(port), "in");
  ASSERT_TRUE(outputConnected(first, &heard));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(first, 0x7F4091));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(second, 0x0040B1));
  // Closing one mapper handle leaves the port to the other.
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(first));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(second, 0x0040));
  ASSERT_TRUE(heard.waitFor(3));
  EXPECT_EQ((std::vector<Bytes>{{0x91, 0x40, 0x7F}, {0xB1, 0x40, 0x00}, {0xB1, 0x40, 0x00}}), heard.copy());
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(second));
  listener.reset();
}

TEST_F(DesktopMidiJack, BadArgumentsAreRefused) {
  MidiHandle handle = 0;
  EXPECT_EQ(OS_MIDI_BADDEVICEID, osMidiOutOpen(&handle, osMidiOutCount()));
  EXPECT_EQ(OS_MIDI_BADDEVICEID, osMidiInOpen(&handle, kMidiMapper, recordIn, 0));
  EXPECT_EQ(OS_MIDI_INVALHANDLE, osMidiInReset(12345));
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&handle, kMidiMapper));
  // A data byte first with nothing sent before (no status to continue), a
  // data byte with its top bit set, a system-exclusive start in a word.
  for (uint32_t word : {0x643Cu, 0x64BC90u, 0xF0u}) EXPECT_EQ(OS_MIDI_INVALPARAM, osMidiOutShort(handle, word)) << word;
  EXPECT_EQ(OS_MIDI_INVALPARAM, osMidiOutLong(handle, nullptr));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(handle));
  EXPECT_EQ(OS_MIDI_INVALHANDLE, osMidiOutClose(handle));
}

// ---- Without a MIDI system, and following a server that comes and goes.

TEST(DesktopMidiSystem, NothingWithoutAServerAndFollowsOneThatComesAndGoes) {
  if (alsaPresent()) GTEST_SKIP() << "the ALSA sequencer is there";
  const std::string none = "nltest-none-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", none.c_str(), 1);
  ASSERT_TRUE(systemBecomes(DESKTOP_MIDI_NONE));
  EXPECT_EQ(0, osMidiInCount());
  EXPECT_EQ(0, osMidiOutCount());
  MidiHandle handle = 0;
  EXPECT_EQ(OS_MIDI_NODRIVER, osMidiOutOpen(&handle, kMidiMapper));
  JackServer server;
  std::string why;
  if (!startServer(&server, "system", &why)) GTEST_SKIP() << why;
  EXPECT_EQ(DESKTOP_MIDI_JACK, desktopMidiSystem());
  // The mapper is there with no other program's port at all.
  EXPECT_EQ(0, osMidiOutCount());
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&handle, kMidiMapper));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutShort(handle, 0xF8));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(handle));
  jackServerStop(&server);
  EXPECT_TRUE(systemBecomes(DESKTOP_MIDI_NONE));
  EXPECT_EQ(OS_MIDI_NODRIVER, osMidiOutOpen(&handle, kMidiMapper));
}

}  // namespace
