// What the ports listing shares on every system: the entry's document and
// the device-server checks, which go through the network seam alone.
#include "ports.h"

#include <chrono>
#include <cstdint>
#include <deque>

#include "platform/network_line.h"
#include "platform/network_target.h"
#include "platform/rfc2217.h"
#include "platform/socket.h"

namespace kpdev::tool {

bool IsNetworkTarget(const std::string& path) { return kp::platform::IsNetworkTarget(path); }

nlohmann::json PortJson(const PortEntry& entry) {
  nlohmann::json j{{"device", entry.path},
                   {"resolved", entry.resolved},
                   {"source", entry.source},
                   {"access", entry.access},
                   {"can_open", entry.usable}};
  j["com"] = entry.com > 0 ? nlohmann::json(entry.com) : nlohmann::json(nullptr);
  if (!entry.fix.empty()) j["fix"] = entry.fix;
  return j;
}

void CheckReachable(PortEntry* entry) {
  const PortDiagnosis reach = DiagnoseTarget(entry->path);
  entry->usable = reach.ok;
  entry->access = entry->usable ? "yes (device server)" : "no: " + reach.reason;
  entry->fix = reach.hint;
}

PortDiagnosis DiagnoseTarget(const std::string& text) {
  kp::platform::NetworkTarget target;
  if (!kp::platform::ParseNetworkTarget(text, &target)) {
    return {false, "not a device server address", "name one as rfc2217://HOST:PORT or tcp://HOST:PORT"};
  }
  const std::string where = "host " + target.host + " port " + std::to_string(target.port);
  kp::platform::TcpConnection connection;
  const kp::platform::ConnectError error =
      connection.Connect(target.host, target.port, kp::platform::kConnectTimeoutMs);
  if (error != kp::platform::ConnectError::kNone) {
    return {false, std::string(kp::platform::ConnectErrorText(error)) + " (" + where + ")",
            "is the device server running and listening there? (README: Readers on the network)"};
  }
  // A server whose port is taken says so and hangs up at once; what it
  // says is read past its Telnet negotiation.
  kp::platform::rfc2217::Session telnet;
  std::deque<std::uint8_t> said;
  kp::Bytes replies;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (!ended && std::chrono::steady_clock::now() < deadline && said.size() < 200) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!connection.WaitReadable(static_cast<int>(left.count()) + 1)) break;
    std::uint8_t chunk[256];
    std::size_t got = 0;
    const auto r = connection.Receive(chunk, sizeof chunk, &got);
    if (r == kp::platform::TcpConnection::Received::kEnded) ended = true;
    if (r != kp::platform::TcpConnection::Received::kBytes) continue;
    if (target.protocol == kp::platform::NetworkProtocol::kRfc2217) {
      telnet.Take(chunk, got, &said, &replies);
    } else {
      said.insert(said.end(), chunk, chunk + got);
    }
  }
  if (!ended) return {true, "", ""};
  std::string words;
  for (std::uint8_t b : said) {
    if (b >= 0x20 && b < 0x7F) words.push_back(static_cast<char>(b));
  }
  return {
      false,
      "the device server ended the connection at once (" + where + (words.empty() ? "" : ": \"" + words + "\"") + ")",
      "another program may hold the reader's port there"};
}

}  // namespace kpdev::tool
