// The frame a routed message leaves at on JACK: what the input callback sends
// while handling an event from a JACK input goes out at that event's frame of
// the period, on a real JACK server (dummy driver) that the test starts.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "jack_server.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop_midi.h"

namespace {

using std::chrono::steady_clock;

constexpr jack_nframes_t kFrames[2] = {37, 200};  // where the two notes are written in one period
constexpr int kNone = -1;

// The test's own client: "keys" plays the two notes once asked, "synth"
// records the frame each comes back at.
struct Peer {
  jack_client_t* client = nullptr;
  jack_port_t* keys = nullptr;
  jack_port_t* synth = nullptr;
  std::atomic<int> play{0};                    // 1: write the notes in the next cycle
  std::atomic<int> heard[2] = {{kNone}, {kNone}};  // frame each note came back at
  std::atomic<int> marker{0};                  // a controller came back (the route works)
};

int process(jack_nframes_t frames, void* arg) {
  Peer* p = static_cast<Peer*>(arg);
  void* in = jack_port_get_buffer(p->synth, frames);
  for (uint32_t i = 0; i < jack_midi_get_event_count(in); i++) {
    jack_midi_event_t e;
    if (jack_midi_event_get(&e, in, i) != 0 || e.size != 3) continue;
    if ((e.buffer[0] & 0xF0) == 0xB0) p->marker.store(1);
    if ((e.buffer[0] & 0xF0) == 0x90 && e.buffer[1] >= 60 && e.buffer[1] <= 61) {
      p->heard[e.buffer[1] - 60].store(static_cast<int>(e.time));
    }
  }
  void* out = jack_port_get_buffer(p->keys, frames);
  jack_midi_clear_buffer(out);
  if (p->play.exchange(0) == 1) {
    for (int k = 0; k < 2; k++) {
      const jack_midi_data_t note[3] = {0x90, static_cast<jack_midi_data_t>(60 + k), 100};
      jack_midi_event_write(out, kFrames[k], note, 3);
    }
  } else if (!p->marker.load()) {
    const jack_midi_data_t probe[3] = {0xB0, 0x03, 0x00};
    jack_midi_event_write(out, 0, probe, 3);
  }
  return 0;
}

MidiHandle routeTo;  // where the input callback passes each short message on

void passOn(MidiHandle, unsigned message, uintptr_t, uintptr_t param1, uintptr_t) {
  if (message == OS_MIM_DATA) osMidiOutShort(routeTo, static_cast<uint32_t>(param1));
}

int findDevice(bool input, const std::string& name) {
  const int count = input ? osMidiInCount() : osMidiOutCount();
  for (int i = 0; i < count; i++) {
    MidiDeviceCaps caps{};
    if ((input ? osMidiInCaps(i, &caps) : osMidiOutCaps(i, &caps)) == OS_MIDI_OK && name == caps.name) return i;
  }
  return -1;
}

template <typename Done>
bool waitUntil(Done done) {
  const auto until = steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(DesktopJackFrames, ARoutedMessageLeavesAtTheFrameItCameInAt) {
  if (!jackdInstalled()) GTEST_SKIP() << "jackd is not installed";
  JackServer server{};
  std::string why;
  ASSERT_TRUE(jackServerStart(&server, "frames", &why)) << why;
  Peer peer;
  jack_status_t status;
  peer.client = jack_client_open("nlframes", JackNoStartServer, &status);
  ASSERT_NE(nullptr, peer.client);
  peer.keys = jack_port_register(peer.client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  peer.synth = jack_port_register(peer.client, "synth", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  ASSERT_EQ(0, jack_set_process_callback(peer.client, process, &peer));
  ASSERT_EQ(0, jack_activate(peer.client));

  MidiHandle in = 0;
  ASSERT_EQ(OS_MIDI_OK, osMidiOutOpen(&routeTo, findDevice(false, "nlframes:synth")));
  ASSERT_EQ(OS_MIDI_OK, osMidiInOpen(&in, findDevice(true, "nlframes:keys"), passOn, 0));
  ASSERT_EQ(OS_MIDI_OK, osMidiInStart(in));
  EXPECT_TRUE(waitUntil([&] { return peer.marker.load() == 1; })) << "nothing passes";
  peer.play.store(1);
  EXPECT_TRUE(waitUntil([&] { return peer.heard[1].load() != kNone; }));
  EXPECT_EQ(static_cast<int>(kFrames[0]), peer.heard[0].load());
  EXPECT_EQ(static_cast<int>(kFrames[1]), peer.heard[1].load());

  EXPECT_EQ(OS_MIDI_OK, osMidiInClose(in));
  EXPECT_EQ(OS_MIDI_OK, osMidiOutClose(routeTo));
  desktopMidiRelease();
  jack_client_close(peer.client);
  jackServerStop(&server);
}

}  // namespace
