// Events per second through the whole input path: a short message delivered
// by the sim's MIDI system on the benchmark thread reaches midiInCallback, the
// engine, the routing and the senders to 1 or 16 outputs, and drawKey paints
// the key into the back buffer and the window; then the same without drawing.
// Baselines: what the sim's delivery and send cost on their own.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_machine.h"
#include "display/drawing.h"
#include "midi/os_midi.h"
#include "midi/ports.h"
#include "platform/sim/sim.h"

namespace {

enum { kFirstNote = 24, kLastNote = 72 };  // the default displayed range

// Chords over all 16 channels: for each key of the displayed range, note-on on
// every channel, then note-off on every channel.
const std::vector<uint32_t>& noteTraffic() {
  static const std::vector<uint32_t> traffic = [] {
    std::vector<uint32_t> t;
    for (int n = kFirstNote; n <= kLastNote; n++) {
      for (int c = 0; c < 16; c++) t.push_back(benchNoteWord(1, c, n, 100));
      for (int c = 0; c < 16; c++) t.push_back(benchNoteWord(0, c, n, 64));
    }
    return t;
  }();
  return traffic;
}

void deliverAll(const std::vector<uint32_t>& traffic) {
  for (uint32_t word : traffic) simMidiInShort(0, word, 0);
}

void BM_InputPath(benchmark::State& state, BenchDisplay display) {
  const std::vector<uint32_t>& traffic = noteTraffic();
  benchOpenMachine(1, static_cast<int>(state.range(0)), display);
  benchTakeEveryChannel();
  deliverAll(traffic);  // warm-up: every key drawn once in every look
  for (auto _ : state) deliverAll(traffic);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(traffic.size()));
  benchCloseMachine();
}
BENCHMARK_CAPTURE(BM_InputPath, window, kBenchColumns)->ArgName("outputs")->Arg(1)->Arg(16);
BENCHMARK_CAPTURE(BM_InputPath, no_window, kBenchNoWindow)->ArgName("outputs")->Arg(1)->Arg(16);
BENCHMARK_CAPTURE(BM_InputPath, no_column, kBenchNoColumn)->ArgName("outputs")->Arg(1)->Arg(16);

// One key drawn On, then Off, in one of 16 columns: the drawing share of an event.
void BM_DrawKey(benchmark::State& state) {
  benchOpenMachine(1, 1, kBenchColumns);
  benchTakeEveryChannel();
  int64_t keys = 0;
  for (auto _ : state) {
    for (int n = kFirstNote; n <= kLastNote; n++) {
      drawKey(n & 15, n, kLookOn);
      drawKey(n & 15, n, kLookOff);
    }
    keys += 2 * (kLastNote - kFirstNote + 1);
  }
  state.SetItemsProcessed(keys);
  benchCloseMachine();
}
BENCHMARK(BM_DrawKey);

// Baseline: simMidiInShort to a device whose input is not open (the sim's
// lookup alone).
void BM_SimDeliveryNoInput(benchmark::State& state) {
  benchOpenMachine(0, 1, kBenchNoWindow);
  simAddMidiIn("Keys 1");
  const std::vector<uint32_t>& traffic = noteTraffic();
  for (auto _ : state) deliverAll(traffic);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(traffic.size()));
  benchCloseMachine();
}
BENCHMARK(BM_SimDeliveryNoInput);

void ignoreInput(MidiHandle, unsigned, uintptr_t, uintptr_t param1, uintptr_t) { benchmark::DoNotOptimize(param1); }

// Baseline: the sim's whole delivery to an open input whose callback does
// nothing (the floor of the input path on this machine).
void BM_SimDeliveryEmptyCallback(benchmark::State& state) {
  benchOpenMachine(0, 1, kBenchNoWindow);
  simAddMidiIn("Keys 1");
  MidiHandle handle = 0;
  if (osMidiInOpen(&handle, 0, ignoreInput, 0) != 0 || osMidiInStart(handle) != 0) {
    state.SkipWithError("the input did not open");
    benchCloseMachine();
    return;
  }
  const std::vector<uint32_t>& traffic = noteTraffic();
  for (auto _ : state) deliverAll(traffic);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(traffic.size()));
  osMidiInReset(handle);
  osMidiInClose(handle);
  benchCloseMachine();
}
BENCHMARK(BM_SimDeliveryEmptyCallback);

// Baseline: one short word to the sim's output device, as a sender hands it
// over (recording off).
void BM_SimSend(benchmark::State& state) {
  benchOpenMachine(0, 1, kBenchNoWindow);
  const MidiHandle handle = outPorts[0].handle;
  uint32_t word = 0x643C90;
  for (auto _ : state) {
    benchmark::DoNotOptimize(osMidiOutShort(handle, word));
    word ^= 0x10;
  }
  state.SetItemsProcessed(state.iterations());
  benchCloseMachine();
}
BENCHMARK(BM_SimSend);

}  // namespace
