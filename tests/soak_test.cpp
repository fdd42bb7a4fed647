// Soak: an hour of playing compressed into a million messages (notes,
// controllers, the damper, system exclusive, program changes and notes that
// fire stored programs) from two input devices on threads of their own to four
// outputs (two MIDI devices, the MIDI mapper, a serial port), while the window
// thread plays mouse notes and reloads the program tables. Every message that
// should arrive arrives at every output, and the heap does not grow.
//
// Memory. The sim machine records every call and everything each output
// receives, which grows with the traffic and is no part of the program. So
// the run is cut into rounds; after each round the ports are closed, the
// window destroyed, the machine reset (its recordings freed) and everything
// opened again, while the program's own tables, settings and programs carry on.
// The heap in use is measured right after such a reset, once halfway and once
// at the end: whatever the program (or its opening and closing) keeps
// allocating in the second half shows as a difference. glibc's figures
// (mallinfo2, all arenas, mapped blocks included) are used in a plain build,
// the sanitizer allocator's own count under a sanitizer.
//
// NOTALUMEN_SOAK_MESSAGES sets the number of messages (default a million, a
// tenth of it under a sanitizer).
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "config/program_reader.h"
#include "engine_fixture.h"
#include "midi/os_midi.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NOTALUMEN_SANITIZED 1
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace {

enum { kRounds = 20 };

// Stored programs: note-on 100 (trigger 0x64) and the program change
// (trigger 0x182) of either input each play two messages; the window thread
// rewrites them with another value.
std::string programFile(int version) {
  char text[256];
  std::snprintf(text, sizeof text,
                "/HEX\r\n/PGM1 B0 50 %02X B0 51 %02X\r\n/PGM2 9F 30 %02X 8F 30 00\r\n"
                "/SETKEY64:PGM1\r\n/SETKEY182:PGM2\r\n",
                version, version, version);
  return text;
}

size_t heapInUse() {
#if defined(NOTALUMEN_SANITIZED)
  return __sanitizer_get_current_allocated_bytes();
#else
  // glibc counts the blocks its per-thread cache holds as in use, and what the
  // cache holds depends on what was freed last: fill it the same way before
  // each measurement (seven blocks of every small size, then one more that
  // goes back to the heap).
  for (size_t size = 8; size <= 1024; size += 8) {
    void* blocks[8];
    for (void*& b : blocks) b = std::malloc(size);
    for (void* b : blocks) std::free(b);
  }
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

int messageCount() {
  if (const char* text = std::getenv("NOTALUMEN_SOAK_MESSAGES")) return std::atoi(text);
#if defined(NOTALUMEN_SANITIZED)
  return 100000;
#else
  return 1000000;
#endif
}

class Soak : public EngineFixture {
 protected:
  // Closes everything and frees the machine's recordings.
  static void closeRig() {
    closeAllPorts();
    destroyKeyboardWindow();
    simReset();
  }

  void TearDown() override {
    programDir[0] = 0;
    EngineFixture::TearDown();
  }

  // One input device's share of a round: n messages on device d. Returns the
  // items each output must receive for them (short words and long messages;
  // one write each on the serial port).
  static long playDevice(int d, int first, int n, std::atomic<int>& progress) {
    long expected = 0;
    for (int i = first; i < first + n; i++) {
      const int channel = (i / 7 + d) % 4, note = 36 + i % 48, kind = i % 16;
      const uint8_t sysex[] = {0xF0, 0x7D, static_cast<uint8_t>(d), static_cast<uint8_t>(i & 0x7F), 2, 3, 4, 5, 6, 0xF7};
      switch (kind) {
        case 0: case 2: case 4: case 6: in3(d, 0x90 | channel, note, 100); break;
        case 1: case 3: case 5: in3(d, 0x80 | channel, note, 0); break;
        case 7: simMidiInShort(d, static_cast<uint32_t>(note), 0); break;  // running status: note-on, velocity 0
        case 8: in3(d, 0xB0 | channel, 64, i % 32 < 16 ? 127 : 0); break;  // the damper
        case 9: in3(d, 0xB0 | channel, 7, i & 0x7F); break;
        case 10: EXPECT_TRUE(simMidiInLong(d, sysex, sizeof sysex, 0)); break;
        case 11: in3(d, 0xC0 | channel, i & 0x7F, 0); break;  // program change: stored program 2
        case 12: in3(d, 0x90 | channel, 100, 90); break;      // note 100: stored program 1
        case 13: in3(d, 0xE0 | channel, 0, 64); break;        // pitch bend: dropped by the engine
        case 14: in3(d, 0xF8, 0, 0); break;                   // timing clock: never reaches the engine
        default: in3(d, 0xD0 | channel, 0x40, 0); break;      // channel pressure: dropped
      }
      expected += kind == 11 || kind == 12 ? 2 : kind >= 13 ? 0 : 1;
      progress.fetch_add(1, std::memory_order_relaxed);
    }
    return expected;
  }

  static int serialWrites() {
    int n = 0;
    for (const std::string& call : simMidiCalls()) n += call == "serialWrite COM1";
    return n;
  }
};

TEST_F(Soak, AMillionMessagesAllArriveAndTheHeapDoesNotGrow) {
  const int total = messageCount();
  ASSERT_GE(total, kRounds * 2 * 16);
  const int perDevice = total / kRounds / 2;

  std::snprintf(programDir, kPathSize, "%s", simDir().c_str());
  writeHostFile("progrm01.ini", programFile(1));
  writeHostFile("progrm02.ini", programFile(1));
  reloadProgramTables();
  ASSERT_EQ(keyProgram[1][386], 2);

  size_t halfway = 0;
  int reloads = 0;
  int version = 1;
  for (int round = 0; round < kRounds; round++) {
    openRig();
    if (HasFatalFailure()) return;
    std::atomic<int> progress(0);
    long expected[2] = {0, 0};
    std::thread devices[2];
    for (int d = 0; d < 2; d++) {
      devices[d] = std::thread([&, d] { expected[d] = playDevice(d, round * perDevice, perDevice, progress); });
    }
    // The window thread: a mouse note pair every 200 messages, a reload of
    // the (rewritten) program tables every 5000.
    long mouse = 0;
    int lastMouse = 0, lastReload = 0;
    for (;;) {
      const int now = progress.load(std::memory_order_relaxed);
      if (now - lastMouse >= 200) {
        const int channel = static_cast<int>(mouse % 3), note = 48 + static_cast<int>(mouse % 24);
        playMouseNote(channel, note);
        releaseMouseNote(channel, note);
        mouse++;
        lastMouse = now;
      }
      if (now - lastReload >= 5000) {
        version = version % 0x7F + 1;
        writeHostFile("progrm01.ini", programFile(version));
        writeHostFile("progrm02.ini", programFile(version));
        reloadProgramTables();
        reloads++;
        lastReload = now;
      }
      if (now >= 2 * perDevice) break;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    for (std::thread& t : devices) t.join();

    const long want = expected[0] + expected[1] + 2 * mouse;
    EXPECT_EQ(static_cast<long>(simMidiOutEvents(0).size()), want) << "OUT1, round " << round;
    EXPECT_EQ(static_cast<long>(simMidiOutEvents(1).size()), want) << "OUT2, round " << round;
    EXPECT_EQ(static_cast<long>(simMidiOutEvents(kMidiMapper).size()), want) << "mapper, round " << round;
    EXPECT_EQ(serialWrites(), want) << "COM1, round " << round;
    EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
    EXPECT_EQ(simMidiInQueuedBuffers(1), 2);
    closeRig();
    if (round == kRounds / 2 - 1) halfway = heapInUse();
  }
  const size_t end = heapInUse();
  EXPECT_GT(reloads, 0);
  // Allocator bookkeeping may move a little; a leak of even a byte a message
  // in the second half would be hundreds of kilobytes.
  EXPECT_LE(end, halfway + 16 * 1024) << "heap in use halfway " << halfway << ", at the end " << end;
  // The engine's tables are still whole.
  for (int c = 0; c < kChannelCount; c++) EXPECT_LE(heldOf(c), 128);
  EXPECT_LE(maxcolumns, kChannelCount);
}

}  // namespace
