#include "platform/network_line.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "base/trace.h"
#include "platform/network_target.h"
#include "platform/platform.h"
#include "platform/rfc2217.h"
#include "platform/socket.h"

namespace kp::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long a write may wait in all for the connection to take its bytes,
// as long as the serial line's.
constexpr int kSendTimeoutMs = 3000;
// Closing sends three short commands; a server that does not take them at
// once is left with the connection's end.
constexpr int kCloseSendTimeoutMs = 200;
// Data bytes the line keeps received and not yet taken.  Far above any
// read the reader layer makes; once reached, further input waits in the
// connection.
constexpr std::size_t kQueueLimit = 1u << 20;
constexpr std::size_t kChunk = 4096;
// Characters of what a server said before ending a connection that the
// trace repeats ("Port already in use").
constexpr std::size_t kShownChars = 60;
// Tries of a new connection that the server ends at once, and the pause
// between them (see OpenTarget).
constexpr int kInUseRetries = 3;
constexpr int kInUseRetryMs = 50;

void Trace(const std::string& text) {
  if (TraceEnabled()) DebugTrace(text.c_str());
}

// Targets the lines of this process hold, so that one target has one
// handle at a time, as a serial device does.  Keyed by host (any case) and
// port, whatever the protocol: both reach the same port of the server.
// Never destroyed: readers closed at unload still give their claims back.
class Claims {
 public:
  bool Take(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.insert(key).second;
  }
  void Give(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_.erase(key);
  }

 private:
  std::mutex mutex_;
  std::set<std::string> held_;
};

Claims& HeldTargets() {
  static auto* claims = new Claims;
  return *claims;
}

std::string KeyOf(const NetworkTarget& target) {
  std::string key;
  for (char c : target.host) key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return key + "|" + std::to_string(target.port);
}

// The printable start of what a server sent, for the trace.
std::string Shown(const std::deque<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    if (text.size() >= kShownChars) break;
    if (b == '\r' || b == '\n') continue;
    text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
  }
  return text;
}

}  // namespace

struct NetworkLine::Impl {
  TcpConnection connection;
  NetworkTarget target;
  std::string name;  // the target as text, for the trace
  std::string key;   // claimed while the connection exists
  bool open = false;
  bool ended = false;
  std::unique_ptr<rfc2217::Session> telnet;  // RFC 2217 targets only
  std::deque<std::uint8_t> queue;
  Bytes replies;
  // What a cancel wakes a wait through; made at the first wait that
  // watches a cancel.
  std::unique_ptr<WakeEvent> wake;

  // Moves what has arrived into the queue (the server's own messages taken
  // out and answered).  At most kQueueLimit bytes per call: a server that
  // sends nothing but its own messages, without end, cannot hold the
  // caller here.
  void Pump() {
    std::uint8_t chunk[kChunk];
    std::size_t taken = 0;
    while (!ended && connection.IsOpen() && queue.size() < kQueueLimit && taken < kQueueLimit) {
      std::size_t got = 0;
      const auto r = connection.Receive(chunk, std::min(sizeof chunk, kQueueLimit - queue.size()), &got);
      taken += got;
      if (r == TcpConnection::Received::kNothing) break;
      if (r == TcpConnection::Received::kEnded) {
        ended = true;
        Trace(name + ": the connection ended");
        break;
      }
      if (telnet) {
        telnet->Take(chunk, got, &queue, &replies);
      } else {
        queue.insert(queue.end(), chunk, chunk + got);
      }
    }
    if (!replies.empty() && !ended) {
      if (!connection.SendAll(replies.data(), replies.size(), kSendTimeoutMs)) ended = true;
      replies.clear();
    }
  }

  // Ends the connection and gives the target back.
  void Release() {
    connection.Close();
    if (!key.empty()) HeldTargets().Give(key);
    key.clear();
    telnet.reset();
    ended = false;
    open = false;
    queue.clear();
    replies.clear();
  }

  bool Send(const Bytes& bytes, int timeoutMs) {
    if (connection.SendAll(bytes.data(), bytes.size(), timeoutMs)) return true;
    ended = true;
    return false;
  }

  bool Connect(const NetworkTarget& to, const std::string& text);
  bool AwaitSpeed(unsigned acksBefore, int baud);
  bool SetLine(const LineSettings& settings, bool fresh);
};

