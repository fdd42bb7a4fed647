// Program playback and relayout: 255-entry programs of notes and of one
// system-exclusive message, fired by a note on IN1 and sent to 1 or 16
// outputs; and a full relayout of a keyboard of 16 columns.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_machine.h"
#include "state/program_tables.h"
#include "display/window.h"
#include "engine/engine.h"
#include "platform/sim/sim.h"

namespace {

enum { kTrigger = 60, kProgram = 1 };

// Program 1 of IN1's table: 85 note messages on channel 1 (on and off in
// turn over the displayed range), 255 entries.
void storeNoteProgram(void) {
  int k = 0;
  for (int m = 0; k + 3 <= kProgramMaxLength; m++) {
    const int note = 24 + (m / 2) % 49;
    programData[0][kProgram][k++] = m % 2 == 0 ? 0x90 : 0x80;
    programData[0][kProgram][k++] = note;
    programData[0][kProgram][k++] = m % 2 == 0 ? 100 : 64;
  }
  programLength[0][kProgram] = static_cast<int16_t>(k);
  keyProgram[0][kTrigger] = kProgram;
}

// Program 1 of IN1's table: one system-exclusive message of 255 bytes.
void storeExclusiveProgram(void) {
  int k = 0;
  programData[0][kProgram][k++] = 0xF0;
  while (k < kProgramMaxLength - 1) {
    programData[0][kProgram][k] = k & 0x7F;
    k++;
  }
  programData[0][kProgram][k++] = 0xF7;
  programLength[0][kProgram] = static_cast<int16_t>(k);
  keyProgram[0][kTrigger] = kProgram;
}

// Programs per second; bytes per second counts the program entries played.
void playRepeatedly(benchmark::State& state) {
  const uint32_t trigger = benchNoteWord(1, 0, kTrigger, 100);
  simMidiInShort(0, trigger, 0);  // warm-up
  for (auto _ : state) simMidiInShort(0, trigger, 0);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * programLength[0][kProgram]);
}

void BM_PlayNoteProgram(benchmark::State& state) {
  benchOpenMachine(1, static_cast<int>(state.range(0)), kBenchColumns);
  benchTakeEveryChannel();
  storeNoteProgram();
  playRepeatedly(state);
  benchCloseMachine();
}
BENCHMARK(BM_PlayNoteProgram)->ArgName("outputs")->Arg(1)->Arg(16);

void BM_PlayExclusiveProgram(benchmark::State& state) {
  benchOpenMachine(1, static_cast<int>(state.range(0)), kBenchColumns);
  benchTakeEveryChannel();
  storeExclusiveProgram();
  playRepeatedly(state);
  benchCloseMachine();
}
BENCHMARK(BM_PlayExclusiveProgram)->ArgName("outputs")->Arg(1)->Arg(16);

// A full relayout on the window thread with 16 columns: layout, a new back
// buffer, every key of every column drawn, the window fitted and repainted.
void BM_Relayout16Columns(benchmark::State& state) {
  benchOpenMachine(1, 1, kBenchColumns);
  benchTakeEveryChannel();
  int64_t done = 0;
  for (auto _ : state) {
    EngineLock hold;  // as start-up and the engine hold it around a relayout
    relayoutKeyboard();
    if (++done % 4096 == 0) {
      state.PauseTiming();
      simClearPauses();  // the sim records each relayout's pause
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(done);
  benchCloseMachine();
}
BENCHMARK(BM_Relayout16Columns);

}  // namespace
