// The whole Linux program end to end: the built notalumen, started from a
// scratch copy with settings of its own inside a private Xvfb, talks over a
// JACK server (dummy driver) to a JACK client of the test's own that plays
// into its inputs, records what it sends, and reads its window's pixels.
#include <gtest/gtest.h>
#include <signal.h>
// Xlib after gtest: its macros (None, Bool, Status) would break gtest.
#include <X11/Xlib.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "jack_server.h"
#include "x_session.h"

#ifndef NOTALUMEN_PROGRAM
#error "NOTALUMEN_PROGRAM must name the built program"
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
const auto kPatience = std::chrono::seconds(15);  // longest wait for anything

// Key looks on the screen, as 0xRRGGBB.
constexpr uint32_t kOn = 0xFF7878;
constexpr uint32_t kSustained = 0xFFB4B4;
constexpr uint32_t kOff = 0xFFFFFF;

// A controller that nothing in the program reacts to, sent on IN1 until it
// comes back: then the program runs and both connections carry data.
const Bytes kProbe = {0xB0, 0x03, 0x00};
const Bytes kProbeOut = {0xB2, 0x03, 0x00};  // as IN1's settings re-channel it

std::string hex(const Bytes& b) {
  std::string out;
  char two[4];
  for (uint8_t v : b) {
    std::snprintf(two, sizeof two, "%02X ", v);
    out += two;
  }
  return out;
}

// ---- The test's own JACK client: three ports, "keys" and "keys2" that the
// program reads (its IN1 and IN2), "synth" that it writes to (its OUT1).

struct Peer {
  jack_client_t* client = nullptr;
  jack_port_t* keys = nullptr;
  jack_port_t* keys2 = nullptr;
  jack_port_t* synth = nullptr;

  std::mutex lock;
  std::condition_variable changed;
  std::vector<Bytes> received;          // what arrived at "synth", in order
  std::deque<std::pair<int, Bytes>> queue;  // to send: port (1 or 2) and bytes

  // Sends through "keys" (port 1) or "keys2" (port 2), in order, as many a
  // cycle as the port buffers take.
  void send(int port, const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(lock);
    queue.emplace_back(port, bytes);
  }
  bool sent() {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, kPatience, [&] { return queue.empty(); });
  }
  // Waits until count messages have arrived.
  bool waitFor(size_t count, std::chrono::milliseconds patience = kPatience) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, patience, [&] { return received.size() >= count; });
  }
  std::vector<Bytes> take() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<Bytes> out;
    out.swap(received);
    return out;
  }
  std::string text() {
    std::lock_guard<std::mutex> guard(lock);
    std::string out;
    for (const Bytes& b : received) out += hex(b) + "\n";
    return out;
  }
};

int process(jack_nframes_t frames, void* arg) {
  Peer* peer = static_cast<Peer*>(arg);
  void* in = jack_port_get_buffer(peer->synth, frames);
  void* out1 = jack_port_get_buffer(peer->keys, frames);
  void* out2 = jack_port_get_buffer(peer->keys2, frames);
  jack_midi_clear_buffer(out1);
  jack_midi_clear_buffer(out2);
  std::lock_guard<std::mutex> guard(peer->lock);
  const uint32_t count = jack_midi_get_event_count(in);
  for (uint32_t i = 0; i < count; i++) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, in, i) == 0) peer->received.emplace_back(event.buffer, event.buffer + event.size);
  }
  while (!peer->queue.empty()) {
    const auto& [port, bytes] = peer->queue.front();
    if (jack_midi_event_write(port == 1 ? out1 : out2, 0, bytes.data(), bytes.size()) != 0) break;
    peer->queue.pop_front();
  }
  peer->changed.notify_all();
  return 0;
}

// ---- A private X server, and the program's window on it.

