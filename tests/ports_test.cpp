// Port table: device lookups, name classification, the opening sequence with
// its failure counts and pauses, and the closing order at exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/exit.h"
#include "midi/devices.h"
#include "midi/open_close.h"
#include "midi/os_midi.h"
#include "midi/senders.h"
#include "ports_fixture.h"

namespace {

using Failures = std::pair<int, int>;  // outputs and inputs that failed to open

// Opens every configured port as start-up does.
Failures openPorts() {
  const PortFailures f = openConfiguredPorts();
  return {f.outputs, f.inputs};
}

class PortsConfigured : public PortsFixture {
 protected:
  // Names OUT1.. and IN1.. in turn and counts them as start-up does.
  static void configure(std::initializer_list<const char*> outs, std::initializer_list<const char*> ins) {
    outPortCount = inPortCount = 0;
    for (const char* name : outs) configureOut(outPortCount++, name);
    for (const char* name : ins) configureIn(inPortCount++, name);
  }
};

}  // namespace

using PortsLookup = PortsFixture;
using PortsResolve = PortsFixture;
using PortsOpen = PortsConfigured;
using PortsClose = PortsConfigured;

// Device lookup by name, on a fresh machine each: a complete match wins over
// a heading match, that over a partial one, and the maker's name (beginning
// the name looked for) comes last; within a pass the lowest index wins.
TEST_F(PortsLookup, ByNameThenByMaker) {
  const std::string sjisPiano = "\x83\x73\x83\x41\x83\x6d";  // "piano" in katakana
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  struct Case {
    bool output;
    std::vector<std::pair<std::string, int>> devices;  // name, maker
    std::string name;
    int index;
  } cases[] = {
      {false, {{"USB MIDI Interface", 0}, {"usb midi", 0}}, "usb midi", 1},
      {true, {{"USB MIDI Interface", 0}, {"usb midi", 0}}, "usb midi", 1},
      {false, {{"USB MIDI Interface", 0}, {"usb midi", 0}}, "USB MIDI", 0},  // no complete match
      {true, {{"Synth MIDI Port", 0}, {"midi out", 0}}, "MIDI", 1},  // heading over a lower index's part
      {true, {{"Synth MIDI Port", 0}, {"midi out", 0}}, "port", 0},
      {true, {{"Synth MIDI Port", 0}, {"midi out", 0}}, "Ports", -1},
      {false, {{"Keyboard", 0}, {"Keyboard", 0}, {"Big Keyboard 2", 0}, {"Big Keyboard 1", 0}}, "Keyboard", 0},
      {false, {{"Keyboard", 0}, {"Keyboard", 0}, {"Big Keyboard 2", 0}, {"Big Keyboard 1", 0}}, "big keyboard", 2},
      {false, {{"Keyboard", 0}, {"Keyboard", 0}, {"Big Keyboard 2", 0}, {"Big Keyboard 1", 0}}, "board", 0},
      {true, {{"Digital Keyboard", OS_MM_YAMAHA}, {"Sound Module", OS_MM_ROLAND}, {"Workstation", OS_MM_KORG}},
       "yamaha piano", 0},
      {true, {{"Digital Keyboard", OS_MM_YAMAHA}, {"Sound Module", OS_MM_ROLAND}, {"Workstation", OS_MM_KORG}},
       "Roland SC", 1},
      {true, {{"Digital Keyboard", OS_MM_YAMAHA}, {"Sound Module", OS_MM_ROLAND}, {"Workstation", OS_MM_KORG}},
       "KORG M1", 2},
      {true, {{"Digital Keyboard", OS_MM_YAMAHA}, {"Sound Module", OS_MM_ROLAND}}, "Casio", -1},
      {true, {{"Digital Keyboard", OS_MM_YAMAHA}}, "piano yamaha", -1},  // the maker word must begin the name
      {false, {{"Digital Keyboard", OS_MM_ROLAND}}, "yamaha piano", -1},  // wrong maker
      {false, {{"Digital Keyboard", OS_MM_ROLAND}, {"Digital Keyboard", OS_MM_YAMAHA}, {"YAMAHA USB-MIDI", OS_MM_ROLAND}},
       "Yamaha", 2},  // the heading pass comes before the maker pass
      // Device names are reported with at most 31 bytes.
      {false, {{letters, 0}}, letters.substr(0, 31), 0},
      {false, {{letters, 0}}, letters.substr(0, 32), -1},  // longer than every device name
      {false, {{letters, 0}}, std::string(126, 'A'), -1},
      // Shift-JIS names compare byte for byte, also partly.
      {false, {{sjisPiano + " USB", 0}}, sjisPiano, 0},
      {false, {{sjisPiano + " USB", 0}}, sjisPiano.substr(2), 0},
      {false, {{sjisPiano + " USB", 0}}, "\x83\x73\x83\x41\x83\x6e", -1},
      {false, {}, "Anything", -1},
      {true, {}, "Anything", -1},
  };
  for (const Case& c : cases) {
    simReset();
    for (const auto& [name, maker] : c.devices) c.output ? simAddMidiOut(name.c_str(), maker) : simAddMidiIn(name.c_str(), maker);
    EXPECT_EQ(c.output ? findOutDevice(c.name.c_str()) : findInDevice(c.name.c_str()), c.index)
        << (c.output ? "out " : "in ") << ::testing::PrintToString(c.name);
  }
}

