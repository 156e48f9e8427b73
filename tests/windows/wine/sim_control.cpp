#include "sim_control.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

namespace kpwine {
namespace {

constexpr DWORD kReplyTimeoutMs = 5000;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

Bytes FromHex(const std::string& text) {
  if (text.size() % 2 != 0) throw ControlError("odd hex text '" + text + "'");
  Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) throw ControlError("bad hex text '" + text + "'");
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && text[at] == ' ') ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ') ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

int NumberFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw ControlError(std::string(name) + " is not set: run the tests through scripts/test-wine.sh");
  }
  return std::atoi(value);
}

}  // namespace

SimControl::SimControl(int port) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw ControlError("WSAStartup failed");
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    WSACleanup();
    throw ControlError("socket failed");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    WSACleanup();
    throw ControlError("cannot connect to the control port " + std::to_string(port));
  }
  const DWORD timeout = kReplyTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  BOOL yes = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  socket_ = static_cast<std::uintptr_t>(s);
}

SimControl::~SimControl() {
  closesocket(static_cast<SOCKET>(socket_));
  WSACleanup();
}

std::string SimControl::Request(const std::string& line) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  const std::string request = line + "\n";
  for (std::size_t sent = 0; sent < request.size();) {
    const int n = ::send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) throw ControlError("control send failed during '" + line + "'");
    sent += static_cast<std::size_t>(n);
  }
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string reply = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return reply;
    }
    char buffer[65536];
    const int got = ::recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) throw ControlError("no reply to '" + line + "'");
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string SimControl::Ok(const std::string& line) {
  const std::string reply = Request(line);
  if (reply == "ok") return {};
  if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
  throw ControlError("'" + line + "' -> " + reply);
}

std::map<std::string, std::string> SimControl::Status() {
  std::map<std::string, std::string> values;
  for (const std::string& word : Words(Ok("status"))) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) throw ControlError("bad status word '" + word + "'");
    values[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return values;
}

Bytes SimControl::Traffic(const std::string& tag) {
  const std::vector<std::string> words = Words(Ok("traffic"));
  if (words.size() % 2 != 0) throw ControlError("traffic reply has an odd number of words");
  Bytes all;
  for (std::size_t i = 0; i < words.size(); i += 2) {
    if (words[i] != tag) continue;
    const Bytes run = FromHex(words[i + 1]);
    all.insert(all.end(), run.begin(), run.end());
  }
  return all;
}

int ControlPortFromEnv() { return NumberFromEnv("KPDEV_SIM_CONTROL"); }

int ComPortFromEnv() { return NumberFromEnv("KPDEV_SIM_COM"); }

std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace kpwine