struct Screen {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0xRRGGBB, row by row
  uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

class DesktopProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const bool ci = std::getenv("CI") != nullptr;
    for (const char* needed : {"jackd", "Xvfb", "xdotool"}) {
      if (!onPath(needed)) {
        if (ci) FAIL() << needed << " is not installed";
        GTEST_SKIP() << needed << " is not installed";
      }
    }
    std::string why;
    if (!jackServerStart(&server, "prog", &why)) {
      if (ci) FAIL() << why;
      GTEST_SKIP() << why;
    }
    ASSERT_TRUE(startXvfb(&why)) << why;
    ASSERT_TRUE(openPeer(&why)) << why;
    char pattern[] = "/tmp/nltest-program-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern)) << std::strerror(errno);
    scratch = pattern;
  }

  void TearDown() override {
    // The program first (it is a client of both servers), then ours, then
    // the servers, then the files.
    if (program > 0) closeProgram();
    if (x != nullptr) XCloseDisplay(x);
    x = nullptr;
    closePeer(&source);
    closePeer(&peer);
    jackServerStop(&server);
    if (xvfb > 0) stopXvfb(xvfb);
    xvfb = 0;
    if (!scratch.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
    }
  }

  // Closes the window as a window manager would (WM_DELETE_WINDOW): the
  // program ends through its exit path and leaves JACK cleanly. Killed
  // instead, it would leave clients that a synchronous server waits for.
  void closeProgram() {
    const int status = ::closeProgram(x, window, program);
    if (window != 0) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "closing the window ended the program with status " << status << "\n" << programOutput();
    }
    program = 0;
  }

  bool startXvfb(std::string* why) {
    x = ::startXvfb(&xvfb, &display, why);
    return x != nullptr;
  }

  bool openPeer(std::string* why, Peer* p = nullptr, const char* name = "nltest") {
    if (p == nullptr) p = &peer;
    jack_status_t status;
    p->client = jack_client_open(name, JackNoStartServer, &status);
    if (p->client == nullptr) {
      *why = "cannot open the test's JACK client";
      return false;
    }
    p->keys = jack_port_register(p->client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    p->keys2 = jack_port_register(p->client, "keys2", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    p->synth = jack_port_register(p->client, "synth", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!p->keys || !p->keys2 || !p->synth || jack_set_process_callback(p->client, process, p) != 0 ||
        jack_activate(p->client) != 0) {
      *why = "cannot set up the test's JACK ports";
      return false;
    }
    if (p == &peer) clientName = jack_get_client_name(p->client);
    return true;
  }

  // Ends a client of the test's own as a program that quits leaves JACK.
  static void closePeer(Peer* p) {
    if (p->client != nullptr) jack_client_close(p->client);
    p->client = nullptr;
    std::lock_guard<std::mutex> guard(p->lock);
    p->queue.clear();
  }

  void writeFile(const std::string& name, const std::string& text) {
    std::ofstream out(scratch + "/" + name, std::ios::binary);
    out << text;
  }

  // Copies the program into the scratch directory beside its settings,
  // starts it there and waits until its window is up and a message passes.
  // in2: the port IN2 reads (the test client's "keys2" when empty).
  void startProgram(const std::string& in2 = "") {
    const std::string copy = scratch + "/notalumen";
    std::filesystem::copy_file(NOTALUMEN_PROGRAM, copy, std::filesystem::copy_options::overwrite_existing);
    ::chmod(copy.c_str(), 0755);
    writeFile("sonrack.ini", "-OUT1:\"" + clientName + ":synth\"\r\n" + "-IN1:\"" + clientName + ":keys\":CH3\r\n" +
                                 "-IN2:\"" + (in2.empty() ? clientName + ":keys2" : in2) + "\"\r\n");
    // Note-on 60 on IN2 sends program change 5 on channel 1 instead; note-on
    // 70 sends 85 volume controllers, values 0 to 84.
    std::string volumes = "/PGM2";
    for (int v = 0; v < 85; v++) volumes += " 176 7 " + std::to_string(v);
    writeFile("progrm02.ini", "/PGM1 192 5\r\n/SETKEY60:PGM1\r\n" + volumes + "\r\n/SETKEY70:PGM2\r\n");
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("NOTALUMEN_MIDI", "jack", 1);
    program = launch({copy}, scratch + "/output.log", scratch, -1);
    ASSERT_GT(program, 0);
    ASSERT_TRUE(findWindow()) << "no window titled \"Notalumen \"\n" << programOutput();
    ASSERT_TRUE(passes(&peer, 1, kProbe, kProbeOut, std::chrono::seconds(10))) << "nothing passes the program\n"
                                                                             << programOutput();
  }

  // Sends bytes through a test client's port every 100 ms until out arrives
  // at "synth" (within patience); then lets later copies come and drops all.
  bool passes(Peer* from, int port, const Bytes& bytes, const Bytes& out, std::chrono::milliseconds patience) {
    const auto give = Clock::now() + patience;
    bool through = false;
    while (!through && Clock::now() < give) {
      from->send(port, bytes);
      through = waitForMessage(out, std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.take();
    return through;
  }

  std::string programOutput() {
    std::stringstream text;
    text << fileText(scratch + "/output.log");
    int status = 0;
    if (program > 0 && ::waitpid(program, &status, WNOHANG) == program) {
      text << "(the program ended with status " << status << ")\n";
      program = 0;
    }
    return text.str();
  }

  bool waitForMessage(const Bytes& wanted, std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> guard(peer.lock);
    return peer.changed.wait_for(guard, patience, [&] {
      for (const Bytes& b : peer.received) {
        if (b == wanted) return true;
      }
      return false;
    });
  }

  // Sends one message and waits until the program has passed on count.
  std::vector<Bytes> play(int port, const Bytes& bytes, size_t count) {
    peer.send(port, bytes);
    EXPECT_TRUE(peer.waitFor(count)) << "sent " << hex(bytes) << ", received:\n" << peer.text();
    return peer.take();
  }

  // Waits for the expected messages (and 200 ms for any beyond): exactly
  // those arrive, in that order.
  void expectArrivingInOrder(const std::vector<Bytes>& expected) {
    peer.waitFor(expected.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<Bytes> got = peer.take();
    EXPECT_EQ(expected.size(), got.size());
    size_t first = 0;
    while (first < got.size() && first < expected.size() && got[first] == expected[first]) first++;
    EXPECT_EQ(expected.size(), first) << "first difference at message " << first << ": "
                                      << (first < got.size() ? hex(got[first]) : std::string("(none)"));
  }

  bool findWindow() {
    bool ended = false;
    window = waitForWindow(x, "Notalumen ", program, kPatience, &ended);
    if (ended) program = 0;
    return window != 0;
  }

  Screen grab() {
    Screen s;
    XWindowAttributes a;
    if (!XGetWindowAttributes(x, window, &a)) return s;
    XImage* image = XGetImage(x, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (image == nullptr) return s;
    s.width = a.width;
    s.height = a.height;
    s.rgb.resize(static_cast<size_t>(s.width) * s.height);
    for (int py = 0; py < s.height; py++) {
      for (int px = 0; px < s.width; px++) s.rgb[static_cast<size_t>(py) * s.width + px] = rgbAt(image, px, py);
    }
    XDestroyImage(image);
    return s;
  }

  // Waits until the window shows what the condition wants.
  bool screenShows(const std::function<bool(const Screen&)>& wanted) {
    const auto give = Clock::now() + kPatience;
    while (Clock::now() < give) {
      Screen s = grab();
      if (s.width > 0 && wanted(s)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  uint32_t pixel(int px, int py) {
    Screen s = grab();
    return px < s.width && py < s.height ? s.at(px, py) : 0xFFFFFFFF;
  }

  bool pixelBecomes(int px, int py, uint32_t rgb) {
    return screenShows([&](const Screen& s) { return px < s.width && py < s.height && s.at(px, py) == rgb; });
  }

  // The one key that shows a look: a point in the lower interior of the
  // region painted in it (three rows above its lowest, the middle of that
  // row's run). False when no pixel shows it.
  bool litKey(uint32_t look, int* px, int* py) {
    bool found = false;
    screenShows([&](const Screen& s) {
      int bottom = -1;
      for (int row = 0; row < s.height; row++) {
        for (int col = 0; col < s.width; col++) {
          if (s.at(col, row) == look) bottom = row;
        }
      }
      if (bottom < 3) return false;
      const int row = bottom - 3;
      int left = -1, right = -1;
      for (int col = 0; col < s.width; col++) {
        if (s.at(col, row) == look) {
          if (left < 0) left = col;
          right = col;
        }
      }
      if (left < 0) return false;
      *px = (left + right) / 2;
      *py = row;
      found = s.at(*px, row) == look;
      return found;
    });
    return found;
  }

  // Where key 60 is: a note played (which also gives its channel a column)
  // lights it, and its note-off puts it out again.
  void findKey60(int* px, int* py) {
    play(1, {0x90, 60, 100}, 1);
    ASSERT_TRUE(litKey(kOn, px, py)) << "no key lit";
    play(1, {0x80, 60, 0}, 1);
    ASSERT_TRUE(pixelBecomes(*px, *py, kOff));
  }

  // Runs xdotool against the program's window and waits for it.
  void xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"xdotool"};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = launch(all, "", "", -1);
    ASSERT_GT(pid, 0);
    const int status = reap(pid, std::chrono::seconds(10));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "xdotool failed: " << status;
  }

  JackServer server{};
  pid_t xvfb = 0;
  std::string display;
  Display* x = nullptr;
  Window window = 0;
  Peer peer;
  Peer source;  // a second client of the test's own ("nlsrc"), for the tests that end one
  std::string clientName;
  std::string scratch;
  pid_t program = 0;
};

using Messages = std::vector<Bytes>;

TEST_F(DesktopProgram, NotesPassOnRechannelledAndLightTheKeys) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  // IN1 is set to channel 3: a note on channel 1 leaves on channel 3.
  EXPECT_EQ(Messages({{0x92, 60, 100}}), play(1, {0x90, 60, 100}, 1));
  int px = 0, py = 0;
  ASSERT_TRUE(litKey(kOn, &px, &py)) << "no key lit";
  EXPECT_EQ(Messages({{0x82, 60, 64}}), play(1, {0x80, 60, 64}, 1));
  EXPECT_TRUE(pixelBecomes(px, py, kOff)) << std::hex << pixel(px, py);
  // A note-on of velocity 0 ends the note as well.
  EXPECT_EQ(Messages({{0x92, 60, 90}}), play(1, {0x90, 60, 90}, 1));
  EXPECT_TRUE(pixelBecomes(px, py, kOn)) << std::hex << pixel(px, py);
  EXPECT_EQ(Messages({{0x92, 60, 0}}), play(1, {0x90, 60, 0}, 1));
  EXPECT_TRUE(pixelBecomes(px, py, kOff)) << std::hex << pixel(px, py);
}

// After a quiet spell the window thread waits for work, up to a second at a
// time; a note wakes it, so its key lights within a few frames, not at the
// end of that second.
TEST_F(DesktopProgram, AfterAQuietSpellANoteLightsItsKeyAtOnce) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  play(1, {0x90, 60, 100}, 1);
  int px = 0, py = 0;
  ASSERT_TRUE(litKey(kOn, &px, &py)) << "no key lit";
  play(1, {0x80, 60, 64}, 1);
  ASSERT_TRUE(pixelBecomes(px, py, kOff));
  for (int round = 0; round < 3; round++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the window thread settles into its wait
    const auto sent = Clock::now();
    play(1, {0x90, 60, 100}, 1);
    ASSERT_TRUE(pixelBecomes(px, py, kOn));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    EXPECT_LT(ms, 250) << "round " << round;
    play(1, {0x80, 60, 64}, 1);
    ASSERT_TRUE(pixelBecomes(px, py, kOff));
  }
}

TEST_F(DesktopProgram, ANoteWithAProgramSendsTheProgramInstead) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  // A controller after the note on the same input (two inputs keep no order
  // between them) shows that the note itself was not passed on.
  peer.send(2, {0x90, 60, 100});
  peer.send(2, kProbe);
  ASSERT_TRUE(peer.waitFor(2)) << peer.text();
  EXPECT_EQ(Messages({{0xC0, 5}, {0xB1, 3, 0}}), peer.take());
  // A note without a program passes on IN2's own channel (its index: 2).
  EXPECT_EQ(Messages({{0x91, 61, 100}}), play(2, {0x90, 61, 100}, 1));
}

// 120 notes in one cycle fire 10,200 messages, more than one cycle's port
// buffer holds: what does not fit waits for the next cycles, and a message
// that comes in a later cycle goes out after all of them.
TEST_F(DesktopProgram, MoreThanAPortBufferHoldsGoesOutInOrderOverTheNextCycles) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  constexpr int kNotes = 120;
  for (int i = 0; i < kNotes; i++) peer.send(2, {0x90, 70, 100});
  ASSERT_TRUE(peer.sent());
  std::this_thread::sleep_for(std::chrono::milliseconds(2));  // less than a period: the buffer is still full
  peer.send(2, kProbe);
  Messages expected;
  for (int i = 0; i < kNotes; i++) {
    for (uint8_t v = 0; v < 85; v++) expected.push_back({0xB0, 7, v});
  }
  expected.push_back({0xB1, 3, 0});
  expectArrivingInOrder(expected);
}

TEST_F(DesktopProgram, SystemExclusiveArrivesWhole) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  const Bytes shortOne = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  EXPECT_EQ(Messages({shortOne}), play(1, shortOne, 1));
  Bytes longOne = {0xF0, 0x7D};
  for (int i = 0; i < 1000; i++) longOne.push_back(static_cast<uint8_t>(i % 128));
  longOne.push_back(0xF7);
  EXPECT_EQ(Messages({longOne}), play(1, longOne, 1));
}

// Fifty quick clicks (button down and up back to back, often read by the
// window thread in one pass): each sounds its note and ends it.
TEST_F(DesktopProgram, FiftyQuickClicksEachEndTheirNote) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  int px = 0, py = 0;
  ASSERT_NO_FATAL_FAILURE(findKey60(&px, &py));
  const std::string id = std::to_string(window);
  ASSERT_NO_FATAL_FAILURE(xdotool({"mousemove", "--sync", "--window", id, std::to_string(px), std::to_string(py),
                                   "click", "--repeat", "50", "--delay", "15", "1"}));
  ASSERT_TRUE(peer.waitFor(100)) << peer.text();
  Messages expected;
  for (int i = 0; i < 50; i++) expected.insert(expected.end(), {{0x92, 60, 100}, {0x82, 60, 50}});
  EXPECT_EQ(expected, peer.take());
  EXPECT_TRUE(pixelBecomes(px, py, kOff)) << std::hex << pixel(px, py);
}

