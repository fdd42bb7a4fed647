// Flood and latency harness of the Linux desktop program on JACK: starts a
// private jackd (dummy driver), a private Xvfb and the built program, plays note
// messages into the program's IN1 at a set rate, and counts and times what its
// OUT1 sends back, against the harness's own output looped straight back to its
// input at the same rate in the same run. Prints the figures as Markdown.
//   notalumen_jack_flood PROGRAM [--rate MESSAGES_PER_SECOND] [--seconds S]
// Exits 0 when it ran (a missed target is reported, not an error), 2 when it
// could not run (no jackd or Xvfb, the program does not start or pass MIDI).
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "flood_text.h"
#include "jack_server.h"

// Xlib last: its macros (None, Bool, Status) would clash with the names above.
#include "x_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLowNote = 21;                              // the keyboard shown: -nMin=21 ...
constexpr int kHighNote = 108;                            // ... -nMax=108, so every message draws a key
constexpr int kNotes = kHighNote - kLowNote + 1;          // keys in the pattern
constexpr int64_t kPattern = 2 * kNotes * 127;            // messages before the pattern repeats
constexpr uint8_t kProgramChannel = 2;                    // IN1:CH3 re-channels everything to channel 3
constexpr uint32_t kProbe = 0xB0 | 0x03 << 8;             // a controller nothing reacts to (B0 03 00)
constexpr uint32_t kProbeBack = 0xB2 | 0x03 << 8;         // as IN1's settings re-channel it
constexpr auto kPatience = std::chrono::seconds(15);      // longest wait for the program at start
constexpr auto kDrainQuiet = std::chrono::seconds(3);     // a drain ends after this long without arrivals
constexpr auto kDrainLongest = std::chrono::seconds(60);  // and at the latest after this long
constexpr int kCrossedKept = 8;                           // period boundaries counted one by one

// ---- The traffic: message i of a flood, on channel 0. Note-on and note-off
// alternate over every key, the velocity steps through 1..127 once per round
// of the keys, so no message repeats within kPattern and a loss or a swap shows.

void messageBytes(int64_t i, uint8_t bytes[3]) {
  const int64_t pair = (i / 2) % (kNotes * 127);
  bytes[0] = static_cast<uint8_t>(i % 2 == 0 ? 0x90 : 0x80);
  bytes[1] = static_cast<uint8_t>(kLowNote + pair % kNotes);
  bytes[2] = static_cast<uint8_t>(1 + pair / kNotes);
}

// The position of a message within the pattern, -1 when it is none of ours.
int64_t patternIndex(const uint8_t* bytes, size_t size) {
  if (size != 3) return -1;
  const int kind = bytes[0] & 0xF0;
  if ((kind != 0x80 && kind != 0x90) || bytes[1] < kLowNote || bytes[1] > kHighNote || bytes[2] < 1 ||
      bytes[2] > 127) {
    return -1;
  }
  const int64_t pair = static_cast<int64_t>(bytes[2] - 1) * kNotes + (bytes[1] - kLowNote);
  return 2 * pair + (kind == 0x80 ? 1 : 0);
}

// ---- One flood through one pair of ports.

struct Run {
  jack_port_t* out = nullptr;      // the harness sends here
  jack_port_t* in = nullptr;       // and listens here
  uint8_t channel = 0;             // channel the messages should come back on
  int64_t total = 0;               // messages to send
  double framesPerMessage = 0;     // spacing of the schedule
  uint32_t period = 0;             // frames a period
  std::vector<uint32_t> sentAt;    // frame each message went out at, by index
  std::vector<uint8_t> got;        // 1 once a message came back, by index
  std::vector<uint32_t> latency;   // frames from sending to arrival, in arrival order
  // Process thread only while the run is active:
  bool started = false;            // the first cycle has fixed startFrame
  uint32_t startFrame = 0;         // frame the schedule starts at
  int64_t sent = 0;                // messages written to the port
  int64_t highest = -1;            // highest index received so far
  int64_t received = 0;            // distinct messages back
  int64_t outOfOrder = 0;          // arrived after a message sent later
  int64_t duplicates = 0;          // arrived more than once
  int64_t foreign = 0;             // not a message of this flood
  int64_t wrongChannel = 0;        // ours, on another channel than expected
  int64_t late = 0;                // sent in a later cycle than scheduled (the port buffer was full)
  int64_t crossed[kCrossedKept] = {};  // messages by period boundaries between sending and arrival (last: that many or more)
  // For the main thread while the run is active:
  std::atomic<int64_t> sentShown{0};      // sent, as of the last cycle
  std::atomic<int64_t> receivedShown{0};  // received, as of the last cycle
};

