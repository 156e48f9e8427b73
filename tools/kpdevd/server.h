// The service on the network: HTTP and WebSocket on the loopback
// interface, one I/O thread for every connection (they only wait on
// sockets; the readers work on threads of their own, see readers.h).
#pragma once

#include <memory>
#include <string>

#include "policy.h"

namespace kpdev::service {

struct ServerOptions {
  int port = 0;  // 0: any free port
  Config config;
  std::string token;  // empty unless the config requires one
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds 127.0.0.1 (and ::1 where the machine has it); false with a
  // message on stderr.  port() is known afterwards.
  bool Listen();
  int port() const;
  // Serves until SIGINT or SIGTERM.
  void Run();

  struct State;  // the connections' shared state (server.cpp)

 private:
  std::shared_ptr<State> state_;
};

}  // namespace kpdev::service
