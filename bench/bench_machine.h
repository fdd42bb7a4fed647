// The sim machine as the benchmarks set it up: inputs and outputs opened
// through the port code, the keyboard window laid out as at start-up, the
// diagnostics quiet as in the running program, and the sim's recording of
// output traffic switched off so that only the program's own work is timed.
#pragma once

#include <cstdint>
#include <string>

// How the keyboard is shown while input is timed.
enum BenchDisplay {
  kBenchColumns = 0,   // a window with one column per channel (16 columns after warm-up)
  kBenchNoWindow = 1,  // no window: drawKey computes the key and fills nothing
  kBenchNoColumn = 2,  // fixed columns with none in use: no note is drawn at all
};

// A fresh machine with `inputs` input devices opened as IN1..INn and
// `outputs` output devices opened as OUT1..OUTn, the display as asked, and
// output recording off.
void benchOpenMachine(int inputs, int outputs, BenchDisplay display);
// Closes the ports and the window and resets every table.
void benchCloseMachine(void);

// Every channel plays one note once, so each takes its column (and the
// keyboard is laid out again for each) before anything is timed.
void benchTakeEveryChannel(void);

// A note-on or note-off word as an input device delivers it.
inline uint32_t benchNoteWord(int on, int channel, int note, int velocity) {
  return static_cast<uint32_t>((on ? 0x90 : 0x80) | channel) | static_cast<uint32_t>(note) << 8 |
         static_cast<uint32_t>(velocity) << 16;
}

// A scratch directory on tmpfs (/dev/shm, else the temporary directory) in
// host form; removed by benchRemoveDir.
std::string benchMakeDir(void);
void benchRemoveDir(const std::string& hostDir);
// A host path in the program's own (Windows-style) form.
std::string benchSimPath(const std::string& hostPath);
void benchWriteFile(const std::string& hostPath, const std::string& bytes);
