#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <memory>

#include "base/trace.h"
#include "platform/platform.h"
#include "platform/serial_line.h"
#include "platform/wake.h"
#include "wire/com_port.h"

namespace kp::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How long a write may wait in total for the driver to take the buffer.
constexpr auto kWriteWait = std::chrono::milliseconds(3000);
// Bytes the line keeps taken from the driver.  Far above any read the
// reader layer makes; once reached, further input stays in the driver.
constexpr std::size_t kQueueLimit = 1u << 20;

struct BaudEntry {
  int baud;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {110, B110},       {300, B300},     {1200, B1200},   {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
#if defined(B230400)
    {230400, B230400},
#endif
#if defined(B460800)
    {460800, B460800},
#endif
#if defined(B921600)
    {921600, B921600},
#endif
};

bool BaudConstant(int baud, speed_t* speed) {
  for (const BaudEntry& e : kBauds) {
    if (e.baud == baud) {
      *speed = e.speed;
      return true;
    }
  }
  return false;
}

// Fills the character size, parity and stop-bit parts of the termios flags.
// false when the driver has no way to express a setting (4 data bits; mark
// or space parity without CMSPAR).
bool ApplyFraming(const LineSettings& s, termios* tio) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
#if defined(CMSPAR)
  constexpr tcflag_t kMark = PARENB | CMSPAR | PARODD, kSpace = PARENB | CMSPAR;
#else
  constexpr tcflag_t kMark = 0, kSpace = 0;  // not expressible
#endif
  // Indexed by the parity code: none, odd, even, mark, space.
  static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, kMark, kSpace};
  if (s.dataBits < 5 || s.dataBits > 8 || s.parity < 0 || s.parity > 4 || s.stopBits < 0 || s.stopBits > 2) {
    return false;
  }
  if (s.parity >= 3 && kParity[s.parity] == 0) return false;

  tcflag_t clear = CSIZE | PARENB | PARODD | CSTOPB;
#if defined(CMSPAR)
  clear |= CMSPAR;
#endif
#if defined(CRTSCTS)
  clear |= CRTSCTS;  // no hardware flow control
#endif
  tio->c_cflag &= ~clear;
  tio->c_cflag |= kSizes[s.dataBits - 5] | kParity[s.parity] | CLOCAL | CREAD;
  // With parity on, received parity errors are checked (and counted as line
  // errors) rather than passed through silently.
  if (s.parity != 0) tio->c_iflag |= INPCK;
  // One and a half stop bits are what the UART produces for CSTOPB with
  // five data bits; with more data bits the same flag gives two.
  if (s.stopBits != 0) tio->c_cflag |= CSTOPB;
  return true;
}

struct LineCounters {
  long frame = 0, parity = 0, overrun = 0, brk = 0, bufOverrun = 0;
  bool operator!=(const LineCounters& o) const {
    return frame != o.frame || parity != o.parity || overrun != o.overrun || brk != o.brk || bufOverrun != o.bufOverrun;
  }
};

// Line-error counters of a real UART.  Pseudo-terminals and drivers without
// them answer false, and such lines never report line errors.
bool ReadCounters(int fd, LineCounters* out) {
#if defined(TIOCGICOUNT) && defined(__linux__)
  serial_icounter_struct ic{};
  if (ioctl(fd, TIOCGICOUNT, &ic) != 0) return false;
  out->frame = ic.frame;
  out->parity = ic.parity;
  out->overrun = ic.overrun;
  out->brk = ic.brk;
  out->bufOverrun = ic.buf_overrun;
  return true;
#else
  (void)fd;
  (void)out;
  return false;
#endif
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void ModemLines(int fd, unsigned long request) {
  int bits = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, request, &bits);
}

}  // namespace

std::string SerialDevicePath(int port) {
  return wire::PosixComPath(port, GetEnv(wire::ComVariable(port).c_str()).c_str());
}

