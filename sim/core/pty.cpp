#include "core/pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kpsim {

namespace {

struct SpeedPair {
  speed_t speed;
  int baud;
};

constexpr SpeedPair kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},         {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},       {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},     {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

std::string Reason(const char* step) { return std::string(step) + ": " + std::strerror(errno); }

}  // namespace

int BaudOfSpeed(unsigned speed) {
  for (const SpeedPair& pair : kSpeeds) {
    if (pair.speed == speed) return pair.baud;
  }
  return 0;
}

bool SpeedOfBaud(int baud, unsigned* speed) {
  for (const SpeedPair& pair : kSpeeds) {
    if (pair.baud == baud) {
      *speed = pair.speed;
      return true;
    }
  }
  return false;
}

Pty::~Pty() { Close(); }

bool Pty::Open(int baud, std::string* error) {
  Close();
  unsigned speed = B9600;
  if (!SpeedOfBaud(baud, &speed)) {
    *error = "no such line speed " + std::to_string(baud);
    return false;
  }
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    *error = Reason("posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    *error = Reason("pseudo-terminal setup");
    Close();
    return false;
  }
  slave_path_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    *error = Reason("open slave");
    Close();
    return false;
  }
  termios settings{};
  if (tcgetattr(slave_, &settings) != 0) {
    *error = Reason("tcgetattr");
    Close();
    return false;
  }
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
    *error = Reason("tcsetattr");
    Close();
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    *error = Reason("non-blocking master");
    Close();
    return false;
  }
  // Without the watch the emulator still works; it only cannot report or
  // react to host opens and closes.
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(watch_);
    watch_ = -1;
  }
  host_opens_ = 0;
  return true;
}

void Pty::Close() {
  for (int* fd : {&watch_, &slave_, &master_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  slave_path_.clear();
}

int Pty::HostBaud() const {
  termios settings{};
  if (master_ < 0 || tcgetattr(master_, &settings) != 0) return 0;
  const int baud = BaudOfSpeed(cfgetospeed(&settings));
  return baud != 0 ? baud : -1;
}

void Pty::OnWatchEvents() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(watch_, buffer, sizeof buffer);
    if (got <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      if (event.mask & IN_OPEN) ++host_opens_;
      if (event.mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        if (host_opens_ > 0) --host_opens_;
        if (host_opens_ == 0) OnHostGone();
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
}

void Pty::OnHostGone() {
  if (slave_ < 0) return;
  ioctl(slave_, TIOCNXCL);
  tcflush(slave_, TCIFLUSH);
}

}  // namespace kpsim
