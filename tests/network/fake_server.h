// A scripted device server on 127.0.0.1, for what a real one cannot be
// made to do: refuse COM-PORT-OPTION, never acknowledge the speed, put a
// notification in the middle of an answer, hang up in mid-exchange.
//
// It accepts one connection at a time (the next after the last has ended),
// records every byte received on each, and answers by script: when the
// bytes received on the current connection contain a trigger (after the
// point where the last trigger matched), it sends the reply exactly as
// written, Telnet escaping and all, and may then hang up.  In Telnet mode
// it acknowledges each SET-BAUDRATE as a server must (unless told not to):
// IAC SB COM-PORT-OPTION 101 <the four speed bytes> IAC SE.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kptest {

using Bytes = std::vector<std::uint8_t>;

class FakeServer {
 public:
  struct Behaviour {
    bool telnet = true;
    bool ackSpeed = true;
    Bytes greeting;               // sent as soon as a connection is accepted
    Bytes onComPortOffer;         // sent when the client says IAC WILL COM-PORT-OPTION
    std::string hangUpWith;       // when set: sent on accept, then the connection ends
    std::size_t hangUpFirst = 0;  // with hangUpWith: only the first this many (0: all)
  };
  explicit FakeServer(Behaviour behaviour);
  FakeServer() : FakeServer(Behaviour{}) {}
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const { return port_; }
  std::string Url(const char* scheme = "rfc2217") const;

  // When `trigger` has been received, sends `reply`; with hangUp the
  // connection ends right after.  Entries are used once, in order.
  void On(const Bytes& trigger, const Bytes& reply, bool hangUp = false);

  // Bytes received on each connection so far, the first connection first.
  std::vector<Bytes> Received();
  // Waits until connection `index` has ended (the client closed it or the
  // script hung up); false after timeoutMs.
  bool WaitEnded(std::size_t index, int timeoutMs = 2000);
  // Waits until `n` bytes have arrived on connection `index`.
  bool WaitReceived(std::size_t index, std::size_t n, int timeoutMs = 2000);

 private:
  struct Script {
    Bytes trigger;
    Bytes reply;
    bool hangUp;
  };
  struct Connection {
    Bytes received;
    std::size_t matched = 0;  // script triggers are looked for from here
    std::size_t scanned = 0;  // speed requests are looked for from here
    bool ended = false;
  };
  void Run();
  void Serve(int fd);
  // What the bytes of the current connection call for; true to hang up.
  bool Respond(int fd, Connection& c);

  Behaviour behaviour_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Script> script_;
  std::vector<Connection> connections_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace kptest
