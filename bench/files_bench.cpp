// Reading large settings and program files from a tmpfs file through the
// buffered reader (bytes per second), the reader alone as the baseline, and
// Shift-JIS conversion of long strings both ways.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../tests/program_file.h"
#include "bench_machine.h"
#include "config/program_reader.h"
#include "app/startup.h"
#include "config/settings.h"
#include "platform/sim/sim.h"
#include "support/file_io.h"
#include "support/sjis.h"

namespace {

// About 1 MiB of settings: port definitions with their modifiers, display
// options, comments of every form, over and over.
std::string largeSettings(void) {
  std::string text;
  char line[160];
  for (int round = 0; text.size() < (1u << 20); round++) {
    text += "// Studio rack, take " + std::to_string(round) + ": every port and the display\r\n";
    for (int k = 1; k <= 16; k++) {
      std::snprintf(line, sizeof line, "-OUT%d:\"Synth %d\":GS   -IN%d:\"Keys %d\":CH%d   ' port pair %d\r\n", k, k,
                    k, k, (k + round) % 16 + 1, k);
      text += line;
    }
    text += "/* the display */ -mX=2 -mY=1.6\r\n-nMin=36 -nMax=84\r\n# end of take\r\n\r\n";
  }
  return text;
}

// A scratch file on tmpfs with the bytes, named in the program's form.
struct ScratchFile {
  std::string dir;
  std::string simName;
  size_t size;
};

ScratchFile scratchFile(const char* name, const std::string& bytes) {
  ScratchFile f;
  f.dir = benchMakeDir();
  benchWriteFile(f.dir + "/" + name, bytes);
  f.simName = benchSimPath(f.dir + "/" + name);
  f.size = bytes.size();
  return f;
}

void BM_ReadSettingsFile(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  const ScratchFile f = scratchFile("sonrack.ini", largeSettings());
  for (auto _ : state) {
    if (readSettingsFile(f.simName.c_str(), nullptr, 0, 0) != 0) {
      state.SkipWithError("the settings file did not open");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.size));
  benchRemoveDir(f.dir);
  benchCloseMachine();
}
BENCHMARK(BM_ReadSettingsFile)->Unit(benchmark::kMillisecond);

void BM_ReadProgramFile(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  const ScratchFile f = scratchFile("progrm01.ini", fullProgramFile());
  for (auto _ : state) {
    if (readProgramTable(f.simName.c_str(), nullptr, 0, 0) != 0) {
      state.SkipWithError("the program file did not open");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.size));
  benchRemoveDir(f.dir);
  benchCloseMachine();
}
BENCHMARK(BM_ReadProgramFile)->Unit(benchmark::kMillisecond);

// Baseline: the same program file through the reader alone, byte by byte.
void BM_ReadBytesOnly(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  const ScratchFile f = scratchFile("progrm01.ini", fullProgramFile());
  for (auto _ : state) {
    if (rfopen(f.simName.c_str()) != 0) {
      state.SkipWithError("the file did not open");
      break;
    }
    unsigned sum = 0;
    for (int c = rfgetc(); c >= 0; c = rfgetc()) sum += static_cast<unsigned>(c);
    benchmark::DoNotOptimize(sum);
    rfclose();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(f.size));
  benchRemoveDir(f.dir);
  benchCloseMachine();
}
BENCHMARK(BM_ReadBytesOnly)->Unit(benchmark::kMillisecond);

// About 9,000 bytes of Shift-JIS text (under the 9,998 the conversions take):
// kanji, kana, full-width forms and ASCII words in turn.
std::string longSjisText(void) {
  static const char* const pieces[] = {"\x93\xfa\x96\x7b\x8c\xea",  // nihongo
                                       "\x82\xa9\x82\xc8",          // kana
                                       " MIDI ",
                                       "\x83\x4c\x81\x5b\x83\x7b\x81\x5b\x83\x68",  // katakana
                                       "\x82\x60\x82\x61\x82\x62",                  // full-width letters
                                       " sonrack.ini ",
                                       "\x89\xb9\x8a\x79\x81\x42"};  // ongaku and a full stop
  std::string text;
  for (int i = 0; text.size() < 9000; i++) text += pieces[i % 7];
  return text;
}

void BM_SjisToWide(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  simSetCodePage(932);
  const std::string text = longSjisText();
  std::vector<char16_t> wide(10000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(sjisToWide(wide.data(), static_cast<int>(wide.size()), text.c_str()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  benchCloseMachine();
}
BENCHMARK(BM_SjisToWide);

void BM_WideToSjis(benchmark::State& state) {
  benchOpenMachine(0, 0, kBenchNoWindow);
  simSetCodePage(932);
  const std::string text = longSjisText();
  std::vector<char16_t> wide(10000);
  const int examined = sjisToWide(wide.data(), static_cast<int>(wide.size()), text.c_str());
  if (examined != static_cast<int>(text.size())) {
    state.SkipWithError("the text did not convert whole");
    benchCloseMachine();
    return;
  }
  std::vector<char> back(10000);
  for (auto _ : state) {
    benchmark::DoNotOptimize(wideToSjis(back.data(), static_cast<int>(back.size()), wide.data()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  benchCloseMachine();
}
BENCHMARK(BM_WideToSjis);

// Baselines for the conversions: the same text widened byte by byte, and
// narrowed unit by unit, without tables.
void BM_WidenBytes(benchmark::State& state) {
  const std::string text = longSjisText();
  std::vector<char16_t> wide(10000);
  for (auto _ : state) {
    size_t i = 0;
    for (; i < text.size(); i++) wide[i] = static_cast<unsigned char>(text[i]);
    wide[i] = 0;
    benchmark::DoNotOptimize(wide.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_WidenBytes);

void BM_NarrowUnits(benchmark::State& state) {
  const std::string text = longSjisText();
  std::vector<char16_t> wide(text.begin(), text.end());
  wide.push_back(0);
  std::vector<char> back(10000);
  for (auto _ : state) {
    size_t i = 0;
    for (; wide[i] != 0; i++) back[i] = static_cast<char>(wide[i]);
    back[i] = 0;
    benchmark::DoNotOptimize(back.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_NarrowUnits);

}  // namespace
