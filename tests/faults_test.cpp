// Faults injected at the sim machine's boundary while MIDI flows: an output
// whose sends start failing, an input device that reports errors, a long
// message the device keeps, a serial port that stops taking bytes, a settings
// file that vanishes during start-up, and a program reload while input fires
// the programs from another thread. Nothing may crash or hang, and whatever
// does not depend on the fault must go on arriving.
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/reset.h"
#include "support/exit.h"
#include "state/globals.h"
#include "app/startup.h"
#include "config/program_reader.h"
#include "engine_fixture.h"
#include "midi/os_midi.h"
#include "midi/senders.h"
#include "midi/serial.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Faults on EngineFixture's rig or during start-up, with a short bound on the
// wait for a long message the device keeps.
class Faults : public EngineFixture {
 protected:
  enum { kSerial = kRigSerial };

  void SetUp() override {
    EngineFixture::SetUp();
    longWaitBound = setLongMessageWaitPolls(50);
  }
  void TearDown() override {
    simHoldLongMessages(false);
    simFinishLongMessages();
    setLongMessageWaitPolls(longWaitBound);
    programDir[0] = 0;  // start-up and the reload test point these into the scratch directory
    settingsPath[0] = 0;
    settingsPathW[0] = 0;
    EngineFixture::TearDown();
  }

  // Start-up from the settings text, with fault() injected before the second
  // reading; fails the test when start-up ends the program.
  template <typename F>
  void startUp(const std::string& settings, F fault) {
    writeHostFile("sonrack.ini", settings);
    simSetCommandLine((simDir() + "notalumen.exe").c_str());
    try {
      startupPaths();
      resetGlobalState();
      startupWindow();
      startupFirstScan();
      startupSettings();
      startupPorts();
      fault();
      startupSecondReading();
      simFailFileOpens(0);
      startupKeyboard();
    } catch (const SimExit& e) {
      FAIL() << "start-up ended with " << e.code;
    }
  }

  int longWaitBound = 0;
};

// ---------------------------------------------------------------------------
// Outputs

TEST_F(Faults, AnOutputThatStartsFailingMidStreamLeavesTheOthersWhole) {
  openRig();
  std::vector<uint32_t> sent;
  for (int i = 0; i < 200; i++) {
    // From the middle on, every send to OUT1 (the first output routed to) fails.
    if (i >= 100) simFailMidiOutShort(1, OS_MIDI_NODRIVER);
    const int note = 40 + i % 40;
    in3(0, 0x90, note, i % 2 ? 0 : 100);
    sent.push_back(word(0x90, note, i % 2 ? 0 : 100));
  }
  std::vector<uint32_t> first(sent.begin(), sent.begin() + 100);
  EXPECT_EQ(words(0), first) << "OUT1 took the first half, then nothing";
  EXPECT_EQ(words(1), sent) << "OUT2 got every message";
  EXPECT_EQ(simSerialBytes(kSerial).size(), 1u + 2 * 200) << "COM1: one status, then two data bytes each";
  // The mapper leaves out the repeated status.
  std::vector<uint32_t> mapper = words(kMidiMapper);
  ASSERT_EQ(mapper.size(), 200u);
  EXPECT_EQ(mapper[0], sent[0]);
  for (size_t i = 1; i < mapper.size(); i++) EXPECT_EQ(mapper[i], sent[i] >> 8) << i;

  // OUT1 takes messages again once its device does.
  in3(0, 0x90, 0x3C, 0x40);
  ASSERT_EQ(words(0).size(), 101u);
  EXPECT_EQ(words(0).back(), word(0x90, 0x3C, 0x40));
}