// Escape while the mouse holds a key: the note-off goes out before the ports close.
// Escape, and a quit signal (a terminal's Ctrl+C, kill, a session's end),
// both end the program through its exit path: the mouse's note is ended.
TEST_F(DesktopProgram, EscapeOrAQuitSignalWhileTheMouseHoldsAKeyEndsItsNote) {
  for (const bool signal : {false, true}) {
    SCOPED_TRACE(signal ? "SIGTERM" : "Escape");
    ASSERT_NO_FATAL_FAILURE(startProgram());
    int px = 0, py = 0;
    ASSERT_NO_FATAL_FAILURE(findKey60(&px, &py));
    const std::string id = std::to_string(window);
    // From elsewhere: a synchronous move to where the pointer is already waits for ever.
    ASSERT_NO_FATAL_FAILURE(xdotool({"mousemove", "0", "0"}));
    ASSERT_NO_FATAL_FAILURE(xdotool({"mousemove", "--sync", "--window", id, std::to_string(px), std::to_string(py),
                                     "mousedown", "1"}));
    ASSERT_TRUE(peer.waitFor(1)) << peer.text();
    EXPECT_EQ(Messages({{0x92, 60, 100}}), peer.take());
    if (signal) {
      ASSERT_EQ(0, ::kill(program, SIGTERM));
    } else {
      ASSERT_NO_FATAL_FAILURE(xdotool({"windowfocus", "--sync", id, "key", "Escape"}));
    }
    const int status = reap(program, std::chrono::seconds(10));
    program = 0;
    window = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_TRUE(peer.waitFor(1)) << peer.text();
    EXPECT_EQ(Messages({{0x82, 60, 50}}), peer.take());
    ASSERT_NO_FATAL_FAILURE(xdotool({"mouseup", "1"}));
  }
}

