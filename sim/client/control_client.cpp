#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sim_client.h"
#include "wire/bytes.h"

namespace kpsim {

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

std::string ToHexText(const Bytes& bytes) { return kp::wire::ToHex(bytes); }

Bytes FromHexText(const std::string& text) {
  Bytes bytes;
  if (!kp::wire::FromHex(text, &bytes)) {
    throw SimError((text.size() % 2 != 0 ? "odd hex text '" : "bad hex text '") + text + "'");
  }
  return bytes;
}

std::string SimStatus::Get(const std::string& key) const {
  const auto it = values.find(key);
  if (it == values.end()) throw SimError("status has no '" + key + "'");
  return it->second;
}

long long SimStatus::Number(const std::string& key) const {
  const std::string text = Get(key);
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') throw SimError("status " + key + "=" + text + " is not a number");
  return value;
}

Control::Control(int port, std::chrono::milliseconds timeout) : timeout_(timeout) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw SimError(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd_);
    fd_ = -1;
    throw SimError("control port " + std::to_string(port) + ": " + reason);
  }
  const int yes = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

Control::~Control() {
  if (fd_ >= 0) close(fd_);
}

std::string Control::Request(const std::string& line) {
  const std::string request = line + "\n";
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw SimError(std::string("control send: ") + std::strerror(errno));
    sent += static_cast<std::size_t>(n);
  }
  const Clock::time_point deadline = Clock::now() + timeout_;
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string reply = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return reply;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{fd_, POLLIN, 0};
    const int polled = poll(&fd, 1, left < 0 ? 0 : static_cast<int>(left));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) throw SimError("no reply to '" + line + "' in time");
    char buffer[65536];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) throw SimError("control connection closed during '" + line + "'");
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

std::string Control::Ok(const std::string& line) {
  const std::string reply = Request(line);
  if (reply == "ok") return {};
  if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
  throw SimError("'" + line + "' -> " + reply);
}

SimStatus Control::Status() {
  SimStatus status;
  for (const std::string& word : Words(Ok("status"))) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos) throw SimError("bad status word '" + word + "'");
    status.values[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return status;
}

WireTraffic Control::Traffic() {
  WireTraffic traffic;
  const std::vector<std::string> words = Words(Ok("traffic"));
  if (words.size() % 2 != 0) throw SimError("traffic reply has an odd number of words");
  for (std::size_t i = 0; i < words.size(); i += 2) {
    WireSegment segment{words[i], FromHexText(words[i + 1])};
    Bytes* all = nullptr;
    if (segment.tag == "H>D") {
      all = &traffic.host_to_device;
    } else if (segment.tag == "D>H") {
      all = &traffic.device_to_host;
    } else if (segment.tag == "H~D") {
      all = &traffic.host_noise;
    } else if (segment.tag == "D~H") {
      all = &traffic.device_lost;
    } else {
      throw SimError("unknown traffic tag '" + segment.tag + "'");
    }
    all->insert(all->end(), segment.bytes.begin(), segment.bytes.end());
    traffic.segments.push_back(std::move(segment));
  }
  return traffic;
}

void Control::SetVersionBytes(const Bytes& bytes) { Ok("version-hex " + ToHexText(bytes)); }

}  // namespace kpsim
