// A serial line behind a device server: the Line of a COM number whose
// KPDEV_COM<n> names rfc2217://HOST:PORT or tcp://HOST:PORT.  It keeps the
// serial line's semantics exactly (the reader layer cannot tell them apart)
// and maps each operation onto the connection:
//
//   Open       connect (once per target in this process), then for RFC 2217
//              the line settings, DTR and RTS raised and both of the
//              server's buffers purged.  A new connection waits for the
//              speed's acknowledgement (the proof that the server took the
//              connection and the option, and that the first bytes go at
//              the new speed) and for nothing else; a server that never
//              sends it costs kSpeedAckWaitMs once per connection.  On a
//              kept connection nothing is waited for: the stream itself
//              puts the settings before the data.
//   Write      the bytes as data (0xFF doubled for RFC 2217).
//   ReadQueued, WaitInput, InputCount
//              the device's data only: the server's own messages are taken
//              out as they arrive (negotiation answered, notifications
//              dropped).
//   Purge      local input dropped, PURGE-DATA for both server buffers.
//   Close      DTR and RTS dropped, both buffers purged.  The connection is
//              kept for an Open of the same target by this same line (the
//              close-and-reopen of every speed change: no new connection,
//              no wait for the server to let go of the old one); it ends
//              when the line opens another target or is destroyed.
//   Failed     the server closed the connection or it broke.
//
// With tcp:// there is no Telnet: settings, control lines and purges do
// not reach the server (its port's speed is fixed there) and only local
// input is dropped.
#pragma once

#include <memory>
#include <string>

#include "platform/serial_line.h"

namespace kp::platform {

// How long an open may take to reach a server that does not answer.
constexpr int kConnectTimeoutMs = 3000;
// How long an RFC 2217 open waits for the speed's acknowledgement.
constexpr int kSpeedAckWaitMs = 1000;

class NetworkLine final : public Line {
 public:
  NetworkLine();
  ~NetworkLine() override;
  NetworkLine(const NetworkLine&) = delete;
  NetworkLine& operator=(const NetworkLine&) = delete;

  // Opens the target COM<port> stands for (SerialDevicePath).
  bool Open(int port, const LineSettings& settings) override;
  // Opens a target given as text; false for a text that is not one, a
  // target this process holds already, a server that cannot be reached,
  // refuses COM-PORT-OPTION or ends the connection at once (a port in use).
  bool OpenTarget(const std::string& target, const LineSettings& settings);
  void Close() override;
  bool IsOpen() const override;
  int Write(const std::uint8_t* data, std::size_t length) override;
  int ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) override;
  bool WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) override;
  std::size_t InputCount() override;
  int Purge() override;
  bool Failed() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kp::platform