void receive(Run* r, jack_nframes_t first, jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(r->in, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  for (uint32_t k = 0; k < count; k++) {
    jack_midi_event_t e;
    if (jack_midi_event_get(&e, buffer, k) != 0) continue;
    const int64_t at = patternIndex(e.buffer, e.size);
    if (at < 0) {
      r->foreign++;
      continue;
    }
    if ((e.buffer[0] & 0x0F) != r->channel) r->wrongChannel++;
    // The index nearest to the next one expected that has this pattern position.
    const int64_t next = r->highest + 1;
    int64_t diff = ((at - next % kPattern) % kPattern + kPattern) % kPattern;
    if (diff >= kPattern / 2) diff -= kPattern;
    const int64_t index = next + diff;
    if (index < 0 || index >= r->sent) {
      r->foreign++;
      continue;
    }
    if (r->got[index]) {
      r->duplicates++;
      continue;
    }
    r->got[index] = 1;
    if (index < r->highest) {
      r->outOfOrder++;
    } else {
      r->highest = index;
    }
    const uint32_t arrival = first + e.time;
    r->latency[r->received++] = arrival - r->sentAt[index];
    const uint32_t crossed = (arrival - r->startFrame) / r->period - (r->sentAt[index] - r->startFrame) / r->period;
    r->crossed[std::min<uint32_t>(crossed, kCrossedKept - 1)]++;
  }
}

// Writes the messages due in this cycle at their frames; what the port buffer
// does not take goes first in the next cycle.
void send(Run* r, void* buffer, jack_nframes_t first, jack_nframes_t frames) {
  if (!r->started) {
    r->started = true;
    r->startFrame = first;
  }
  while (r->sent < r->total) {
    const uint32_t due = r->startFrame + static_cast<uint32_t>(static_cast<double>(r->sent) * r->framesPerMessage);
    int32_t offset = static_cast<int32_t>(due - first);
    if (offset >= static_cast<int32_t>(frames)) break;
    if (offset < 0) {
      offset = 0;
      r->late++;
    }
    uint8_t bytes[3];
    messageBytes(r->sent, bytes);
    if (jack_midi_event_write(buffer, static_cast<jack_nframes_t>(offset), bytes, 3) != 0) break;
    r->sentAt[r->sent] = first + static_cast<uint32_t>(offset);
    r->sent++;
  }
}

// ---- The harness's JACK client.

struct Harness {
  jack_client_t* client = nullptr;   // our client on the private server
  jack_port_t* keys = nullptr;       // output: the program's IN1
  jack_port_t* synth = nullptr;      // input: the program's OUT1
  jack_port_t* loopOut = nullptr;    // output looped straight back ...
  jack_port_t* loopIn = nullptr;     // ... to this input
  std::atomic<Run*> active{nullptr};       // the flood under way, null when none
  std::atomic<uint32_t> probe{0};          // a message to send once on keys (packed bytes), 0 none
  std::atomic<uint32_t> lastHeard{0};      // last 1..3-byte message on synth outside a flood (packed)
  std::atomic<uint64_t> heard{0};          // messages on synth outside a flood
  std::atomic<uint64_t> cycles{0};         // process cycles run
  std::atomic<uint64_t> xruns{0};          // xruns the server reported
};

uint32_t pack(const uint8_t* bytes, size_t size) {
  uint32_t v = 0;
  for (size_t i = 0; i < size && i < 3; i++) v |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return v;
}

int process(jack_nframes_t frames, void* arg) {
  Harness* h = static_cast<Harness*>(arg);
  const jack_nframes_t first = jack_last_frame_time(h->client);
  Run* run = h->active.load(std::memory_order_acquire);
  // Inputs first: a looped-back input may share the output's buffer.
  if (run) {
    receive(run, first, frames);
  } else {
    void* in = jack_port_get_buffer(h->synth, frames);
    const uint32_t count = jack_midi_get_event_count(in);
    for (uint32_t k = 0; k < count; k++) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, in, k) != 0) continue;
      h->lastHeard.store(pack(e.buffer, e.size), std::memory_order_relaxed);
      h->heard.fetch_add(1, std::memory_order_relaxed);
    }
  }
  void* keys = jack_port_get_buffer(h->keys, frames);
  void* loop = jack_port_get_buffer(h->loopOut, frames);
  jack_midi_clear_buffer(keys);
  jack_midi_clear_buffer(loop);
  if (run) {
    send(run, run->out == h->keys ? keys : loop, first, frames);
    run->sentShown.store(run->sent, std::memory_order_relaxed);
    run->receivedShown.store(run->received, std::memory_order_relaxed);
  } else if (const uint32_t p = h->probe.exchange(0)) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16)};
    jack_midi_event_write(keys, 0, bytes, (p & 0xF0) == 0xC0 || (p & 0xF0) == 0xD0 ? 2 : 3);
  }
  h->cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

