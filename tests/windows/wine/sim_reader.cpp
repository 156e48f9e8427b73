#include "sim_reader.h"

#include <winsock2.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "kp_dev.h"

namespace kpwine {
namespace {

int NumberFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string(name) + " is not set: run the tests through scripts/test-wine.sh");
  }
  return std::atoi(value);
}

}  // namespace

std::string Unspaced(std::string hex) {
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::toupper(c); });
  return hex;
}

std::string CommandFrame(std::uint16_t code, const std::string& dataHex) {
  const std::string data = Unspaced(dataHex);
  unsigned sum = (code >> 8) ^ (code & 0xFFu);
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) sum ^= std::stoul(data.substr(i, 2), nullptr, 16);
  char length_and_code[9];
  char check[3];
  std::snprintf(length_and_code, sizeof length_and_code, "%04X%04X", static_cast<unsigned>(data.size() / 2 + 2),
                static_cast<unsigned>(code));
  std::snprintf(check, sizeof check, "%02X", sum);
  // Every nibble travels as 0x30 + its value: hex "3" and the nibble's digit.
  std::string wire = "02";
  for (char nibble : length_and_code + data + check) {
    wire += '3';
    wire += nibble;
  }
  return wire + "03";
}

void SimReaderTest::SetUp() {
  com_ = NumberFromEnv("KPDEV_SIM_COM");
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(NumberFromEnv("KPDEV_SIM_CONTROL")));
  ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "no control port";
  const DWORD timeout = 5000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  socket_ = static_cast<std::uintptr_t>(s);
  // Every test starts from the same reader: default family and speed, the
  // IC module on the line, no armed fault, empty seats, an idle head.
  for (const char* line : {"fault clear", "family t1", "baud 9600", "module I", "pacing off"}) Control(line);
  std::istringstream cards(Control("cards"));  // "0=sle4442:tries=3 255=sector"
  for (std::string card; cards >> card;) Request("remove " + card.substr(0, card.find('=')));
  Request("head drop");  // "err" when no card is held: fine
  Control("clear");
}

void SimReaderTest::TearDown() {
  KP_DEV_CloseDevice(com_);
  closesocket(static_cast<SOCKET>(socket_));
  WSACleanup();
}

std::string SimReaderTest::Request(const std::string& line) {
  const SOCKET s = static_cast<SOCKET>(socket_);
  const std::string request = line + "\n";
  if (::send(s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
    throw std::runtime_error("control send failed during '" + line + "'");
  }
  for (std::size_t end; (end = pending_.find('\n')) == std::string::npos;) {
    char buffer[65536];
    const int got = ::recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) throw std::runtime_error("no reply to '" + line + "'");
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
  const std::size_t end = pending_.find('\n');
  const std::string reply = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return reply;
}

std::string SimReaderTest::Control(const std::string& line) {
  const std::string reply = Request(line);
  if (reply == "ok") return {};
  if (reply.rfind("ok ", 0) == 0) return reply.substr(3);
  throw std::runtime_error("'" + line + "' -> " + reply);
}

std::string SimReaderTest::PortText(int baud) const {
  char text[64];
  std::snprintf(text, sizeof text, "COM%d:%d:N:8:1", com_, baud);
  return text;
}

void SimReaderTest::OpenReader(int type, int baud) {
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(type, PortText(baud).c_str(), &handle), 0);
  ASSERT_EQ(handle, com_);
  Control("clear");
}

std::string SimReaderTest::Sent() { return SentAtLeast(0); }

std::string SimReaderTest::SentAtLeast(std::size_t count) {
  const ULONGLONG deadline = GetTickCount64() + 2000;
  std::string sent;
  for (;;) {
    // "traffic" lists runs as TAG HEX pairs; the host's runs are tagged H>D.
    const std::string traffic = " " + Control("traffic") + " ";
    sent.clear();
    for (std::size_t at = 0; (at = traffic.find(" H>D ", at)) != std::string::npos;) {
      at += 5;
      sent += traffic.substr(at, traffic.find(' ', at) - at);
    }
    // The reader's bytes arrive on a line this program cannot watch; ask
    // again after a short pause.
    if (sent.size() >= 2 * count || GetTickCount64() >= deadline) break;
    Sleep(5);
  }
  Control("clear");
  return sent;
}

}  // namespace kpwine