bool NetworkLine::Impl::Connect(const NetworkTarget& to, const std::string& text) {
  const std::string wanted = KeyOf(to);
  if (!HeldTargets().Take(wanted)) {
    Trace(text + ": already open in this process");
    return false;
  }
  key = wanted;
  name = text;
  const ConnectError e = connection.Connect(to.host, to.port, kConnectTimeoutMs);
  if (e != ConnectError::kNone) {
    Trace(text + ": " + ConnectErrorText(e));
    Release();
    return false;
  }
  target = to;
  ended = false;
  if (to.protocol == NetworkProtocol::kRfc2217) telnet = std::make_unique<rfc2217::Session>();
  Trace(text + ": connected");
  return true;
}

// A new connection is only known to be the reader's once the server has
// taken the settings: a server whose port is taken ends the connection
// instead, one without the option refuses it.  The speed's acknowledgement
// is that proof (and tells that the first bytes will go at the new speed);
// nothing else is waited for (control lines in particular: a server in
// front of a pseudo-terminal never confirms them).
bool NetworkLine::Impl::AwaitSpeed(unsigned acksBefore, int baud) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kSpeedAckWaitMs);
  for (;;) {
    Pump();
    if (telnet->comPortRefused()) {
      Trace(name + ": the device server refuses COM-PORT-OPTION (a port without speed control: use tcp://)");
      return false;
    }
    if (telnet->speedAcks() != acksBefore) {
      if (telnet->ackedSpeed() != static_cast<std::uint32_t>(baud)) {
        Trace(name + ": the device server set " + std::to_string(telnet->ackedSpeed()) + " baud, not " +
              std::to_string(baud));
      }
      return true;
    }
    if (ended) {
      // A server whose port is taken says so and hangs up ("Port already
      // in use").
      Trace(name + ": the device server ended the connection at once" +
            (queue.empty() ? std::string() : " (\"" + Shown(queue) + "\")"));
      return false;
    }
    const int left = MsUntil(deadline);
    if (left <= 0) {
      Trace(name + ": no acknowledgement of the speed; going on");
      return true;
    }
    connection.WaitReadable(left);
  }
}

// Puts the line settings, raised control lines and the purge of an open on
// an RFC 2217 connection; false when the server does not take them (the
// caller releases the connection).
bool NetworkLine::Impl::SetLine(const LineSettings& settings, bool fresh) {
  Bytes out;
  if (fresh) telnet->Start(&out);
  rfc2217::AppendSettings(&out, settings);
  for (std::uint8_t control : {rfc2217::kDtrOn, rfc2217::kRtsOn}) {
    rfc2217::AppendCommand(&out, rfc2217::kSetControl, &control, 1);
  }
  // As a serial open drops what the device sent before it; bytes still on
  // their way to the device from before a close go out.
  rfc2217::AppendCommand(&out, rfc2217::kPurgeData, &rfc2217::kPurgeReceived, 1);
  const unsigned acks = telnet->speedAcks();
  if (!Send(out, kSendTimeoutMs)) {
    Trace(name + ": the device server does not take the line settings");
    return false;
  }
  // A kept connection has proved itself; the new settings are ordered
  // before the data that follows them by the stream itself.
  return !fresh || AwaitSpeed(acks, settings.baud);
}

NetworkLine::NetworkLine() : impl_(std::make_unique<Impl>()) {}

NetworkLine::~NetworkLine() { impl_->Release(); }

bool NetworkLine::IsOpen() const { return impl_->open; }

bool NetworkLine::Open(int port, const LineSettings& settings) { return OpenTarget(SerialDevicePath(port), settings); }

bool NetworkLine::OpenTarget(const std::string& text, const LineSettings& settings) {
  Close();
  Impl& d = *impl_;
  NetworkTarget to;
  if (!ParseNetworkTarget(text, &to)) {
    Trace(text + ": not a network target (rfc2217://HOST:PORT or tcp://HOST:PORT)");
    d.Release();
    return false;
  }
  const std::string name = NetworkTargetText(to);
  // The connection kept from the last close serves again when it reaches
  // the same target and is still up.
  if (d.connection.IsOpen()) {
    d.Pump();
    if (d.key != KeyOf(to) || d.target.protocol != to.protocol || d.ended) d.Release();
  }
  const bool fresh = !d.connection.IsOpen();
  // A server lets a port go a few milliseconds after the connection that
  // held it ended, and until then ends a new one at once ("Port already in
  // use"): an application's close followed at once by an open meets that
  // window.  A few tries kInUseRetryMs apart cover it; a port that another
  // client holds costs their sum before the open fails.
  for (int attempt = 0; fresh; ++attempt) {
    if (!d.Connect(to, name)) return false;
    if (!d.telnet) break;
    if (d.SetLine(settings, true)) break;
    const bool inUse = d.ended && !d.telnet->comPortRefused();
    d.Release();
    if (!inUse || attempt >= kInUseRetries) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kInUseRetryMs));
  }
  if (!fresh && d.telnet && !d.SetLine(settings, false)) {
    d.Release();
    return false;
  }
  // As a serial open flushes its queues, nothing received before counts.
  d.queue.clear();
  d.open = true;
  return true;
}