TEST_F(Faults, AFailedLongSendLeavesTheOutputAndTheOthersSendingLongMessages) {
  openRig();
  const uint8_t a[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0xF7};
  const uint8_t b[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  simFailMidiOutLong(1, OS_MIDI_NODRIVER);  // OUT1's send of a
  ASSERT_TRUE(simMidiInLong(0, a, 6, 0));
  simFailMidiOutPrepare(1, OS_MIDI_NOMEM);  // OUT1's header for b
  ASSERT_TRUE(simMidiInLong(0, b, 9, 0));
  ASSERT_TRUE(simMidiInLong(1, a, 6, 0));
  ASSERT_TRUE(simMidiInLong(1, b, 9, 0));
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{a, a + 6}, {b, b + 9}})) << "OUT1 after its two failures";
  EXPECT_EQ(longs(1), (std::vector<Bytes>{{a, a + 6}, {b, b + 9}, {a, a + 6}, {b, b + 9}}));
  EXPECT_EQ(longs(kMidiMapper).size(), 4u);
  Bytes ab(a, a + 6), twice;
  ab.insert(ab.end(), b, b + 9);
  for (int round = 0; round < 2; round++) twice.insert(twice.end(), ab.begin(), ab.end());
  EXPECT_EQ(simSerialBytes(kSerial), twice);
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
  EXPECT_EQ(simMidiInQueuedBuffers(1), 2);
}

// ---------------------------------------------------------------------------
// Inputs

TEST_F(Faults, InputErrorsPassNothingAndLaterMessagesStillArrive) {
  openRig();
  in3(0, 0x91, 0x3C, 0x64);
  for (int i = 0; i < 20; i++) simMidiInError(0, word(0xF5 - i % 3, 0x80 + i, 0xFF), 0);
  simMidiInShort(0, word(0x3E, 0x50), 0);  // running status of the note-on survives the errors
  in3(1, 0xB2, 0x07, 0x64);
  // IN1 plays in channel 1 and IN2 in channel 2 (their channel assignments).
  EXPECT_EQ(words(1), (std::vector<uint32_t>{word(0x90, 0x3C, 0x64), word(0x90, 0x3E, 0x50), word(0xB1, 0x07, 0x64)}));
  EXPECT_EQ(keyLook(1, 62), kLookOn);
}

TEST_F(Faults, ExclusiveMessagesAfterLongErrorsArriveWhole) {
  openRig();
  const uint8_t broken[] = {0xF0, 0x41, 0x10, 0x42};
  const uint8_t whole[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  // More errors in a row than the input has buffers: each comes back queued.
  for (int i = 0; i < 5; i++) ASSERT_TRUE(simMidiInLongError(0, broken, 4, 0)) << i;
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
  ASSERT_TRUE(simMidiInLong(0, whole, 6, 0));
  // An error, then a message longer than one buffer.
  ASSERT_TRUE(simMidiInLongError(0, broken, 4, 0));
  Bytes big = {0xF0};
  for (int i = 0; i < 9000; i++) big.push_back(static_cast<uint8_t>(i % 128));
  big.push_back(0xF7);
  ASSERT_TRUE(simMidiInLong(0, big.data(), static_cast<int>(big.size()), 0));
  ASSERT_TRUE(simMidiInLong(0, whole, 6, 0));
  for (int k : {0, 1, static_cast<int>(kMidiMapper)}) {
    std::vector<Bytes> got = longs(k);
    ASSERT_EQ(got.size(), 4u) << "no part of a broken message goes on, output " << k;
    EXPECT_EQ(got[0], Bytes(whole, whole + 6));
    Bytes joined = got[1];
    joined.insert(joined.end(), got[2].begin(), got[2].end());
    EXPECT_EQ(joined, big);
    EXPECT_EQ(got[3], Bytes(whole, whole + 6));
  }
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
  in3(0, 0x90, 0x40, 0x40);
  EXPECT_EQ(words(0).back(), word(0x90, 0x40, 0x40)) << "short messages still pass";
}

// ---------------------------------------------------------------------------
// Long messages the device keeps

TEST_F(Faults, ALongMessageTheDeviceKeepsMakesTheNextOneFailWithoutTouchingItsBuffer) {
  openRig();
  const uint8_t first[] = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
  const uint8_t second[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  simHoldLongMessages(true);
  ASSERT_TRUE(simMidiInLong(0, first, 9, 0));
  simClearPauses();
  ASSERT_TRUE(simMidiInLong(0, second, 11, 0)) << "the input takes it";
  // Each device output waited a bounded time and gave up on the new message.
  EXPECT_FALSE(simPauses().empty());
  EXPECT_LE(simPauses().size(), 3u * 51);
  for (int k = 0; k < 3; k++) {
    EXPECT_EQ(std::memcmp(outPorts[k].header.data, first, 9), 0) << "OUT" << k + 1 << "'s playing buffer is untouched";
  }
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{first, first + 9}}));
  Bytes serial = simSerialBytes(kSerial);
  EXPECT_EQ(serial.size(), 9u + 11u) << "the serial output keeps no buffer: both went";
  // Short messages are not held up, and the input keeps receiving.
  in3(1, 0x90, 0x3C, 0x64);
  EXPECT_EQ(words(0).back(), word(0x91, 0x3C, 0x64));
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2);
  // Once the device lets go, the next message goes out whole.
  simHoldLongMessages(false);
  simFinishLongMessages();
  ASSERT_TRUE(simMidiInLong(0, second, 11, 0));
  EXPECT_EQ(longs(0), (std::vector<Bytes>{{first, first + 9}, {second, second + 11}}));
  EXPECT_EQ(longs(kMidiMapper).back(), Bytes(second, second + 11));
}

