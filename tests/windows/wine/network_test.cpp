// A COM number that names a device server, on Winsock: KPDEV_COM<n> set to
// rfc2217:// or tcp:// replaces \\.\COM<n> for that number.  A scripted
// server on 127.0.0.1 in a thread of this program plays the device server;
// the bytes it receives are written from RFC 2217.
// Winsock before windows.h, which would bring the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kCom = 9;

Bytes Hex(const char* text) {
  Bytes out;
  for (const char* p = text; p[0] != '\0' && p[1] != '\0';) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    out.push_back(static_cast<unsigned char>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One connection: everything it receives until the client closes it, and
// the answers: SET-BAUDRATE acknowledged (Telnet only), the type-61 version
// request (1B 65 00) answered with `version`.
class Server {
 public:
  Server(bool telnet, Bytes version) : telnet_(telnet), version_(std::move(version)) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Server() {
    closesocket(listener_);
    if (thread_.joinable()) thread_.join();
    WSACleanup();
  }
  std::string Url(const char* scheme) const { return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_); }
  // All bytes of the connection, once the client has closed it.
  Bytes Received() {
    thread_.join();
    return received_;
  }

 private:
  static bool Contains(const Bytes& in, const Bytes& what) {
    return std::search(in.begin(), in.end(), what.begin(), what.end()) != in.end();
  }
  void Serve() {
    SOCKET s = accept(listener_, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    std::size_t acked = 0;
    bool answered = false;
    for (;;) {
      char chunk[512];
      const int n = recv(s, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      received_.insert(received_.end(), chunk, chunk + n);
      // IAC SB COM-PORT-OPTION SET-BAUDRATE b b b b IAC SE -> the same with 101.
      const Bytes speed{0xFF, 0xFA, 0x2C, 0x01};
      for (std::size_t at = acked; telnet_ && at + 10 <= received_.size(); ++at) {
        if (std::equal(speed.begin(), speed.end(), received_.begin() + static_cast<std::ptrdiff_t>(at))) {
          Bytes ack{0xFF, 0xFA, 0x2C, 0x65};
          ack.insert(ack.end(), received_.begin() + static_cast<std::ptrdiff_t>(at + 4),
                     received_.begin() + static_cast<std::ptrdiff_t>(at + 8));
          ack.insert(ack.end(), {0xFF, 0xF0});
          send(s, reinterpret_cast<const char*>(ack.data()), static_cast<int>(ack.size()), 0);
          acked = at + 10;
        }
      }
      if (!answered && Contains(received_, Hex("1B 65 00"))) {
        send(s, reinterpret_cast<const char*>(version_.data()), static_cast<int>(version_.size()), 0);
        answered = true;
      }
    }
    closesocket(s);
  }

  bool telnet_;
  Bytes version_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
  Bytes received_;
};

std::string PortText() { return "COM" + std::to_string(kCom) + ":115200:N:8:1"; }

void PointAt(const std::string& target) {
  SetEnvironmentVariableA(("KPDEV_COM" + std::to_string(kCom)).c_str(), target.c_str());
}

TEST(NetworkTarget, Rfc2217OpenVersionAndClose) {
  // The version text holds a doubled 0xFF and a NOTIFY-MODEMSTATE.
  Server server(true, Hex("4B FF FF FF FA 2C 6B 00 FF F0 50 00"));
  PointAt(server.Url("rfc2217"));
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(61, PortText().c_str(), &handle), 0);
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(handle, version), 0);
  EXPECT_STREQ(version, "K\xFFP");
  EXPECT_EQ(KP_DEV_CloseDevice(handle), 0);
  PointAt("");
  // WILL/DO BINARY, WILL/DO SUPPRESS-GO-AHEAD, WILL COM-PORT-OPTION; 115200
  // 8N1; DTR and RTS on; purge what the server holds from the device; the
  // request; RTS and DTR off; the same purge.
  EXPECT_EQ(server.Received(),
            Join({Hex("FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C"),
                  Hex("FF FA 2C 01 00 01 C2 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0"),
                  Hex("FF FA 2C 05 08 FF F0 FF FA 2C 05 0B FF F0 FF FA 2C 0C 01 FF F0"), Hex("1B 65 00"),
                  Hex("FF FA 2C 05 0C FF F0 FF FA 2C 05 09 FF F0 FF FA 2C 0C 01 FF F0")}));
}

TEST(NetworkTarget, RawTcpCarriesOnlyTheDevicesBytes) {
  Server server(false, Hex("4B FF 00"));
  PointAt(server.Url("tcp"));
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(61, PortText().c_str(), &handle), 0);
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(handle, version), 0);
  EXPECT_STREQ(version, "K\xFF");
  EXPECT_EQ(KP_DEV_CloseDevice(handle), 0);
  PointAt("");
  EXPECT_EQ(server.Received(), Hex("1B 65 00"));
}

TEST(NetworkTarget, RefusedConnectionFailsTheOpenAtOnce) {
  WSADATA data{};
  WSAStartup(MAKEWORD(2, 2), &data);
  // Bound, never listening: connections to it are refused.
  SOCKET unused = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  bind(unused, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(unused, reinterpret_cast<sockaddr*>(&address), &length);
  PointAt("rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
  int handle = 77;
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_OpenDevice(61, PortText().c_str(), &handle), -1);
  // Under Wine at once; Windows itself retries a refused connection for
  // about two seconds, within the open's bound of three.
  EXPECT_LT(GetTickCount64() - start, 3500u);
  EXPECT_EQ(handle, 77);
  PointAt("");
  closesocket(unused);
  WSACleanup();
}

}  // namespace
