// One flood through a pair of the flood harness's JACK ports (see flood_run.h).
#include "flood_run.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDrainQuiet = std::chrono::seconds(3);     // a drain ends after this long without arrivals
constexpr auto kDrainLongest = std::chrono::seconds(60);  // and at the latest after this long

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


uint32_t pack(const uint8_t* bytes, size_t size) {
  uint32_t v = 0;
  for (size_t i = 0; i < size && i < 3; i++) v |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  return v;
}

}  // namespace

int floodProcess(jack_nframes_t frames, void* arg) {
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
  jack_midi_clear_buffer(keys);
  jack_midi_clear_buffer(jack_port_get_buffer(h->loopOut, frames));
  jack_midi_clear_buffer(jack_port_get_buffer(h->peerOut, frames));
  if (run) {
    send(run, jack_port_get_buffer(run->out, frames), first, frames);
    run->sentShown.store(run->sent, std::memory_order_relaxed);
    run->receivedShown.store(run->received, std::memory_order_relaxed);
  } else if (const uint32_t p = h->probe.exchange(0)) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16)};
    jack_midi_event_write(keys, 0, bytes, (p & 0xF0) == 0xC0 || (p & 0xF0) == 0xD0 ? 2 : 3);
  }
  h->cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

int floodXrun(void* arg) {
  static_cast<Harness*>(arg)->xruns.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

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
static double cpuNs(pid_t pid) {
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