TEST_F(Faults, ClosingWithALongMessageStillPlayingEnds) {
  openRig();
  const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  simHoldLongMessages(true);
  ASSERT_TRUE(simMidiInLong(1, sysex, 6, 0));
  simClearPauses();
  closeAllPorts();  // waits a bounded time for each device output, then goes on
  EXPECT_LE(simPauses().size(), 3u * 51);
  EXPECT_FALSE(simMidiInIsOpen(0));
  EXPECT_FALSE(simMidiInIsOpen(1));
  EXPECT_FALSE(simSerialIsOpen(kSerial));
  for (int k = 0; k < 3; k++) EXPECT_EQ(outPorts[k].handle, 0) << k;
}

// ---------------------------------------------------------------------------
// Serial port

TEST_F(Faults, ASerialPortThatStopsTakingBytesFailsItsSendsOnly) {
  openRig();
  in3(0, 0x90, 0x3C, 0x64);
  simFailSerialWrites(kSerial, 1000);
  EXPECT_EQ(sendShort(3, 0x90, 0x3D, 0x64), -1);
  EXPECT_EQ(sendDirect(3, 0xFA), -1);
  const uint8_t data[] = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
  EXPECT_EQ(sendLong(3, 0xF0, data, 5), -1);
  for (int i = 0; i < 50; i++) in3(0, 0x90, 0x40 + i % 10, 0x50);
  EXPECT_EQ(sendShort(0, 0x90, 0x3D, 0x64), 0) << "the device outputs are unaffected";
  EXPECT_EQ(words(0).size(), 52u);
  EXPECT_EQ(words(1).size(), 51u);
  EXPECT_EQ(words(kMidiMapper).size(), 51u);
  EXPECT_EQ(simSerialBytes(kSerial), (Bytes{0x90, 0x3C, 0x64}));

  // A write that takes only part of the bytes fails too.
  simFailSerialWrites(kSerial, 0);
  simPartialSerialWrites(kSerial, 1);
  EXPECT_EQ(sendShort(3, 0x90, 0x3E, 0x64), -1);
  // Taking bytes again, the port gets its status once more.
  in3(0, 0x90, 0x3F, 0x64);
  Bytes serial = simSerialBytes(kSerial);
  ASSERT_GE(serial.size(), 3u);
  EXPECT_EQ(Bytes(serial.end() - 3, serial.end()), (Bytes{0x90, 0x3F, 0x64}));
}