TEST_F(PortsLookup, FailedCapabilityQueriesAreSkippedAndEveryPassAsksAnew) {
  simAddMidiOut("Synth");
  simAddMidiOut("Synth");
  simFailMidiOutCaps(0, OS_MIDI_NODRIVER);
  EXPECT_EQ(findOutDevice("Synth"), 1);
  size_t mark = simMidiCalls().size();
  EXPECT_EQ(findOutDevice("Nothing"), -1);
  EXPECT_EQ(countCalls(callsSince(mark), "midiOutCaps 0"), 4);
  EXPECT_EQ(countCalls(callsSince(mark), "midiOutCount"), 1);
}

TEST_F(PortsResolve, MapperNamesAndMapperAsADeviceName) {
  simAddMidiOut("Mapper Synth");
  for (const char* name : {"midi mapper", "MIDIMAPPER-2", "Midi Mapper (default)"}) {
    configureOut(1, name);
    outPorts[1].deviceId = 5;
    EXPECT_EQ(resolveOutName(1), 0) << name;
    EXPECT_EQ(outPorts[1].deviceId, kMidiMapper) << name;
    EXPECT_EQ(outPorts[1].comPort, 0) << name;
  }
  configureOut(1, "Mapper");
  EXPECT_EQ(resolveOutName(1), 0);
  EXPECT_EQ(outPorts[1].deviceId, 0) << "'Mapper' is looked up as a device name";
  configureOut(1, "MIDI MAP");
  EXPECT_EQ(resolveOutName(1), -1);
  EXPECT_EQ(outPorts[1].deviceId, -1);
}

TEST_F(PortsResolve, OutputSerialPortsComeFromTheNameAlone) {
  simAddMidiOut("COM3 Synth");
  struct Case {
    const char* name;  // configured name
    int comPort;       // serial port it gives
  } cases[] = {{"COM3", 3}, {"com7", 7}, {"COM99", 99}, {"COM 12", 12}, {"COMPUTER SYNTH", 1},
               {"Composer", 1}, {"COM", 1}, {"COM0", 1}, {"COM100", 1}, {"COM-3", 1}};
  for (const Case& c : cases) {
    configureOut(0, c.name);
    size_t mark = simMidiCalls().size();
    EXPECT_EQ(resolveOutName(0), 0) << c.name;
    EXPECT_EQ(outPorts[0].comPort, c.comPort) << c.name;
    EXPECT_EQ(outPorts[0].deviceId, 0) << c.name;
    EXPECT_TRUE(callsSince(mark).empty()) << c.name << ": no device lookup";
  }
  // A serial port number left from the settings is not used.
  configureOut(0, "Synth");
  outPorts[0].comPort = 4;
  EXPECT_EQ(resolveOutName(0), 0);
  EXPECT_EQ(outPorts[0].comPort, 0);
}

