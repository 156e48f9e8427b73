// The pseudo-terminal that stands in for the reader's serial port.
//
// The host opens the slave side as its serial port; the emulator reads and
// writes the master side.  The emulator keeps a descriptor of the slave open
// for its whole life, so the master never sees a hang-up when the host
// closes its end, and the line settings (speed) persist across host opens
// as they do on a real port.  On Linux the master reports the slave's
// settings, which is how the emulator learns the host's speed.
//
// Host opens and closes are watched with inotify on the slave's device
// node.  When the host's last descriptor closes, the emulator does what a
// real port's close does: unread input is discarded, and an exclusive-use
// claim (TIOCEXCL) is lifted, since the emulator's own descriptor would
// otherwise keep it in force and refuse the host's next open.
#pragma once

#include <string>

namespace kpsim {

class Pty {
 public:
  Pty() = default;
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Creates the pair, raw, at `baud`; false with a reason.
  bool Open(int baud, std::string* error);
  void Close();

  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }

  // The host's transmit speed as the slave's settings say; 0 if unreadable,
  // -1 for a speed without a standard constant (which no device speed
  // matches).
  int HostBaud() const;

  // Descriptor to poll for host opens and closes; -1 when not watched.
  int watch_fd() const { return watch_; }
  // Reads the pending watch events.
  void OnWatchEvents();
  // Descriptors the host holds on the slave; -1 when not watched.
  int host_opens() const { return watch_ < 0 ? -1 : host_opens_; }

 private:
  void OnHostGone();

  int master_ = -1;
  int slave_ = -1;
  int watch_ = -1;
  int host_opens_ = 0;
  std::string slave_path_;
};

// The speed of a termios speed constant (B9600 → 9600); 0 if unknown.
int BaudOfSpeed(unsigned speed);
// The termios constant of a speed; false when there is none.
bool SpeedOfBaud(int baud, unsigned* speed);

}  // namespace kpsim