int onXrun(void* arg) {
  static_cast<Harness*>(arg)->xruns.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

void quiet(const char*) {}

// Waits (bounded) until the process callback has run `count` more cycles.
bool waitCycles(Harness* h, uint64_t count) {
  const uint64_t from = h->cycles.load(std::memory_order_acquire);
  const auto give = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < give) {
    if (h->cycles.load(std::memory_order_acquire) - from >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// Sends one message on keys and waits until `back` arrives on synth.
bool passes(Harness* h, uint32_t message, uint32_t back, std::chrono::milliseconds patience) {
  h->lastHeard.store(0);
  h->probe.store(message);
  const auto give = Clock::now() + patience;
  while (Clock::now() < give) {
    if (h->lastHeard.load() == back) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// CPU time of a process, all its threads, in nanoseconds (scheduler statistics).
double cpuNs(pid_t pid) {
  double total = 0;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    double ns = 0;
    if (in >> ns) total += ns;
  }
  return total;
}

// ---- Figures.

struct Figures {
  int64_t total;          // messages to send
  int64_t sent;           // messages sent
  int64_t received;       // distinct messages back
  int64_t outOfOrder;     // arrived after a later one
  int64_t duplicates;     // arrived twice
  int64_t foreign;        // not ours
  int64_t wrongChannel;   // ours on another channel
  int64_t late;           // sent a cycle or more after their schedule
  uint32_t min;           // latency, frames
  uint32_t median;        // latency, frames
  uint32_t p99;           // latency, frames
  uint32_t max;           // latency, frames
  double sendSeconds;     // wall time of the sending
  double drainSeconds;    // wall time from the last message sent to the last one back
  double programCpu;      // percent of one core the program used while sending
  double xvfbCpu;         // the same for Xvfb
  double jackdCpu;        // the same for jackd
  uint64_t xruns;         // xruns during the run
  int64_t crossed[kCrossedKept];  // messages by period boundaries crossed
};

struct Watched {
  pid_t program;  // the program
  pid_t xvfb;     // the X server
  pid_t jackd;    // the JACK server
};

Figures flood(Harness* h, jack_port_t* out, jack_port_t* in, uint8_t channel, double rate, double seconds,
              double sampleRate, uint32_t period, const Watched& watched) {
  Run r;
  r.period = period;
  r.out = out;
  r.in = in;
  r.channel = channel;
  r.total = static_cast<int64_t>(std::llround(rate * seconds));
  r.framesPerMessage = sampleRate / rate;
  r.sentAt.assign(static_cast<size_t>(r.total), 0);
  r.got.assign(static_cast<size_t>(r.total), 0);
  r.latency.assign(static_cast<size_t>(r.total), 0);
  const uint64_t xrunsBefore = h->xruns.load();
  const double cpu0[3] = {cpuNs(watched.program), cpuNs(watched.xvfb), cpuNs(watched.jackd)};
  const auto start = Clock::now();
  h->active.store(&r, std::memory_order_release);
  const auto longest = std::chrono::duration<double>(seconds * 3 + 10);
  while (r.sentShown.load(std::memory_order_relaxed) < r.total && Clock::now() - start < longest) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto sentAll = Clock::now();
  const double cpu1[3] = {cpuNs(watched.program), cpuNs(watched.xvfb), cpuNs(watched.jackd)};
  // The tail: until everything is back, or nothing more comes.
  int64_t seen = -1;
  auto lastChange = Clock::now();
  auto lastArrival = sentAll;
  while (Clock::now() - sentAll < kDrainLongest) {
    const int64_t now = r.receivedShown.load(std::memory_order_relaxed);
    if (now != seen) {
      seen = now;
      lastChange = Clock::now();
      lastArrival = lastChange;
    }
    if (now >= r.total || Clock::now() - lastChange > kDrainQuiet) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  h->active.store(nullptr, std::memory_order_release);
  waitCycles(h, 2);  // the process callback has let go of the run

  Figures f{};
  f.total = r.total;
  f.sent = r.sent;
  f.received = r.received;
  f.outOfOrder = r.outOfOrder;
  f.duplicates = r.duplicates;
  f.foreign = r.foreign;
  f.wrongChannel = r.wrongChannel;
  f.late = r.late;
  f.sendSeconds = std::chrono::duration<double>(sentAll - start).count();
  f.drainSeconds = std::max(0.0, std::chrono::duration<double>(lastArrival - sentAll).count());
  f.programCpu = 100 * (cpu1[0] - cpu0[0]) / 1e9 / f.sendSeconds;
  f.xvfbCpu = 100 * (cpu1[1] - cpu0[1]) / 1e9 / f.sendSeconds;
  f.jackdCpu = 100 * (cpu1[2] - cpu0[2]) / 1e9 / f.sendSeconds;
  f.xruns = h->xruns.load() - xrunsBefore;
  std::copy(std::begin(r.crossed), std::end(r.crossed), std::begin(f.crossed));
  std::vector<uint32_t> lat(r.latency.begin(), r.latency.begin() + r.received);
  if (!lat.empty()) {
    std::sort(lat.begin(), lat.end());
    f.min = lat.front();
    f.median = lat[lat.size() / 2];
    f.p99 = lat[std::min(lat.size() - 1, static_cast<size_t>(std::ceil(0.99 * lat.size())) - 1)];
    f.max = lat.back();
  }
  return f;
}

// The period boundaries messages crossed, as "1 (99.0 %), 2 (1.0 %)".
std::string crossings(const Figures& f) {
  std::string out;
  for (int k = 0; k < kCrossedKept; k++) {
    if (f.crossed[k] == 0 || f.received == 0) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%s%d%s (%.1f %%)", out.empty() ? "" : ", ", k, k == kCrossedKept - 1 ? "+" : "",
                  100.0 * static_cast<double>(f.crossed[k]) / static_cast<double>(f.received));
    out += text;
  }
  return out.empty() ? "-" : out;
}

int usage() {
  std::fprintf(stderr, "usage: notalumen_jack_flood PROGRAM [--rate MESSAGES_PER_SECOND] [--seconds S]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string program;
  double rate = 100000;
  double seconds = 10;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if ((a == "--rate" || a == "--seconds") && i + 1 < argc) {
      const double v = std::atof(argv[++i]);
      if (v <= 0) return usage();
      (a == "--rate" ? rate : seconds) = v;
    } else if (a.rfind("--", 0) == 0 || !program.empty()) {
      return usage();
    } else {
      program = a;
    }
  }
  if (program.empty()) return usage();
  if (::access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: no program at %s\n", program.c_str());
    return 2;
  }
  for (const char* needed : {"jackd", "Xvfb"}) {
    if (!onPath(needed)) {
      std::fprintf(stderr, "notalumen_jack_flood: %s is not installed\n", needed);
      return 2;
    }
  }
  const std::string loadBefore = loadAverage();

  // The JACK server (its name goes into JACK_DEFAULT_SERVER for us and the program).
  JackServer server{};
  std::string why;
  if (!jackServerStart(&server, "flood", &why)) {
    std::fprintf(stderr, "notalumen_jack_flood: %s\n", why.c_str());
    return 2;
  }
  jack_set_error_function(quiet);
  jack_set_info_function(quiet);
  Harness h;
  pid_t xvfb = 0;
  pid_t child = 0;
  Display* x = nullptr;
  Window window = 0;
  std::string scratch;
  // Everything is taken down at the end, whichever way the run went.
  auto finish = [&](int code) {
    // Closed as a window manager would: the program leaves JACK cleanly (a
    // killed client would hold up the synchronous server until it gives up).
    if (child > 0) closeProgram(x, window, child);
    if (x != nullptr) XCloseDisplay(x);
    if (h.client != nullptr) jack_client_close(h.client);
    jackServerStop(&server);
    if (xvfb > 0) stopXvfb(xvfb);
    if (!scratch.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
    }
    return code;
  };

  jack_status_t status;
  h.client = jack_client_open("nlflood", JackNoStartServer, &status);
  if (h.client == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot open a JACK client\n");
    return finish(2);
  }
  h.keys = jack_port_register(h.client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  h.synth = jack_port_register(h.client, "synth", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  h.loopOut = jack_port_register(h.client, "loop_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  h.loopIn = jack_port_register(h.client, "loop_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (!h.keys || !h.synth || !h.loopOut || !h.loopIn || jack_set_process_callback(h.client, process, &h) != 0 ||
      jack_set_xrun_callback(h.client, onXrun, &h) != 0 || jack_activate(h.client) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot set up the JACK ports\n");
    return finish(2);
  }
  const std::string clientName = jack_get_client_name(h.client);
  const double sampleRate = jack_get_sample_rate(h.client);
  const jack_nframes_t period = jack_get_buffer_size(h.client);
  const size_t midiBuffer = jack_port_type_get_buffer_size(h.client, JACK_DEFAULT_MIDI_TYPE);
  std::fprintf(stderr, "JACK server %s: %u frames a period at %.0f Hz = %.3f ms\n", server.name, period, sampleRate,
               1000.0 * period / sampleRate);

  // The X server and the program, from a scratch copy beside its settings.
  std::string display;
  x = startXvfb(&xvfb, &display, &why);
  if (x == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: %s\n", why.c_str());
    return finish(2);
  }
  char pattern[] = "/tmp/notalumen-flood-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::fprintf(stderr, "notalumen_jack_flood: no scratch directory: %s\n", std::strerror(errno));
    return finish(2);
  }
  scratch = pattern;
  const std::string copy = scratch + "/notalumen";
  std::error_code copied;
  std::filesystem::copy_file(program, copy, copied);
  ::chmod(copy.c_str(), 0755);
  const std::string settings = "-OUT1:\"" + clientName + ":synth\"\r\n-IN1:\"" + clientName + ":keys\":CH3\r\n-nMin=" +
                               std::to_string(kLowNote) + " -nMax=" + std::to_string(kHighNote) + "\r\n";
  std::ofstream(scratch + "/sonrack.ini", std::ios::binary) << settings;
  ::setenv("DISPLAY", display.c_str(), 1);
  ::setenv("NOTALUMEN_MIDI", "jack", 1);
  child = launch({copy}, scratch + "/output.log", scratch, -1);
  bool ended = false;
  window = waitForWindow(x, "Notalumen ", child, kPatience, &ended);
  if (ended) child = 0;
  if (window == 0) {
    std::fprintf(stderr, "notalumen_jack_flood: the program's window did not show\n%s",
                 fileText(scratch + "/output.log").c_str());
    return finish(2);
  }
  bool through = false;
  for (int i = 0; i < 150 && !through; i++) through = passes(&h, kProbe, kProbeBack, std::chrono::milliseconds(100));
  // A first note gives channel 3 its keyboard strip, so the flood finds the
  // keyboard laid out as it stays.
  through = through && passes(&h, 0x90 | 60 << 8 | 100 << 16, 0x92 | 60 << 8 | 100 << 16, kPatience) &&
            passes(&h, 0x80 | 60 << 8, 0x82 | 60 << 8, kPatience);
  if (!through) {
    std::fprintf(stderr, "notalumen_jack_flood: nothing passes the program\n%s",
                 fileText(scratch + "/output.log").c_str());
    return finish(2);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const Watched watched = {child, xvfb, server.pid};

  // The baseline: our own output straight back to our own input.
  const std::string loopFrom = clientName + ":loop_out";
  const std::string loopTo = clientName + ":loop_in";
  if (jack_connect(h.client, loopFrom.c_str(), loopTo.c_str()) != 0) {
    std::fprintf(stderr, "notalumen_jack_flood: cannot connect the loopback\n");
    return finish(2);
  }
  std::fprintf(stderr, "Direct loopback: %.0f messages/s for %.0f s ...\n", rate, seconds);
  const Figures loop = flood(&h, h.loopOut, h.loopIn, 0, rate, seconds, sampleRate, period, watched);
  jack_disconnect(h.client, loopFrom.c_str(), loopTo.c_str());
  std::fprintf(stderr, "Through the program: %.0f messages/s for %.0f s ...\n", rate, seconds);
  const Figures prog = flood(&h, h.keys, h.synth, kProgramChannel, rate, seconds, sampleRate, period, watched);
  int programStatus = 0;
  const bool programAlive = ::waitpid(child, &programStatus, WNOHANG) == 0;
  const std::string loadAfter = loadAverage();

  // ---- The report.
  utsname host{};
  ::uname(&host);
  char when[64];
  const std::time_t t = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&t));
  char rateText[128];
  std::snprintf(rateText, sizeof rateText, "--rate %.0f --seconds %g", rate, seconds);
  const std::string command = std::string("`") + argv[0] + " " + program + " " + rateText + "`";
  const double perCycle = rate * period / sampleRate;
  std::printf("Run of %s on %u cores (%s), %s %s;\n", when, std::thread::hardware_concurrency(), cpuModel().c_str(),
              host.sysname, host.release);
  std::printf("load average %s before the run, %s after it.\n", loadBefore.c_str(), loadAfter.c_str());
  std::printf("JACK: a private `jackd -S -r -d dummy -r 48000 -p 256` (synchronous, not real-time):\n");
  std::printf("a period of %u frames at %.0f Hz, %.3f ms; MIDI port buffers of %s bytes.\n", period, sampleRate,
              1000.0 * period / sampleRate, grouped(static_cast<int64_t>(midiBuffer)).c_str());
  std::printf("The program ran from a scratch copy in a private Xvfb (1280x1024x24) with the settings\n");
  std::printf("`-OUT1:\"%s:synth\" -IN1:\"%s:keys\":CH3 -nMin=%d -nMax=%d`: the notes come in on channel 1\n",
              clientName.c_str(), clientName.c_str(), kLowNote, kHighNote);
  std::printf("and must leave on channel 3, and each one draws its key in the window (keys %d..%d).\n", kLowNote,
              kHighNote);
  std::printf("Traffic: note-on and note-off in turn over the %d keys, velocity 1..127 stepping once a round,\n",
              kNotes);
  std::printf("so no message repeats within %s; %s messages/s for %g s (about %.0f a period), each at its\n",
              grouped(kPattern).c_str(), grouped(static_cast<int64_t>(rate)).c_str(), seconds, perCycle);
  std::printf("own frame within the period. Latency is the frame it arrives at (the period's first frame\n");
  std::printf("plus the event's offset) less the frame it was sent at. The baseline is the harness's\n");
  std::printf("own output connected straight to its own input, flooded the same way just before. Both keep\n");
  std::printf("each message's frame within the period; the spread is the maximum less the minimum latency.\n\n");

  auto verdictNone = [](int64_t v) { return std::string(v == 0 ? "none (met)" : "none (missed)"); };
  auto addedVerdict = [&](int64_t v) {
    return std::string(v <= static_cast<int64_t>(period) ? "at most one period (met)" : "at most one period (missed)");
  };
  std::printf("| Figure | Through the program | Target | Baseline in the same run: direct loopback | Command |\n");
  std::printf("|---|---|---|---|---|\n");
  std::printf("| Messages sent | %s in %.2f s | %s in %g s | %s in %.2f s | %s |\n", grouped(prog.sent).c_str(),
              prog.sendSeconds, grouped(prog.total).c_str(), seconds, grouped(loop.sent).c_str(), loop.sendSeconds,
              command.c_str());
  std::printf("| Messages back | %s (the last %.2f s after the last was sent) | all | %s | %s |\n",
              grouped(prog.received).c_str(), prog.drainSeconds, grouped(loop.received).c_str(), command.c_str());
  std::printf("| Lost | %s | %s | %s | %s |\n", grouped(prog.sent - prog.received).c_str(),
              verdictNone(prog.sent - prog.received).c_str(), grouped(loop.sent - loop.received).c_str(),
              command.c_str());
  std::printf("| Out of order | %s | none | %s | %s |\n", grouped(prog.outOfOrder).c_str(),
              grouped(loop.outOfOrder).c_str(), command.c_str());
  std::printf("| Not on channel 3 / duplicated / not ours | %s / %s / %s | none | %s / %s / %s (channel 1 expected) | %s |\n",
              grouped(prog.wrongChannel).c_str(), grouped(prog.duplicates).c_str(), grouped(prog.foreign).c_str(),
              grouped(loop.wrongChannel).c_str(), grouped(loop.duplicates).c_str(), grouped(loop.foreign).c_str(),
              command.c_str());
  std::printf("| Latency, median | %s | - | %s | %s |\n", frames(prog.median, sampleRate).c_str(),
              frames(loop.median, sampleRate).c_str(), command.c_str());
  std::printf("| Latency, 99th percentile | %s | - | %s | %s |\n", frames(prog.p99, sampleRate).c_str(),
              frames(loop.p99, sampleRate).c_str(), command.c_str());
  std::printf("| Latency, maximum | %s | - | %s | %s |\n", frames(prog.max, sampleRate).c_str(),
              frames(loop.max, sampleRate).c_str(), command.c_str());
  const int64_t spread = static_cast<int64_t>(prog.max) - prog.min;
  std::printf("| Latency spread (maximum - minimum) | %s | %s | %s | %s |\n", frames(spread, sampleRate).c_str(),
              spread <= 1 ? "at most 1 frame (met)" : "at most 1 frame (missed)",
              frames(static_cast<int64_t>(loop.max) - loop.min, sampleRate).c_str(), command.c_str());
  const int64_t addMedian = static_cast<int64_t>(prog.median) - loop.median;
  const int64_t addP99 = static_cast<int64_t>(prog.p99) - loop.p99;
  const int64_t addMax = static_cast<int64_t>(prog.max) - loop.max;
  std::printf("| Period boundaries between sending and arrival | %s | - | %s | %s |\n", crossings(prog).c_str(),
              crossings(loop).c_str(), command.c_str());
  std::printf("| Added latency, median | %s | %s | - | %s |\n", added(addMedian, sampleRate).c_str(),
              addedVerdict(addMedian).c_str(), command.c_str());
  std::printf("| Added latency, 99th percentile | %s | %s | - | %s |\n", added(addP99, sampleRate).c_str(),
              addedVerdict(addP99).c_str(), command.c_str());
  std::printf("| Added latency, maximum | %s | %s | - | %s |\n", added(addMax, sampleRate).c_str(),
              addedVerdict(addMax).c_str(), command.c_str());
  std::printf("| Sent a period or more behind the schedule (port buffer full) | %s | - | %s | %s |\n",
              grouped(prog.late).c_str(), grouped(loop.late).c_str(), command.c_str());
  std::printf("| CPU while sending, percent of one core: program / Xvfb / jackd | %s / %s / %s | - | %s / %s / %s (program idle) | %s |\n",
              percent(prog.programCpu).c_str(), percent(prog.xvfbCpu).c_str(), percent(prog.jackdCpu).c_str(),
              percent(loop.programCpu).c_str(), percent(loop.xvfbCpu).c_str(), percent(loop.jackdCpu).c_str(),
              command.c_str());
  std::printf("| xruns reported by the server | %s | - | %s | %s |\n", grouped(static_cast<int64_t>(prog.xruns)).c_str(),
              grouped(static_cast<int64_t>(loop.xruns)).c_str(), command.c_str());
  if (!programAlive) {
    std::printf("\nThe program ended during the run (wait status %d).\n", programStatus);
    child = 0;
  }
  std::fflush(stdout);
  return finish(0);
}