TEST_F(PortsResolve, InputNames) {
  simAddMidiIn("Composer");
  simAddMidiIn("Keyboard");
  configureIn(0, "COM3");
  size_t mark = simMidiCalls().size();
  EXPECT_EQ(resolveInName(0), kInFailed) << "serial ports carry no input";
  EXPECT_TRUE(callsSince(mark).empty());
  configureIn(0, "Composer");
  EXPECT_EQ(resolveInName(0), kInDevice);
  EXPECT_EQ(inPorts[0].deviceId, 0);
  configureIn(0, "com0");
  EXPECT_EQ(resolveInName(0), kInFailed) << "looked up, not refused, and not found";
  configureIn(0, "keyb");
  inPorts[0].deviceId = 0;  // the failed lookup left -1
  EXPECT_EQ(resolveInName(0), kInDevice);
  EXPECT_EQ(inPorts[0].deviceId, 1);
  configureIn(0, "");
  inPorts[0].deviceId = 0;
  EXPECT_EQ(resolveInName(0), kInFailed);
  EXPECT_EQ(inPorts[0].failed, 255);
  configureIn(0, "Anything");
  inPorts[0].deviceId = -1;
  EXPECT_EQ(resolveInName(0), kInVirtual);
  EXPECT_EQ(inPorts[0].failed, 0);
}

TEST_F(PortsOpen, NothingConfiguredOpensNothing) {
  outPortCount = 0;
  EXPECT_EQ(openPorts(), Failures(0, 0));
  EXPECT_EQ(simPauses(), (std::vector<int>{50, 50}));
  EXPECT_EQ(countCalls(simMidiCalls(), "midiOutOpen"), 0);
}

TEST_F(PortsOpen, AllPortsOpenWithTheirPauses) {
  simAddMidiOut("Synth");
  simAddMidiIn("Keyboard");
  configure({"MIDI Mapper", "synth"}, {"Keyboard"});
  EXPECT_EQ(openPorts(), Failures(0, 0));
  EXPECT_EQ(simPauses(), (std::vector<int>{50, 50, 50, 50, 50}));
  for (int k = 0; k < 2; k++) {
    EXPECT_EQ(outPorts[k].failed, 0);
    EXPECT_EQ(outPorts[k].disabled, 0);
    EXPECT_EQ(outPorts[k].lastStatus, -1);
  }
  EXPECT_EQ(outPorts[0].openDeviceId, kMidiMapper);
  EXPECT_EQ(outPorts[1].openDeviceId, 0);
  EXPECT_EQ(inPorts[0].failed, 0);
  EXPECT_TRUE(simMidiInIsOpen(0));
  EXPECT_EQ(simMidiInQueuedBuffers(0), 2) << "both receive buffers queued";
  EXPECT_EQ(inPorts[0].header.bufferLength, static_cast<uint32_t>(kMidiBufferSize));
  EXPECT_EQ(outPorts[2].disabled, 255) << "OUT3 is not handled";
}

TEST_F(PortsOpen, NotFoundAndRefusedNamesFailWithoutPauses) {
  simAddMidiOut("Synth");
  simAddMidiIn("Keyboard");
  configure({"No Such Synth"}, {"COM2"});
  EXPECT_EQ(openPorts(), Failures(1, 1));
  EXPECT_EQ(outPorts[0].failed, 255);
  EXPECT_EQ(outPorts[0].disabled, 255);
  EXPECT_EQ(inPorts[0].failed, 255);
  EXPECT_EQ(simPauses(), (std::vector<int>{50, 50}));
}

TEST_F(PortsOpen, OpenFailuresPauseAndPumpAndCount) {
  simAddMidiOut("Synth");
  simAddMidiIn("Keyboard");
  simFailMidiOutOpen(0, OS_MIDI_ALLOCATED);
  simFailMidiInOpen(0, OS_MIDI_ALLOCATED);
  configure({"Synth", "COM4" /* no such serial port */}, {"Keyboard", "Virtual"});
  inPorts[1].deviceId = -1;
  simSetLanguage(1041);
  EXPECT_EQ(openPorts(), Failures(2, 1));
  EXPECT_EQ(simPauses(), (std::vector<int>{200, 200, 50, 200, 200, 50, 50, 200, 200, 50, 50}));
  EXPECT_EQ(outPorts[0].disabled, 255);
  EXPECT_EQ(outPorts[1].disabled, 255);
  EXPECT_EQ(inPorts[0].failed, 255);
  EXPECT_EQ(inPorts[1].failed, 0) << "a virtual input counts as opened";
  EXPECT_FALSE(simMidiInIsOpen(0));
}

