#include "id_presence.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "wire/id_frame.h"

namespace kpdev::tool {

namespace {

using Clock = std::chrono::steady_clock;

using kp::wire::kIdPreamble;
// The check byte that ends the module's answer "card found".
constexpr std::uint8_t kFound = 0x97;
// Preamble and a 2-byte length of what follows.
constexpr std::size_t kHeader = kp::wire::kIdHeader;
// The module's longest answer (text and photo) fits 3000 bytes in all; a
// header announcing more is not the module's.
constexpr std::size_t kMaxBody = 3000 - kHeader;

bool SpeedOf(int baud, speed_t* speed) {
  switch (baud) {
    case 9600:
      *speed = B9600;
      return true;
    case 19200:
      *speed = B19200;
      return true;
    case 38400:
      *speed = B38400;
      return true;
    case 57600:
      *speed = B57600;
      return true;
    case 115200:
      *speed = B115200;
      return true;
    default:
      return false;
  }
}

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

class Line {
 public:
  explicit Line(const std::string& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Claims the device as the library does (an exclusive lock), and sets it
  // raw, 8N1, at `speed`, dropping input nobody asked for.
  bool Setup(speed_t speed) {
    if (fd_ < 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0) return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 || tcsetattr(fd_, TCSANOW, &tio) != 0) {
      return false;
    }
    return tcflush(fd_, TCIFLUSH) == 0;
  }

  bool WriteAll(const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
      const ssize_t n = write(fd_, data, size);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, MillisLeft(deadline)) == 0) return false;
    }
    return true;
  }

  // Appends what arrives until `out` holds `want` bytes; false at the
  // deadline or on a line error.
  bool ReadUpTo(std::vector<std::uint8_t>* out, std::size_t want, Clock::time_point deadline) {
    std::uint8_t chunk[256];
    while (out->size() < want) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, MillisLeft(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      const std::size_t room = want - out->size() < sizeof chunk ? want - out->size() : sizeof chunk;
      const ssize_t n = read(fd_, chunk, room);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) return false;
      out->insert(out->end(), chunk, chunk + n);
    }
    return true;
  }

 private:
  int fd_;
};

}  // namespace

IdPresence CheckIdentityCard(const std::string& device, int baud, int timeLimitMs) {
  speed_t speed = B0;
  if (!SpeedOf(baud, &speed)) return IdPresence::kUnavailable;
  Line line(device);
  if (!line.Setup(speed)) return IdPresence::kUnavailable;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
  const kp::wire::Bytes findCard = kp::wire::EncodeIdCommand(kp::wire::kIdFindCard);
  if (!line.WriteAll(findCard.data(), findCard.size(), deadline)) return IdPresence::kUnavailable;
  std::vector<std::uint8_t> answer;
  if (!line.ReadUpTo(&answer, kHeader, deadline)) return IdPresence::kNoModule;
  for (std::size_t i = 0; i < sizeof kIdPreamble; ++i) {
    if (answer[i] != kIdPreamble[i]) return IdPresence::kNoModule;
  }
  const std::size_t body = kp::wire::IdAnnounced(answer.data());
  if (body == 0 || body > kMaxBody) return IdPresence::kNoModule;
  if (!line.ReadUpTo(&answer, kHeader + body, deadline)) return IdPresence::kNoModule;
  return answer.back() == kFound ? IdPresence::kPresent : IdPresence::kAbsent;
}

}  // namespace kpdev::tool