TEST_F(Faults, AStalledSerialPortHoldsUpNeitherInputNorTheOtherOutputs) {
  openRig();
  simStallSerialPort(kSerial, true);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; i++) in3(0, 0x90, 0x30 + i % 40, 0x50);
  const auto took = std::chrono::steady_clock::now() - start;
  // A send that waited on the port would take its second (the write's bound)
  // for the first message alone; unhindered, the hundred take about a
  // millisecond. The bound leaves room for a loaded machine.
  EXPECT_LT(took, std::chrono::milliseconds(500)) << "input waited on the port";
  EXPECT_EQ(words(0).size(), 100u);
  EXPECT_EQ(keyLook(0, 0x30), kLookOn);
  EXPECT_TRUE(simSerialBytes(kSerial).empty());
  simStallSerialPort(kSerial, false);
  drainSerial(3);
  Bytes serial = simSerialBytes(kSerial);
  ASSERT_EQ(serial.size(), 3u + 99 * 2) << "every byte, in order, the status once";
  EXPECT_EQ(Bytes(serial.begin(), serial.begin() + 5), (Bytes{0x90, 0x30, 0x50, 0x31, 0x50}));

  // Stalled past the writer's second: the queued bytes are dropped, and the
  // next message carries its status again.
  simStallSerialPort(kSerial, true);
  in3(0, 0x90, 0x3C, 0x64);
  drainSerial(3);
  simStallSerialPort(kSerial, false);
  in3(0, 0x90, 0x3E, 0x64);
  serial = simSerialBytes(kSerial);
  EXPECT_EQ(Bytes(serial.end() - 3, serial.end()), (Bytes{0x90, 0x3E, 0x64}));

  // A full queue fails the send; the other outputs still take every message.
  simStallSerialPort(kSerial, true);
  int failed = 0;
  for (int i = 0; i < kSerialQueueSize / 3 + 100; i++) failed += sendShort(3, i % 2 ? 0x90 : 0x80, 0x3C, 0x40) != 0;
  EXPECT_GT(failed, 0);
  EXPECT_LT(failed, 200);
  simStallSerialPort(kSerial, false);
  drainSerial(3);
}

// ---------------------------------------------------------------------------
// Settings file vanishing during start-up

TEST_F(Faults, StartUpGoesOnWhenTheSettingsFileVanishesBeforeTheSecondReading) {
  simAddMidiIn("Keys A");
  simAddMidiOut("Synth A");
  simAddSerialPort(kSerial);
  startUp("-OUT1:\"Synth A\"\r\n-OUT2:\"COM1\"\r\n-IN1:\"Keys A\"\r\n-mX=2 -mY=1.5\r\n-nMin=36 -nMax=96\r\n"
          "-Ch3 -Ch10\r\n-#FA\r\n",
          [this] { std::filesystem::remove(hostFile("sonrack.ini")); });
  EXPECT_EQ(simBoxCount(), 0) << "nothing to report";
  EXPECT_TRUE(simWindowExists());
  EXPECT_EQ(MagX, 2) << "the first reading's settings stay";
  EXPECT_EQ(NoteMin, 36);
  EXPECT_EQ(NoteMax, 96);
  // The fixed channels keep their columns: channel 3 on top, channel 10 below.
  ASSERT_EQ(maxcolumns, 2);
  EXPECT_EQ(columnChannel[0], 2);
  EXPECT_EQ(columnChannel[1], 9);
  EXPECT_TRUE(simSerialBytes(kSerial).empty()) << "-# acts only in the second reading, which found no file";
  in3(0, 0x92, 0x40, 0x64);  // shown on channel 3, sent on IN1's channel 1
  EXPECT_EQ(words(0), (std::vector<uint32_t>{word(0x90, 0x40, 0x64)}));
  EXPECT_EQ(simSerialBytes(kSerial), (Bytes{0x90, 0x40, 0x64}));
  EXPECT_EQ(keyLook(2, 0x40), kLookOn);
  EXPECT_EQ(keyLook(9, 0x40), kLookOff);
}

