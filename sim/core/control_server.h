// The control interface's TCP server on 127.0.0.1: line-oriented text, one
// request line in, one reply line out, any number of requests per
// connection, several connections at once.  It plugs into the owner's poll
// loop: Collect adds its descriptors, Dispatch handles their events.
#pragma once

#include <poll.h>

#include <functional>
#include <string>
#include <vector>

namespace kpsim {

class ControlServer {
 public:
  // A request line longer than this is refused with one "err" reply and
  // the rest of it, up to its newline, is discarded.
  static constexpr std::size_t kMaxLine = 64 * 1024;
  static constexpr std::size_t kMaxConnections = 32;

  using Handler = std::function<std::string(const std::string& line)>;

  ControlServer() = default;
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Listens on 127.0.0.1:port (0: any free port).
  bool Listen(int port, std::string* error);
  int port() const { return port_; }

  void Collect(std::vector<pollfd>* fds) const;
  // Handles the events of the descriptors Collect added, starting at
  // fds[first].
  void Dispatch(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler);
  // True when no reply is waiting to be written.
  bool Flushed() const;
  void Close();

 private:
  struct Connection {
    int fd = -1;
    std::string in;
    std::string out;
    bool closing = false;   // close once `out` is written
    bool skipping = false;  // discarding the rest of an overlong line
  };

  void Accept();
  void Read(Connection& connection, const Handler& handler);
  void Write(Connection& connection);

  int listener_ = -1;
  int port_ = 0;
  std::vector<Connection> connections_;
};

}  // namespace kpsim
