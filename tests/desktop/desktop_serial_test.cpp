// The desktop serial ports against a pseudo-terminal: NOTALUMEN_COMn points a
// port at the slave side, the test reads and inspects it from the master side.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "midi/os_midi.h"

namespace {

using Bytes = std::vector<uint8_t>;

class DesktopSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    slave = ptsname(master);
    setenv("NOTALUMEN_COM7", slave.c_str(), 1);
    setenv("NOTALUMEN_COM12", slave.c_str(), 1);
  }
  void TearDown() override {
    if (handle) osSerialClose(handle);
    if (master >= 0) close(master);
    unsetenv("NOTALUMEN_COM7");
    unsetenv("NOTALUMEN_COM12");
  }
  void openCom7() {
    ASSERT_EQ(0, osSerialOpen("COM7", &handle));
    int step = -1;
    ASSERT_EQ(0, osSerialConfigure(handle, &step));
    EXPECT_EQ(0, step);
  }
  // Reads from the master until count bytes came or nothing more comes.
  Bytes readMaster(size_t count) {
    Bytes got;
    uint8_t buffer[4096];
    while (got.size() < count) {
      pollfd p = {master, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  int master = -1;
  std::string slave;
  SerialHandle handle = 0;
};

TEST_F(DesktopSerial, BytesGoOutExactlyAsGiven) {
  openCom7();
  // Every byte value, and the ones a terminal would act on: line ends,
  // XON/XOFF, interrupt, end of file.
  Bytes bytes;
  for (int i = 0; i < 256; i++) bytes.push_back(static_cast<uint8_t>(i));
  for (uint8_t b : {0x0A, 0x0D, 0x11, 0x13, 0x03, 0x04, 0x1A, 0x7F, 0x00, 0xFF}) {
    for (int i = 0; i < 5; i++) bytes.push_back(b);
  }
  ASSERT_EQ(static_cast<int>(bytes.size()), osSerialWrite(handle, bytes.data(), static_cast<int>(bytes.size())));
  EXPECT_EQ(bytes, readMaster(bytes.size()));
}

TEST_F(DesktopSerial, PortIsSetRaw38400Baud8N1WithoutHandshake) {
  // Another program left the port cooked and with hardware flow control.
  termios t;
  ASSERT_EQ(0, tcgetattr(master, &t));
  t.c_cflag |= CRTSCTS | PARENB | CSTOPB;
  t.c_oflag |= OPOST | ONLCR;
  t.c_iflag |= IXON;
  ASSERT_EQ(0, tcsetattr(master, TCSANOW, &t));
  openCom7();
  // A pseudo-terminal master reports the slave's settings.
  ASSERT_EQ(0, tcgetattr(master, &t));
  EXPECT_EQ(speed_t{B38400}, cfgetospeed(&t));
  EXPECT_EQ(tcflag_t{CS8}, t.c_cflag & CSIZE);
  EXPECT_EQ(0u, t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_NE(0u, t.c_cflag & CLOCAL);
  EXPECT_EQ(0u, t.c_oflag & OPOST);
  EXPECT_EQ(0u, t.c_iflag & (IXON | IXOFF));
}

TEST_F(DesktopSerial, APortOpensOnceAndItsHandleDiesWithIt) {
  openCom7();
  SerialHandle second = 0;
  EXPECT_EQ(5, osSerialOpen("COM7", &second));
  // The same device under its other name is the same port.
  EXPECT_EQ(5, osSerialOpen("\\\\.\\COM12", &second));
  osSerialClose(handle);
  // Its exclusive mode went with it, though the master side keeps the terminal
  // open: any user's program may open the port now, not only root's.
  const int look = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(look, 0);
  int exclusive = -1;
  EXPECT_EQ(0, ioctl(look, TIOCGEXCL, &exclusive));
  EXPECT_EQ(0, exclusive);
  close(look);
  const uint8_t byte = 0xF8;
  EXPECT_EQ(-1, osSerialWrite(handle, &byte, 1));
  EXPECT_EQ(6, osSerialLastError());  // ERROR_INVALID_HANDLE
  int step = 0;
  EXPECT_NE(0, osSerialConfigure(handle, &step));
  EXPECT_EQ(1, step);
  handle = 0;
  ASSERT_EQ(0, osSerialOpen("\\\\.\\com12", &handle));
}

TEST_F(DesktopSerial, NamesAndMissingDevices) {
  setenv("NOTALUMEN_COM8", "/nonexistent/tty", 1);
  setenv("NOTALUMEN_COM9", "/dev/null", 1);  // a file that is no terminal is no serial port
  SerialHandle h = 0;
  for (const auto& [name, error] : {std::pair<const char*, int>{"COM8", 2}, {"LPT1", 123}, {"COM0", 123}, {"COM7x", 123}}) {
    EXPECT_EQ(error, osSerialOpen(name, &h)) << name;
  }
  EXPECT_NE(0, osSerialOpen("COM9", &h));
  EXPECT_EQ(0, h);
  unsetenv("NOTALUMEN_COM8");
  unsetenv("NOTALUMEN_COM9");
}

TEST_F(DesktopSerial, WritesToAPortThatTakesNothingGiveUp) {
  openCom7();
  // Nobody reads the master: the terminal's buffers fill and stay full.
  static uint8_t bytes[1 << 20];
  auto first = std::async(std::launch::async, [&] { return osSerialWrite(handle, bytes, sizeof bytes); });
  auto second = std::async(std::launch::async, [&] {
    first.wait();
    const int n = osSerialWrite(handle, bytes, 16);
    return std::make_pair(n, osSerialLastError());
  });
  // Bounded waiting on the test's side too: a write that never returned would
  // be freed by closing the master, which makes it fail.
  const bool returned = second.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  if (!returned) {
    close(master);
    master = -1;
  }
  ASSERT_TRUE(returned) << "the writes did not give up";
  const int written = first.get();
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(sizeof bytes));
  const std::pair<int, int> full = second.get();
  EXPECT_EQ(-1, full.first);
  EXPECT_EQ(1460, full.second);  // ERROR_TIMEOUT
}

}  // namespace
