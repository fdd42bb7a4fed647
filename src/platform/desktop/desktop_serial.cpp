// Desktop (Linux) serial ports over termios. "COMn" is /dev/ttyS<n-1>, or the
// device that the environment variable NOTALUMEN_COM<n> names (a USB adapter
// such as /dev/ttyUSB0, a pseudo-terminal). The port is held exclusively, set
// raw to 38400 baud 8N1 with DTR raised, and written with a bounded wait.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/log.h"
#include "midi/os_midi.h"
#include "platform/desktop/desktop.h"

namespace {

// Windows system error codes that the callers and their diagnostics know.
enum {
  kErrInvalidFunction = 1,
  kErrFileNotFound = 2,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrWriteFault = 29,
  kErrGenFailure = 31,
  kErrInvalidParameter = 87,
  kErrInvalidName = 123,
  kErrTimeout = 1460
};

enum {
  kSerialSlots = 16,    // serial ports open at once
  kWriteLimitMs = 1000  // longest time a write waits for the port to take bytes
};

struct SerialSlot {
  std::mutex lock;      // one write at a time; a close waits for the write
  int fd;               // open descriptor plus one; 0 = none
  uint32_t generation;  // generation of the handle open on the slot
};

SerialSlot serialSlots[kSerialSlots];
std::mutex serialTableLock;  // opening and closing
uint32_t serialGeneration;
thread_local int lastError;  // per thread, as GetLastError

int errorOf(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    // A /dev/ttyS node without a UART behind it fails the open with EIO: for
    // the user that port does not exist.
    case EIO:
      return kErrFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
    case EROFS:
      return kErrAccessDenied;
    case EMFILE:
    case ENFILE:
      return kErrTooManyOpenFiles;
    case ENOMEM:
      return kErrNotEnoughMemory;
    case EBADF:
      return kErrInvalidHandle;
    case ENOTTY:
    case EINVAL:
      return kErrInvalidFunction;
    case ENAMETOOLONG:
      return kErrInvalidName;
    default:
      return kErrGenFailure;
  }
}

// Port number of "COMn" or "\\.\COMn" (letters in either case), 0 for a name
// that names no port.
int portNumber(const char* name) {
  const char* p = std::strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
  if ((p[0] | 0x20) != 'c' || (p[1] | 0x20) != 'o' || (p[2] | 0x20) != 'm') return 0;
  p += 3;
  int number = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9' && digits < 4; p++, digits++) number = number * 10 + (*p - '0');
  if (*p != '\0' || digits == 0 || number < 1 || number > 255) return 0;
  return number;
}

SerialSlot* slotOf(SerialHandle handle, uint32_t* generation) {
  const intptr_t k = (handle & 0xFF) - 1;
  if (handle <= 0 || k < 0 || k >= kSerialSlots) return nullptr;
  *generation = static_cast<uint32_t>(handle >> 8);
  return &serialSlots[k];
}

}  // namespace

int osSerialOpen(const char* deviceName, SerialHandle* handle) {
  if (!deviceName || !handle) return kErrInvalidParameter;
  const int number = portNumber(deviceName);
  if (number == 0) return kErrInvalidName;
  char variable[32];
  std::snprintf(variable, sizeof variable, "NOTALUMEN_COM%d", number);
  char path[64];
  const char* device = std::getenv(variable);
  if (!device || !*device) {
    std::snprintf(path, sizeof path, "/dev/ttyS%d", number - 1);
    device = path;
  }
  std::lock_guard<std::mutex> guard(serialTableLock);
  int k = 0;
  while (k < kSerialSlots && serialSlots[k].fd != 0) k++;
  if (k == kSerialSlots) return kErrTooManyOpenFiles;
  // O_NONBLOCK: the open does not wait for carrier, and writes can be bounded.
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    log("Cannot open %s for COM%d: %s\n", device, number, std::strerror(e));
    return errorOf(e);
  }
  // No sharing, as CreateFile without share mode: the lock keeps out a second
  // open, ours or another program's that locks too (root included, which
  // TIOCEXCL alone lets through); TIOCEXCL keeps out other users' opens.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    return errorOf(e);
  }
  if (!::isatty(fd)) {
    ::close(fd);
    return kErrInvalidName;  // NOTALUMEN_COMn names something that is no terminal
  }
  ::ioctl(fd, TIOCEXCL);
  SerialSlot& s = serialSlots[k];
  std::lock_guard<std::mutex> slotGuard(s.lock);
  if (++serialGeneration > 0xFFFFFF) serialGeneration = 1;
  s.fd = fd + 1;
  s.generation = serialGeneration;
  *handle = static_cast<SerialHandle>((static_cast<intptr_t>(s.generation) << 8) | (k + 1));
  return 0;
}

