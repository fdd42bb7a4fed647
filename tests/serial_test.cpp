// Serial MIDI outputs: device names, opening and its failures, writes, and the
// closing at exit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/exit.h"
#include "midi/senders.h"
#include "midi/serial.h"
#include "ports_fixture.h"

using SerialPort = PortsFixture;

TEST_F(SerialPort, DeviceNamesAndNumbersOutsideTheRange) {
  char name[16];
  for (const auto& [port, expected] : {std::pair<int, const char*>{1, "COM1"}, {9, "COM9"}, {10, "\\\\.\\COM10"},
                                       {99, "\\\\.\\COM99"}}) {
    ASSERT_EQ(serialDeviceName(name, sizeof name, port), 0);
    EXPECT_STREQ(name, expected);
  }
  EXPECT_EQ(openSerialPort(0, 0), -1);
  EXPECT_EQ(openSerialPort(0, 100), -1);
  EXPECT_TRUE(simMidiCalls().empty()) << "no call to the system";
}

TEST_F(SerialPort, OpensByTheDeviceNamespaceNameFromTen) {
  simAddSerialPort(9);
  simAddSerialPort(10);
  EXPECT_EQ(openSerialPort(0, 9), 0);
  EXPECT_EQ(openSerialPort(1, 10), 0);
  std::vector<std::string> calls = simMidiCalls();
  EXPECT_EQ(calls[0], "serialOpen COM9");
  EXPECT_EQ(calls[2], "serialOpen \\\\.\\COM10");
  EXPECT_EQ(outPorts[1].serialOpen, 255);
  EXPECT_TRUE(simSerialIsOpen(10));
}

TEST_F(SerialPort, FailedOpensLeaveNothingOpen) {
  EXPECT_EQ(openSerialPort(0, 5), -1) << "no such port";
  simAddSerialPort(5);
  simSetSerialBusy(5, true);
  EXPECT_EQ(openSerialPort(0, 5), -1) << "in use by another program";
  simSetSerialBusy(5, false);
  for (int step : {1, 2}) {
    simFailSerialConfigure(5, step, 31);
    EXPECT_EQ(openSerialPort(0, 5), -1);
    EXPECT_EQ(outPorts[0].serialOpen, 0);
    EXPECT_FALSE(simSerialIsOpen(5)) << "closed again after configuring failed at step " << step;
  }
  // Through the output open: the output stays disabled and is not counted open.
  EXPECT_EQ(openOutPort(0, 0, 5), -1);
  EXPECT_EQ(outPorts[0].disabled, 255);
  EXPECT_EQ(outPorts[0].openComPort, 5);
  EXPECT_EQ(sendShort(0, 0x90, 0x3C, 0x64), 0) << "a disabled output takes nothing";
  EXPECT_TRUE(simSerialBytes(5).empty());
}

TEST_F(SerialPort, WritesAllOrFail) {
  simAddSerialPort(2);
  ASSERT_EQ(openSerialPort(0, 2), 0);
  const uint8_t bytes[] = {0x90, 0x3C, 0x64, 0x80};
  EXPECT_EQ(writeSerial(0, bytes, 3), 0);
  simPartialSerialWrites(2, 1);
  EXPECT_EQ(writeSerial(0, bytes, 4), -1);
  simFailSerialWrites(2, 1);
  EXPECT_EQ(writeSerial(0, bytes, 1), -1);
  EXPECT_EQ(simSerialBytes(2), (std::vector<uint8_t>{0x90, 0x3C, 0x64, 0x90, 0x3C}));
  EXPECT_EQ(outPorts[0].serialOpen, 255) << "a failed write leaves the port open";
  closeSerialPort(0);
  size_t mark = simMidiCalls().size();
  EXPECT_EQ(writeSerial(0, bytes, 1), -1) << "closed";
  EXPECT_TRUE(callsSince(mark).empty());
}

TEST_F(SerialPort, TwoSerialOutputsCloseAfterOnePauseAtExit) {
  simAddSerialPort(1);
  simAddSerialPort(12);
  ASSERT_EQ(openOutPort(0, 0, 1), 0);
  ASSERT_EQ(openOutPort(1, 0, 12), 0);
  outPortCount = 2;
  size_t mark = simMidiCalls().size();
  simClearPauses();
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_EQ(simPauses(), (std::vector<int>{500}));
  EXPECT_EQ(callsSince(mark), (std::vector<std::string>{"serialClose COM1", "serialClose COM12"}));
  EXPECT_FALSE(simSerialIsOpen(1));
  EXPECT_FALSE(simSerialIsOpen(12));
  EXPECT_EQ(sendShort(0, 0x90, 0x3C, 0x64), -1) << "a send after the closing fails";
}