struct SerialLine::Impl {
  int fd = -1;
  // Bytes already taken from the driver while waiting for a count; they are
  // handed out before anything the driver still holds.
  std::deque<std::uint8_t> queue;
  bool countersKnown = false;
  LineCounters counters;
  // What a cancel wakes a wait through; made at the first wait that
  // watches a cancel.
  std::unique_ptr<WakeEvent> wake;

  // Moves what the driver holds into the queue.  false when the line has
  // failed (the other side hung up, or the device went away).
  bool Drain() {
    std::uint8_t chunk[1024];
    while (queue.size() < kQueueLimit) {
      const std::size_t room = std::min(sizeof chunk, kQueueLimit - queue.size());
      const ssize_t n = ::read(fd, chunk, room);
      if (n > 0) {
        queue.insert(queue.end(), chunk, chunk + n);
        if (static_cast<std::size_t>(n) < room) return true;
        continue;
      }
      if (n == 0) return true;  // raw mode without VMIN/VTIME: nothing now
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
  }

  // Whether a line error was counted since the last look; either way the
  // current counts become the new reference, so an error is reported once.
  bool TakeLineError() {
    if (!countersKnown) return false;
    LineCounters now;
    if (!ReadCounters(fd, &now)) return false;
    const bool changed = now != counters;
    counters = now;
    return changed;
  }

  void CloseFd(bool exclusive) {
    if (exclusive) (void)ioctl(fd, TIOCNXCL);
    (void)flock(fd, LOCK_UN);
    (void)::close(fd);
    fd = -1;
    queue.clear();
    countersKnown = false;
  }
};

SerialLine::SerialLine() : impl_(std::make_unique<Impl>()) {}

SerialLine::~SerialLine() { Close(); }

bool SerialLine::IsOpen() const { return impl_->fd >= 0; }

bool SerialLine::Open(int port, const LineSettings& settings) {
  Close();
  speed_t speed = B0;
  if (!BaudConstant(settings.baud, &speed)) return false;

  const std::string path = SerialDevicePath(port);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  Impl& d = *impl_;
  d.fd = fd;

  // The lock is taken before the tty is marked exclusive, so a loser of the
  // race never clears the winner's mark.  The lock belongs to this open, so
  // it also keeps a second port object of the same process away.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    (void)::close(fd);
    d.fd = -1;
    return false;
  }
  (void)ioctl(fd, TIOCEXCL);

  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    d.CloseFd(true);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
  if (!ApplyFraming(settings, &tio)) {
    d.CloseFd(true);
    return false;
  }
  // Reads return at once with whatever is there; waiting is done with poll.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 || tcsetattr(fd, TCSANOW, &tio) != 0) {
    d.CloseFd(true);
    return false;
  }

  // Pseudo-terminals have no modem lines and refuse this; a real port that
  // fails here is broken.
  int bits = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIS, &bits) != 0 && errno != ENOTTY && errno != EINVAL) {
    d.CloseFd(true);
    return false;
  }
  // Input from before the open belongs to nobody; output a closed port of
  // ours left queued is still on its way out (see Close).
  if (tcflush(fd, TCIFLUSH) != 0) {
    d.CloseFd(true);
    return false;
  }
  d.queue.clear();
  d.countersKnown = ReadCounters(fd, &d.counters);
  return true;
}

void SerialLine::Close() {
  Impl& d = *impl_;
  if (d.fd < 0) return;
  // The device sees its lines fall before the port goes away.
  ModemLines(d.fd, TIOCMBIC);
  // Input nobody read is dropped.  Output is not: a write here returns once
  // its bytes are queued, so a command written just before the close (the
  // head's arm of a cancelled wait) would otherwise be cut off on the wire.
  // Without flow control the queue drains in its wire time.
  (void)tcflush(d.fd, TCIFLUSH);
  d.CloseFd(true);
}