TEST_F(Faults, StartUpGoesOnWhenTheSettingsFileCannotBeReadAtTheSecondReading) {
  simAddMidiIn("Keys A");
  simAddMidiOut("Synth A");
  startUp("-OUT1:\"Synth A\"\r\n-IN1:\"Keys A\"\r\n-#FA\r\n", [] { simFailFileOpens(2); });  // neither name opens
  EXPECT_TRUE(simWindowExists());
  EXPECT_TRUE(longs(0).empty()) << "no -# byte without the second reading";
  in3(0, 0x90, 0x40, 0x64);
  EXPECT_EQ(words(0), (std::vector<uint32_t>{word(0x90, 0x40, 0x64)}));
}

// ---------------------------------------------------------------------------
// Program reload while input plays the programs

// Program 1 of table 1 (IN1) on note-on 60: sixty controller messages
// B0 10+i v, all with the same v (the version of the file).
std::string programFile(int version) {
  std::string text = "/HEX\r\n/PGM1\r\n";
  char value[16];
  for (int i = 0; i < 60; i++) {
    std::snprintf(value, sizeof value, "B0 %02X %02X\r\n", 0x10 + i, version);
    text += value;
  }
  text += "/SETKEY3C:PGM1\r\n";
  return text;
}

TEST_F(Faults, ReloadingProgramsWhileInputPlaysThemGivesTheOldOrTheNewProgramWhole) {
  openPorts();
  openWindow();
  std::snprintf(programDir, kPathSize, "%s", simDir().c_str());
  writeHostFile("progrm01.ini", programFile(1));
  reloadProgramTables();
  ASSERT_EQ(keyProgram[0][60], 1);

  enum { kMessages = 1500, kReloads = 60 };
  std::atomic<bool> stop(false);
  std::thread device([&] {
    for (int i = 0; i < kMessages; i++) in3(0, 0x90, 0x3C, 0x64);
    stop = true;
  });
  int reloads = 0;
  while (!stop && reloads < kReloads) {
    writeHostFile("progrm01.ini", programFile(reloads % 2 ? 1 : 2));
    reloadProgramTables();
    reloads++;
  }
  device.join();

  // OUT1's words, message by message: a whole program of one version, or the
  // note itself when the table was being emptied.
  std::vector<uint32_t> got = words(0);
  size_t at = 0;
  int programs = 0, notes = 0;
  while (at < got.size()) {
    if (got[at] == word(0x90, 0x3C, 0x64)) {
      notes++;
      at++;
      continue;
    }
    const uint32_t version = got[at] >> 16;
    bool whole = at + 60 <= got.size();
    for (int i = 0; whole && i < 60; i++) whole = got[at + i] == word(0xB0, 0x10 + i, static_cast<int>(version));
    ASSERT_TRUE(whole) << "a program cut or mixed at word " << at << " after " << programs << " whole ones";
    at += 60;
    programs++;
  }
  EXPECT_EQ(programs + notes, kMessages);
  EXPECT_GT(programs, 0);
}

TEST_F(Faults, InputDuringTheSecondReadingAndAReloadFindsWholeTables) {
  simAddMidiIn("Keys A");
  simAddMidiOut("Synth A");
  writeHostFile("progrm01.ini", programFile(1));
  std::atomic<bool> stop(false);
  std::atomic<int> sent(0);
  std::thread device;
  startUp("-OUT1:\"Synth A\"\r\n-IN1:\"Keys A\"\r\n-Ch2 -Ch1\r\n-mY=0.5\r\n", [&] {
    device = std::thread([&] {
      while (!stop) {
        in3(0, 0x91, 0x40, 0x50);  // channel 2: drawn while the columns are read again
        in3(0, 0x91, 0x40, 0x00);
        sent += 2;
      }
    });
  });
  for (int i = 0; i < 20; i++) reloadProgramTables();
  stop = true;
  device.join();
  ASSERT_EQ(maxcolumns, 2);
  EXPECT_EQ(columnChannel[0], 1);
  EXPECT_EQ(columnChannel[1], 0);
  EXPECT_EQ(keyProgram[0][60], 1);
  EXPECT_EQ(static_cast<int>(words(0).size()), sent.load()) << "every message routed";
}

}  // namespace
