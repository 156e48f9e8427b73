#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim_client.h"

namespace kpsim {

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      throw SimError("no line speed " + std::to_string(baud));
  }
}

}  // namespace

HostPort::HostPort(const std::string& path, int baud) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw SimError("open " + path + ": " + std::strerror(errno));
  try {
    SetBaud(baud);
  } catch (...) {
    close(fd_);
    throw;
  }
  tcflush(fd_, TCIOFLUSH);
}

HostPort::~HostPort() {
  if (fd_ >= 0) close(fd_);
}

void HostPort::SetBaud(int baud) {
  termios settings{};
  if (tcgetattr(fd_, &settings) != 0) throw SimError(std::string("tcgetattr: ") + std::strerror(errno));
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&settings, SpeedOf(baud));
  cfsetospeed(&settings, SpeedOf(baud));
  if (tcsetattr(fd_, TCSANOW, &settings) != 0) throw SimError(std::string("tcsetattr: ") + std::strerror(errno));
}

void HostPort::Write(const Bytes& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      pollfd fd{fd_, POLLOUT, 0};
      poll(&fd, 1, 1000);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    throw SimError(std::string("write: ") + std::strerror(errno));
  }
}

Bytes HostPort::Read(std::size_t count, std::chrono::milliseconds timeout) {
  Bytes bytes;
  const Clock::time_point deadline = Clock::now() + timeout;
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd fd{fd_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
    std::uint8_t buffer[4096];
    const std::size_t room = count - bytes.size() < sizeof buffer ? count - bytes.size() : sizeof buffer;
    const ssize_t got = read(fd_, buffer, room);
    if (got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

Bytes HostPort::ReadUntilQuiet(std::chrono::milliseconds quiet) {
  Bytes bytes;
  for (;;) {
    pollfd fd{fd_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(quiet.count())) <= 0) return bytes;
    std::uint8_t buffer[4096];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  }
}

}  // namespace kpsim