int SerialLine::Write(const std::uint8_t* data, std::size_t length) {
  Impl& d = *impl_;
  if (d.fd < 0) {
    DebugTrace("Send -0");
    return -1;
  }
  // A new transmission starts with a clean error state, so a line error
  // from before it does not fail the answer's read.
  (void)d.TakeLineError();

  const auto deadline = Clock::now() + kWriteWait;
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(d.fd, data + done, length - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      DebugTrace("Send -2");
      return -1;
    }
    // The driver's output queue is full: wait until it takes more.
    const int left = RemainingMs(deadline);
    if (left <= 0) {
      DebugTrace("Send -3");
      return -1;
    }
    pollfd p{d.fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r == 0) {
      DebugTrace("Send -3");
      return -1;
    }
    if (r < 0) {
      if (errno == EINTR) continue;
      DebugTrace("Send -4");
      return -1;
    }
    if ((p.revents & POLLOUT) == 0) {
      DebugTrace("Send -2");
      return -1;
    }
  }
  DebugTrace("Send ok");
  return 0;
}

int SerialLine::ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) {
  Impl& d = *impl_;
  if (got != nullptr) *got = 0;
  if (d.fd < 0) {
    DebugTrace("GetString -2");
    return -1;
  }
  std::size_t n = std::min(room, d.queue.size());
  std::copy_n(d.queue.begin(), n, buffer);
  d.queue.erase(d.queue.begin(), d.queue.begin() + static_cast<std::ptrdiff_t>(n));

  bool failed = false;
  while (n < room) {
    const ssize_t r = ::read(d.fd, buffer + n, room - n);
    if (r > 0) {
      n += static_cast<std::size_t>(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    failed = r < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
    break;
  }
  if (n == 0) {
    DebugTrace(failed ? "GetString -2" : "GetString -7");
    return -1;
  }
  if (d.TakeLineError()) {
    DebugTrace("GetString -6");
    return -1;
  }
  if (got != nullptr) *got = n;
  DebugTrace("GetString ok");
  return 0;
}

bool SerialLine::WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) {
  Impl& d = *impl_;
  if (d.fd < 0) return false;
  if (!d.Drain()) return d.queue.size() >= atLeast;
  if (d.queue.size() >= atLeast) return true;
  if (timeoutMs <= 0) return false;

  WakeEvent* wake = WakeFor(&d.wake, cancel);
  const WakeOnCancel lent(cancel, wake);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // A full own queue cannot grow; waiting on would only spin.
    if (d.queue.size() >= kQueueLimit) return false;
    if (cancel != nullptr && cancel->Cancelled()) return false;
    const int left = RemainingMs(deadline);
    if (left <= 0) return false;
    pollfd p[2] = {{d.fd, POLLIN, 0}, {wake != nullptr ? wake->handle() : -1, POLLIN, 0}};
    const int r = ::poll(p, wake != nullptr ? 2 : 1, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) continue;  // the deadline check above ends the wait
    // Taken back before the count is looked at again: a cancel after this
    // wakes the next sleep.
    if (wake != nullptr && p[1].revents != 0) wake->Clear();
    if (p[0].revents == 0) continue;
    const bool alive = d.Drain();
    if (d.queue.size() >= atLeast) return true;
    // A line whose other side is gone signals readiness for ever; stop
    // instead of spinning until the deadline.
    if (!alive || (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return false;
  }
}

std::size_t SerialLine::InputCount() {
  Impl& d = *impl_;
  if (d.fd < 0) return 0;
  (void)d.TakeLineError();
  int pending = 0;
  if (ioctl(d.fd, FIONREAD, &pending) != 0 || pending < 0) pending = 0;
  return d.queue.size() + static_cast<std::size_t>(pending);
}

bool SerialLine::Failed() {
  Impl& d = *impl_;
  if (d.fd < 0) return false;
  pollfd p{d.fd, POLLIN, 0};
  int r = 0;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int SerialLine::Purge() {
  Impl& d = *impl_;
  if (d.fd < 0) return 0;
  d.queue.clear();
  return tcflush(d.fd, TCIOFLUSH) == 0 ? 1 : 0;
}

}  // namespace kp::platform
