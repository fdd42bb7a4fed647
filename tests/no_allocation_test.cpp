// The per-message path allocates nothing: with the ports open and the
// keyboard window shown, and after a warm-up, short messages delivered to
// midiInCallback (notes on every channel, the damper, controllers, running
// status, stored programs of notes and of a system-exclusive message) make no
// heap allocation. Allocations are counted at the C library's malloc, which
// this test binary replaces by a counting pass-through (operator new reaches
// it too); the count runs only while a test arms it. The sim's own recording
// of output traffic is switched off, so only the program's path is counted.
#include <atomic>
#include <cstdlib>
#include <new>

#include "support/log.h"
#include "engine_fixture.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define NOTALUMEN_COUNT_ALLOCATIONS 1
#else
#define NOTALUMEN_COUNT_ALLOCATIONS 0  // the sanitizers own malloc there
#endif

namespace {

std::atomic<bool> countingArmed{false};
std::atomic<long> allocationCount{0};

}  // namespace

#if NOTALUMEN_COUNT_ALLOCATIONS
static void countOne(void) {
  if (countingArmed.load(std::memory_order_relaxed)) allocationCount.fetch_add(1, std::memory_order_relaxed);
}

// The C library's own allocator under its internal names; the replacements
// hand every call on unchanged, so free and the aligned forms stay consistent.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
  countOne();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  countOne();
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  countOne();
  return __libc_realloc(block, size);
}
void free(void* block) { __libc_free(block); }
}
#endif

namespace {

// Allocations made on any thread while f runs.
template <typename F>
long allocationsDuring(F f) {
  allocationCount.store(0);
  countingArmed.store(true);
  f();
  countingArmed.store(false);
  return allocationCount.load();
}

void* volatile keep;  // where the self-check's blocks escape to

class NoAllocation : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
#if !NOTALUMEN_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are counted only without a sanitizer, on the GNU C library";
#endif
    openPorts();
    openWindow();
    logQuiet = 255;  // as the running program has it once its ports are open
    simRecordMidiOutput(false);
  }
  void TearDown() override {
    simRecordMidiOutput(true);
    EngineFixture::TearDown();
  }

  // Program 1 of IN1 plays notes on channel 1 and a damper press and release;
  // program 2, one system-exclusive message. Notes 20 and 21 fire them.
  static void storePrograms() {
    setProgram(0, 1, {0x90, 60, 100, 0xB0, 64, 127, 0x80, 60, 64, 0xB0, 64, 0, 0xC0, 5});
    setProgram(0, 2, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    keyProgram[0][20] = 1;
    keyProgram[0][21] = 2;
  }

  // One round of traffic on both inputs.
  static void playRound() {
    for (int c = 0; c < 16; c++) {
      for (int n = 24; n <= 72; n += 4) in3(0, 0x90 | c, n, 100);
      in3(0, 0xB0 | c, 64, 127);  // damper down: the releases below are held
      for (int n = 24; n <= 72; n += 4) in3(0, 0x80 | c, n, 64);
      in3(0, 0xB0 | c, 64, 0);  // damper up: the held keys are drawn Off
      simMidiInShort(0, word(62, 90), 0);  // running status: a control change data pair
      in3(1, 0x90 | c, 61, 80);
      simMidiInShort(1, word(61, 0), 0);  // running status note-off
      in3(1, 0xE0 | c, 0, 0x40);          // pitch bend: routed, not drawn
      in3(1, 0xC0 | c, 7, 0);             // program change without program: dropped
      in3(0, 0xF8, 0, 0);                 // timing clock: stops in the callback
    }
    in3(0, 0x90, 20, 100);  // program 1
    in3(0, 0x90, 21, 100);  // program 2
  }
};

TEST_F(NoAllocation, TheCountSeesAllocations) {
  EXPECT_EQ(allocationsDuring([] { keep = std::malloc(24); }), 1);
  std::free(keep);
  EXPECT_EQ(allocationsDuring([] { keep = ::operator new(40); }), 1) << "operator new reaches malloc";
  ::operator delete(keep);
  EXPECT_GE(allocationsDuring([] {
              simRecordMidiOutput(true);
              in3(0, 0x90, 60, 100);
            }),
            1)
      << "the sim's recording allocates, so it must be off while counting";
}

TEST_F(NoAllocation, ShortMessagesThroughTheCallbackAllocateNothing) {
  storePrograms();
  playRound();  // warm-up: every channel takes its column, every key is drawn
  ASSERT_EQ(maxcolumns, 16);
  EXPECT_EQ(allocationsDuring([] {
              for (int round = 0; round < 20; round++) playRound();
            }),
            0);
  EXPECT_EQ(maxcolumns, 16);
}

}  // namespace