// Ten thousand messages through one input, faster than a cycle takes them.
TEST_F(DesktopProgram, TenThousandMessagesAllArriveInOrder) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  // Controllers 1..80 (the damper left out), each value in turn: every
  // message differs from its neighbours, so a loss or a swap shows.
  Messages expected;
  constexpr int kCount = 10000;
  for (int i = 0; i < kCount; i++) {
    int controller = 1 + i / 128;
    if (controller >= 64) controller++;
    const uint8_t value = static_cast<uint8_t>(i % 128);
    peer.send(1, {0xB0, static_cast<uint8_t>(controller), value});
    expected.push_back({0xB2, static_cast<uint8_t>(controller), value});
  }
  ASSERT_TRUE(peer.sent());
  expectArrivingInOrder(expected);
}

// The source of IN2 goes while its note sounds: the key goes out and the sink
// hears the note-off; started again, it is routed again with no one's help.
// Then it is cut off and back at once, before the program looks: the same.
TEST_F(DesktopProgram, ASourceThatGoesEndsItsNotesAndIsRoutedAgainWhenItComesBack) {
  std::string why;
  ASSERT_TRUE(openPeer(&why, &source, "nlsrc")) << why;
  ASSERT_NO_FATAL_FAILURE(startProgram("nlsrc:keys"));
  ASSERT_TRUE(passes(&source, 1, {0x90, 62, 100}, {0x91, 62, 100}, std::chrono::seconds(5))) << programOutput();
  int px = 0, py = 0;
  ASSERT_TRUE(litKey(kOn, &px, &py)) << "no key lit";
  closePeer(&source);
  ASSERT_TRUE(peer.waitFor(1)) << programOutput();
  EXPECT_EQ(Messages({{0x81, 62, 0}}), peer.take());
  EXPECT_TRUE(pixelBecomes(px, py, kOff)) << std::hex << pixel(px, py);
  ASSERT_TRUE(openPeer(&why, &source, "nlsrc")) << why;
  ASSERT_TRUE(passes(&source, 1, {0x90, 63, 100}, {0x91, 63, 100}, std::chrono::seconds(10))) << programOutput();
  ASSERT_EQ(0, jack_deactivate(source.client));
  ASSERT_EQ(0, jack_activate(source.client));
  ASSERT_TRUE(peer.waitFor(1)) << programOutput();
  EXPECT_EQ(Messages({{0x81, 63, 0}}), peer.take());
  EXPECT_TRUE(passes(&source, 1, {0x90, 64, 100}, {0x91, 64, 100}, std::chrono::seconds(10))) << programOutput();
}