TEST_F(PortsOpen, GapInTheNumberingAndTheMapperWithoutDevices) {
  // OUT1 and OUT3 configured: start-up counts two, so OUT2 is handled with an
  // empty name and OUT3 never; without output devices the mapper's open is
  // tried and fails.
  configureOut(0, "MIDI Mapper");
  configureOut(2, "MIDI Mapper");
  outPortCount = 2;
  EXPECT_EQ(openPorts().first, 2);
  EXPECT_EQ(countCalls(simMidiCalls(), "midiOutOpen"), 1) << "only OUT1, the mapper, gets as far as opening";
  EXPECT_EQ(simPauses(), (std::vector<int>{200, 200, 50, 50, 50}));
  EXPECT_EQ(outPorts[1].failed, 255);
  EXPECT_EQ(outPorts[2].failed, 255);
}

TEST_F(PortsOpen, InputOpenStepsFailCleanly) {
  simAddMidiIn("Keyboard");
  simAddMidiIn("Other");
  EXPECT_EQ(openInPort(0, 5), -1) << "index beyond the devices";
  EXPECT_EQ(countCalls(simMidiCalls(), "midiInOpen"), 0);
  EXPECT_EQ(openInPort(0, 0), 0);
  EXPECT_EQ(inPorts[0].prepared, 1);
  EXPECT_EQ(openInPort(1, 0), -1) << "the device is held by IN1";
  EXPECT_EQ(inPorts[1].handle, 0);
}

TEST_F(PortsClose, InputsBeforeOutputsHighestFirst) {
  simAddMidiOut("Synth A");
  simAddMidiOut("Synth B");
  simAddMidiIn("Keys A");
  simAddMidiIn("Keys B");
  simAddSerialPort(3);
  configure({"Synth A", "COM3", "Synth B"}, {"Keys A", "Keys B"});
  ASSERT_EQ(openPorts(), Failures(0, 0));
  size_t mark = simMidiCalls().size();
  simClearPauses();
  EXPECT_THROW(exitProgram(0), SimExit);
  std::vector<std::string> expected = {
      // The serial closer was registered after the port closer: it runs first.
      "serialClose COM3",
      "midiInReset 1", "midiInUnprepare 1", "midiInUnprepare 1", "midiInClose 1",
      "midiInReset 0", "midiInUnprepare 0", "midiInUnprepare 0", "midiInClose 0",
      "midiOutClose 1", "midiOutClose 0"};
  EXPECT_EQ(callsSince(mark), expected);
  EXPECT_EQ(simPauses(), (std::vector<int>{500}));
  EXPECT_EQ(inPorts[0].header.data, nullptr) << "the input buffers are released";
  EXPECT_FALSE(simMidiInIsOpen(1));
  EXPECT_FALSE(simSerialIsOpen(3));
}

TEST_F(PortsClose, UnpreparesALongMessageHeaderAndSendsNothing) {
  simAddMidiOut("Synth");
  ASSERT_EQ(openOutPort(0, 0, 0), 0);
  const uint8_t data[] = {0x43, 0x10, 0xF7};
  ASSERT_EQ(sendLong(0, 0xF0, data, 3), 0);
  size_t mark = simMidiCalls().size();
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_EQ(callsSince(mark), (std::vector<std::string>{"midiOutUnprepare 0", "midiOutClose 0"}));
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);
  // A send that still comes after the closing fails and changes nothing.
  EXPECT_EQ(sendShort(0, 0x90, 0x3C, 0x64), -1);
  EXPECT_EQ(simMidiOutEvents(0).size(), 1u);
}
