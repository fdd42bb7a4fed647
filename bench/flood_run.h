// One flood through a pair of the flood harness's JACK ports: the traffic, the
// harness's client with the process callback that sends the messages at their
// frames and checks what comes back, and the figures of a run.
#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kLowNote = 21;                              // the keyboard shown: -nMin=21 ...
constexpr int kHighNote = 108;                            // ... -nMax=108, so every message draws a key
constexpr int kNotes = kHighNote - kLowNote + 1;          // keys in the pattern
constexpr int64_t kPattern = 2 * kNotes * 127;            // messages before the pattern repeats
constexpr int kCrossedKept = 8;                           // period boundaries counted one by one

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

struct Harness {
  jack_client_t* client = nullptr;   // our client on the private server
  jack_port_t* keys = nullptr;       // output: the program's IN1
  jack_port_t* synth = nullptr;      // input: the program's OUT1
  jack_port_t* loopOut = nullptr;    // output looped straight back ...
  jack_port_t* loopIn = nullptr;     // ... to this input
  jack_port_t* peerOut = nullptr;    // output to the peer's input ...
  jack_port_t* peerIn = nullptr;     // ... and its output back here
  std::atomic<Run*> active{nullptr};       // the flood under way, null when none
  std::atomic<uint32_t> probe{0};          // a message to send once on keys (packed bytes), 0 none
  std::atomic<uint32_t> lastHeard{0};      // last 1..3-byte message on synth outside a flood (packed)
  std::atomic<uint64_t> heard{0};          // messages on synth outside a flood
  std::atomic<uint64_t> cycles{0};         // process cycles run
  std::atomic<uint64_t> xruns{0};          // xruns the server reported
};

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

// The harness client's process and xrun callbacks (arg: the Harness).
int floodProcess(jack_nframes_t frames, void* arg);
int floodXrun(void* arg);
// Waits (bounded) until the process callback has run `count` more cycles.
bool waitCycles(Harness* h, uint64_t count);
// Sends one message on keys and waits until `back` arrives on synth.
bool passes(Harness* h, uint32_t message, uint32_t back, std::chrono::milliseconds patience);
// Floods `out` at `rate` messages a second for `seconds` and takes what comes
// back on `in` (on `channel`); the CPU figures are of the processes watched.
Figures flood(Harness* h, jack_port_t* out, jack_port_t* in, uint8_t channel, double rate, double seconds,
              double sampleRate, uint32_t period, const Watched& watched);
// The period boundaries messages crossed, as "1 (99.0 %), 2 (1.0 %)".
std::string crossings(const Figures& f);