// The sink (with IN1's source) goes and comes back: it receives again. Our
// ports keep their names, so a patchbay connects them by name.
TEST_F(DesktopProgram, ASinkThatComesBackReceivesAgainAndThePortsKeepTheirNames) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  for (const char* name : {"Notalumen:In 1", "Notalumen:In 2", "Notalumen:Out 1"}) {
    EXPECT_NE(nullptr, jack_port_by_name(peer.client, name)) << name;
  }
  closePeer(&peer);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string why;
  ASSERT_TRUE(openPeer(&why)) << why;
  EXPECT_TRUE(passes(&peer, 1, kProbe, kProbeOut, std::chrono::seconds(10))) << programOutput();
  ASSERT_TRUE(openPeer(&why, &source, "nlsrc")) << why;
  ASSERT_EQ(0, jack_connect(source.client, "Notalumen:Out 1", "nlsrc:synth"));
  // The server puts a new connection to work at a cycle of its choosing, a
  // busy machine's some cycles later: the note goes until one arrives.
  bool arrived = false;
  for (int tries = 0; tries < 100 && !arrived; tries++) {
    peer.send(1, {0x90, 64, 100});
    arrived = source.waitFor(1, std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(arrived) << programOutput();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (const Bytes& m : source.take()) EXPECT_EQ(Bytes({0x92, 64, 100}), m);
}

// The JACK server stops and starts again: the program keeps running, says
// so, and passes messages again soon after the new server answers.
TEST_F(DesktopProgram, TheProgramWaitsForTheJackServerAndReconnectsWhenItComesBack) {
  ASSERT_NO_FATAL_FAILURE(startProgram());
  closePeer(&peer);
  jackServerStop(&server);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(0, ::waitpid(program, nullptr, WNOHANG)) << programOutput();
  std::string why;
  ASSERT_TRUE(jackServerStart(&server, "prog", &why)) << why;
  const auto answered = Clock::now();
  ASSERT_TRUE(openPeer(&why)) << why;
  EXPECT_TRUE(passes(&peer, 1, kProbe, kProbeOut, std::chrono::seconds(10))) << programOutput();
  const long ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - answered).count());
  std::printf("passing again %ld ms after the new server answered\n", ms);
  EXPECT_LT(ms, 3000);
  const std::string said = fileText(scratch + "/output.log");
  EXPECT_NE(std::string::npos, said.find("JACK server went away")) << said;
  EXPECT_NE(std::string::npos, said.find("JACK server answers again")) << said;
}

// Neither JACK nor the ALSA sequencer: the program says so and still shows
// its keyboard.
TEST_F(DesktopProgram, WithoutAMidiSystemTheProgramSaysSoAndShowsItsKeyboard) {
  std::filesystem::copy_file(NOTALUMEN_PROGRAM, scratch + "/notalumen");
  writeFile("sonrack.ini", "-nMin=36 -nMax=84\r\n");
  ::setenv("DISPLAY", display.c_str(), 1);
  ::unsetenv("NOTALUMEN_MIDI");
  const std::string server = std::getenv("JACK_DEFAULT_SERVER");
  ::setenv("JACK_DEFAULT_SERVER", "nltest-none", 1);
  program = launch({scratch + "/notalumen"}, scratch + "/output.log", scratch, -1);
  ::setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  ASSERT_TRUE(findWindow()) << programOutput();
  EXPECT_TRUE(screenShows([](const Screen& s) { return s.width > 300 && s.at(s.width / 2, s.height - 5) == kOff; }));
  if (::access("/dev/snd/seq", F_OK) == 0) return;
  EXPECT_NE(std::string::npos, programOutput().find("no MIDI system answers")) << programOutput();
}

}  // namespace
