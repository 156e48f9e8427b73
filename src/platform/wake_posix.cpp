#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/wake.h"

namespace kp::platform {
namespace {

bool NonBlockingCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

// A pipe rather than an eventfd: it exists on every POSIX system, and the
// wait polls one more descriptor either way.
WakeEvent::WakeEvent() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  if (!NonBlockingCloseOnExec(fds[0]) || !NonBlockingCloseOnExec(fds[1])) {
    (void)::close(fds[0]);
    (void)::close(fds[1]);
    return;
  }
  read_ = fds[0];
  write_ = fds[1];
  usable_ = true;
}

WakeEvent::~WakeEvent() {
  if (!usable_) return;
  (void)::close(read_);
  (void)::close(write_);
}

void WakeEvent::Wake() {
  if (!usable_) return;
  const std::uint8_t one = 1;
  // A full pipe is already readable: the wake is there.
  ssize_t n = 0;
  do {
    n = ::write(write_, &one, 1);
  } while (n < 0 && errno == EINTR);
}

void WakeEvent::Clear() {
  if (!usable_) return;
  std::uint8_t chunk[64];
  for (;;) {
    const ssize_t n = ::read(read_, chunk, sizeof chunk);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    return;  // empty (EAGAIN)
  }
}

}  // namespace kp::platform