void NetworkLine::Close() {
  Impl& d = *impl_;
  if (!d.open) return;
  d.open = false;
  d.queue.clear();
  if (d.ended) {
    d.Release();
    return;
  }
  if (d.telnet) {
    // The device sees its lines fall; what the server holds of the
    // device's bytes is dropped, as closing a serial port drops its input.
    // What it holds for the device is not: a command written just before
    // the close (the head's arm of a cancelled wait) must reach the device
    // whole.
    Bytes out;
    for (std::uint8_t control : {rfc2217::kRtsOff, rfc2217::kDtrOff}) {
      rfc2217::AppendCommand(&out, rfc2217::kSetControl, &control, 1);
    }
    rfc2217::AppendCommand(&out, rfc2217::kPurgeData, &rfc2217::kPurgeReceived, 1);
    if (!d.Send(out, kCloseSendTimeoutMs)) d.Release();
  }
}

int NetworkLine::Write(const std::uint8_t* data, std::size_t length) {
  Impl& d = *impl_;
  if (!d.open) {
    DebugTrace("Send -0");
    return -1;
  }
  if (d.ended) {
    DebugTrace("Send -2");
    return -1;
  }
  Bytes out;
  if (d.telnet) {
    out.reserve(length + length / 8 + 1);
    rfc2217::AppendData(&out, data, length);
  } else {
    out.assign(data, data + length);
  }
  const bool sent = d.Send(out, kSendTimeoutMs);
  DebugTrace(sent ? "Send ok" : "Send -2");
  return sent ? 0 : -1;
}

int NetworkLine::ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) {
  Impl& d = *impl_;
  if (got != nullptr) *got = 0;
  if (!d.open) {
    DebugTrace("GetString -2");
    return -1;
  }
  d.Pump();
  const std::size_t n = std::min(room, d.queue.size());
  if (n == 0) {
    DebugTrace(d.ended ? "GetString -2" : "GetString -7");
    return -1;
  }
  std::copy_n(d.queue.begin(), n, buffer);
  d.queue.erase(d.queue.begin(), d.queue.begin() + static_cast<std::ptrdiff_t>(n));
  if (got != nullptr) *got = n;
  DebugTrace("GetString ok");
  return 0;
}

bool NetworkLine::WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) {
  Impl& d = *impl_;
  if (!d.open) return false;
  d.Pump();
  if (d.queue.size() >= atLeast) return true;
  if (timeoutMs <= 0) return false;
  WakeEvent* wake = WakeFor(&d.wake, cancel);
  const WakeOnCancel lent(cancel, wake);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // A server that has gone sends nothing more; a full queue cannot grow.
    if (d.ended || d.queue.size() >= kQueueLimit) return false;
    if (cancel != nullptr && cancel->Cancelled()) return false;
    const int left = MsUntil(deadline);
    if (left <= 0) return false;
    d.connection.WaitReadable(left, wake);
    // Taken back before the count is looked at again.
    if (wake != nullptr) wake->Clear();
    d.Pump();
    if (d.queue.size() >= atLeast) return true;
  }
}

std::size_t NetworkLine::InputCount() {
  Impl& d = *impl_;
  if (!d.open) return 0;
  d.Pump();
  return d.queue.size();
}

int NetworkLine::Purge() {
  Impl& d = *impl_;
  if (!d.open) return 0;
  d.Pump();
  d.queue.clear();
  if (d.telnet && !d.ended) {
    Bytes out;
    rfc2217::AppendCommand(&out, rfc2217::kPurgeData, &rfc2217::kPurgeBoth, 1);
    if (!d.Send(out, kSendTimeoutMs)) return 0;
  }
  return 1;
}

bool NetworkLine::Failed() {
  Impl& d = *impl_;
  if (!d.open) return false;
  d.Pump();
  return d.ended;
}

}  // namespace kp::platform