int osSerialConfigure(SerialHandle handle, int* failedStep) {
  int unusedStep = 0;
  if (!failedStep) failedStep = &unusedStep;
  uint32_t generation = 0;
  SerialSlot* s = slotOf(handle, &generation);
  *failedStep = 1;
  if (!s) return kErrInvalidHandle;
  std::lock_guard<std::mutex> guard(s->lock);
  if (s->fd == 0 || s->generation != generation) return kErrInvalidHandle;
  const int fd = s->fd - 1;
  termios t;
  if (::tcgetattr(fd, &t) != 0) return errorOf(errno);
  // Raw: no output processing (a 0x0A byte would go out as CR LF), no
  // XON/XOFF (a 0x13 byte arriving from the device would stop our output),
  // no echo, no line discipline on input.
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B38400);
  ::cfsetospeed(&t, B38400);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8;
  // CLOCAL: writes do not depend on the carrier line, which a MIDI interface
  // does not drive. Hardware flow control goes off too: raw MIDI has no
  // handshake lines, and a port left with RTS/CTS by an earlier program would
  // hold every byte (the Windows program keeps the port's handshake; there a
  // fresh COM port has none).
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  *failedStep = 2;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) return errorOf(errno);
  // Raise DTR, which some interfaces take their power or enable from. A
  // pseudo-terminal has no modem lines and refuses; that is no failure.
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIS, &dtr);
  *failedStep = 0;
  return 0;
}

namespace {

// Both writes: what the port takes, and with wait also waiting for room up to
// about a second. The count written, or -1 (a write that cannot wait fails on
// any error; one that waits keeps what it wrote before the error).
int writeBytes(SerialHandle handle, const uint8_t* bytes, int count, bool wait) {
  uint32_t generation = 0;
  SerialSlot* s = slotOf(handle, &generation);
  if (!s) {
    lastError = kErrInvalidHandle;
    return -1;
  }
  std::lock_guard<std::mutex> guard(s->lock);
  if (s->fd == 0 || s->generation != generation) {
    lastError = kErrInvalidHandle;
    return -1;
  }
  const int fd = s->fd - 1;
  if (count <= 0) return 0;
  if (!bytes) {
    lastError = kErrInvalidParameter;
    return -1;
  }
  // The port is non-blocking: write what it takes, wait for room, and give up
  // after about a second, so a port that does not drain (no device taking the
  // bytes, flow control held) never holds the writer for long.
  const int64_t deadline = desktopMilliseconds() + kWriteLimitMs;
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      lastError = errno == EIO ? kErrWriteFault : errorOf(errno);
      return wait && done > 0 ? done : -1;
    }
    if (!wait) return done;  // full: the rest waits for the writer thread
    const int64_t left = deadline - desktopMilliseconds();
    if (left <= 0) break;
    pollfd p = {fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
  }
  if (done < count) {
    lastError = kErrTimeout;
    if (done == 0) return -1;  // the port took nothing
  }
  return done;
}

}  // namespace

int osSerialWrite(SerialHandle handle, const uint8_t* bytes, int count) { return writeBytes(handle, bytes, count, true); }

int osSerialWriteNow(SerialHandle handle, const uint8_t* bytes, int count) {
  return writeBytes(handle, bytes, count, false);
}

void osSerialClose(SerialHandle handle) {
  uint32_t generation = 0;
  SerialSlot* s = slotOf(handle, &generation);
  if (!s) return;
  std::lock_guard<std::mutex> tableGuard(serialTableLock);
  std::lock_guard<std::mutex> guard(s->lock);
  if (s->fd == 0 || s->generation != generation) return;
  // TIOCEXCL belongs to the terminal, not to our descriptor: it would outlive
  // the close while anything else keeps the device open (a modem getty, the
  // master side of a pseudo-terminal), and every later open but root's would
  // fail with EBUSY. The close lets the line discipline send what it still
  // holds (the kernel waits up to the port's closing_wait); the lock goes
  // with the descriptor.
  ::ioctl(s->fd - 1, TIOCNXCL);
  ::close(s->fd - 1);
  s->fd = 0;
}

int osSerialLastError(void) { return lastError; }
