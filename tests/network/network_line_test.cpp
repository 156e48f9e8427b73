// The library on a COM number that names a device server on the network,
// against a scripted server: the exact bytes each open, exchange, purge and
// close puts on the connection (Telnet and COM-PORT-OPTION as RFC 2217 has
// them), what the library makes of the server's bytes, and how fast and
// clearly it fails.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "network/fake_server.h"
#include "platform/network_line.h"
#include "platform/socket.h"
#include "wire/fixture.h"

namespace kptest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCom = 20;
constexpr int kOtherCom = 21;

// Written from RFC 2217 and RFC 855/856/858.
// IAC WILL BINARY, IAC DO BINARY, IAC WILL SUPPRESS-GO-AHEAD,
// IAC DO SUPPRESS-GO-AHEAD, IAC WILL COM-PORT-OPTION.
const Bytes kGreeting = FromHex("FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C");
// SET-CONTROL DTR on (8), RTS on (11); RTS off (12), DTR off (9).
const Bytes kRaise = FromHex("FF FA 2C 05 08 FF F0 FF FA 2C 05 0B FF F0");
const Bytes kDrop = FromHex("FF FA 2C 05 0C FF F0 FF FA 2C 05 09 FF F0");
// PURGE-DATA of the server's receive buffer (1, what the device sent), at
// every open and close; of both buffers (3), where the library purges.
const Bytes kPurgeIn = FromHex("FF FA 2C 0C 01 FF F0");
const Bytes kPurge = FromHex("FF FA 2C 0C 03 FF F0");

// SET-BAUDRATE (four bytes, high first), SET-DATASIZE 8, SET-PARITY none
// (1), SET-STOPSIZE one (1).
Bytes Settings(std::uint32_t baud) {
  Bytes out{0xFF,
            0xFA,
            0x2C,
            0x01,
            static_cast<std::uint8_t>(baud >> 24),
            static_cast<std::uint8_t>(baud >> 16),
            static_cast<std::uint8_t>(baud >> 8),
            static_cast<std::uint8_t>(baud),
            0xFF,
            0xF0};
  const Bytes rest = FromHex("FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0");
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Version request of the type-61 firmware and the framed one (0x3111, 00).
const Bytes kRawVersion = FromHex("1B 65 00");
const Bytes kVersionFrame = FromHex("02 30 30 30 33 33 31 31 31 30 30 32 30 03");

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A port of 127.0.0.1 that refuses connections: bound, never listening.
class RefusingPort {
 public:
  RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("no port to refuse connections on");
    }
    port_ = ntohs(address.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

class NetworkLine : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int h : {kCom, kOtherCom}) KP_DEV_CloseDevice(h);
    unsetenv(("KPDEV_COM" + std::to_string(kCom)).c_str());
    unsetenv(("KPDEV_COM" + std::to_string(kOtherCom)).c_str());
  }
  static void PointAt(int com, const std::string& target) {
    setenv(("KPDEV_COM" + std::to_string(com)).c_str(), target.c_str(), 1);
  }
  static std::string PortText(int com, int baud) {
    return "COM" + std::to_string(com) + ":" + std::to_string(baud) + ":N:8:1";
  }
  static int Open(int type, int com, int baud) {
    int handle = 0;
    const int r = KP_DEV_OpenDevice(type, PortText(com, baud).c_str(), &handle);
    return r == 0 ? handle : r;
  }
};

TEST_F(NetworkLine, OpenSetsTheLineAndWaitsOnlyForTheSpeed) {
  // Like ser2net: it offers echo, which the library refuses (IAC DONT
  // ECHO), and never confirms the control lines.
  FakeServer::Behaviour b;
  b.greeting = FromHex("FF FB 01 FF FD 2C");
  FakeServer server(b);
  PointAt(kCom, server.Url());
  const auto start = Clock::now();
  ASSERT_EQ(Open(61, kCom, 115200), kCom);
  EXPECT_LT(MsSince(start), 500);
  const Bytes open = Join({kGreeting, Settings(115200), kRaise, kPurgeIn, FromHex("FF FE 01")});
  ASSERT_TRUE(server.WaitReceived(0, open.size()));
  EXPECT_EQ(server.Received()[0], open);

  EXPECT_EQ(KP_DEV_CloseDevice(kCom), 0);
  ASSERT_TRUE(server.WaitEnded(0));
  EXPECT_EQ(server.Received()[0], Join({open, kDrop, kPurgeIn}));
  EXPECT_EQ(server.Received().size(), 1u);
}

TEST_F(NetworkLine, TypeOneOpenChangesSpeedOnOneConnection) {
  FakeServer server;
  server.On(FromHex("1B 24 49 34"), FromHex("1B 30"));  // ESC $ I '4': IC module at 115200
  server.On(kVersionFrame, ResponseFrame(0x0000, FromHex("4B 50")));
  server.On(FromHex("1B 24 49 30"), FromHex("1B 30"));  // back to 9600 at close
  PointAt(kCom, server.Url());
  ASSERT_EQ(Open(1, kCom, 115200), kCom);
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0);
  EXPECT_STREQ(version, "4B50");
  EXPECT_EQ(KP_DEV_CloseDevice(kCom), 0);
  ASSERT_TRUE(server.WaitEnded(0));
  // The module switch at 9600, then the same connection at 115200.
  EXPECT_EQ(server.Received()[0],
            Join({kGreeting, Settings(9600), kRaise, kPurgeIn, FromHex("1B 24 49 34"), kDrop, kPurgeIn,
                  Settings(115200), kRaise, kPurgeIn, kVersionFrame, FromHex("1B 24 49 30"), kDrop, kPurgeIn}));
  EXPECT_EQ(server.Received().size(), 1u);
}

TEST_F(NetworkLine, AnswersArriveUnescapedWithoutTheServersMessages) {
  struct Case {
    const char* what;
    int type;
    Bytes request;
    Bytes answer;  // as the server sends it
    std::string version;
  };
  const Bytes framed = ResponseFrame(0x0000, FromHex("FF 01 FF"));
  Bytes split(framed.begin(), framed.begin() + 7);
  // NOTIFY-LINESTATE, NOP and NOTIFY-MODEMSTATE inside the answer; each
  // 0xFF of the frame itself never occurs (nibble characters).
  for (const Bytes& inside : {FromHex("FF FA 2C 6A 00 FF F0"), FromHex("FF F1"), FromHex("FF FA 2C 6B 80 FF F0")}) {
    split.insert(split.end(), inside.begin(), inside.end());
  }
  split.insert(split.end(), framed.begin() + 7, framed.end());
  const Case cases[] = {
      {"raw text with doubled 0xFF and a notification", 61, kRawVersion,
       FromHex("4B 50 FF FF 41 FF FA 2C 6B 00 FF F0 42 00"),
       "KP\xFF"
       "AB"},
      {"a frame split by the server's messages", 5, kVersionFrame, split, "FF01FF"},
  };
  for (const Case& c : cases) {
    FakeServer server;
    server.On(c.request, c.answer);
    PointAt(kCom, server.Url());
    ASSERT_EQ(Open(c.type, kCom, 9600), kCom) << c.what;
    char version[64] = {};
    EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0) << c.what;
    EXPECT_EQ(std::string(version), c.version) << c.what;
    KP_DEV_CloseDevice(kCom);
  }
}

TEST_F(NetworkLine, WritesDoubleEveryFFOnlyForTelnet) {
  const std::uint8_t data[] = {0x01, 0xFF, 0x02, 0xFF};
  struct Case {
    const char* scheme;
    bool telnet;
    Bytes expected;
  };
  const Case cases[] = {
      {"rfc2217", true, Join({kGreeting, Settings(9600), kRaise, kPurgeIn, FromHex("01 FF FF 02 FF FF")})},
      {"tcp", false, FromHex("01 FF 02 FF")},
  };
  for (const Case& c : cases) {
    FakeServer::Behaviour b;
    b.telnet = c.telnet;
    FakeServer server(b);
    kp::platform::NetworkLine line;
    ASSERT_TRUE(line.OpenTarget(server.Url(c.scheme), kp::platform::LineSettings::Plain(9600))) << c.scheme;
    EXPECT_EQ(line.Write(data, sizeof data), 0);
    ASSERT_TRUE(server.WaitReceived(0, c.expected.size())) << c.scheme;
    EXPECT_EQ(server.Received()[0], c.expected) << c.scheme;
  }
}

// What the reader layer relies on of every line: a wait for a count ends
// as soon as the count is in and never consumes input; taking input with
// nothing queued fails at once; a purge leaves nothing queued.
TEST_F(NetworkLine, WaitsTakesAndPurgesAsASerialLineDoes) {
  FakeServer server;
  server.On(FromHex("5A A5"), FromHex("41 FF FF 43"));  // three data bytes
  kp::platform::NetworkLine line;
  ASSERT_TRUE(line.OpenTarget(server.Url(), kp::platform::LineSettings::Plain(9600)));
  std::uint8_t buffer[8] = {};
  std::size_t got = 99;
  EXPECT_EQ(line.ReadQueued(buffer, sizeof buffer, &got), -1);
  EXPECT_EQ(got, 0u);
  const std::uint8_t request[] = {0x5A, 0xA5};
  ASSERT_EQ(line.Write(request, sizeof request), 0);
  EXPECT_TRUE(line.WaitInput(3, 2000, nullptr));
  EXPECT_FALSE(line.WaitInput(4, 100, nullptr));
  EXPECT_EQ(line.InputCount(), 3u);
  ASSERT_EQ(line.ReadQueued(buffer, 2, &got), 0);
  EXPECT_EQ(Bytes(buffer, buffer + got), FromHex("41 FF"));
  EXPECT_EQ(line.InputCount(), 1u);
  EXPECT_EQ(line.Purge(), 1);
  EXPECT_EQ(line.InputCount(), 0u);
  EXPECT_FALSE(line.Failed());

  // A closed line takes and gives nothing, and is not a failed one.
  line.Close();
  EXPECT_FALSE(line.IsOpen());
  got = 99;
  EXPECT_EQ(line.ReadQueued(buffer, sizeof buffer, &got), -1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(line.Write(request, sizeof request), -1);
  EXPECT_FALSE(line.WaitInput(1, 50, nullptr));
  EXPECT_EQ(line.InputCount(), 0u);
  EXPECT_EQ(line.Purge(), 0);
  EXPECT_FALSE(line.Failed());
}

// A wait that watches a cancel sleeps on the connection and the line's
// wake object together: a cancel from another thread ends it at once, one
// made before its mark does not.
TEST_F(NetworkLine, CancelEndsAWatchedWaitAtOnce) {
  FakeServer server;
  kp::platform::NetworkLine line;
  ASSERT_TRUE(line.OpenTarget(server.Url(), kp::platform::LineSettings::Plain(9600)));
  kp::CancelToken token;
  token.Cancel();
  const kp::CancelWatch watch{&token, token.Start()};
  auto start = Clock::now();
  EXPECT_FALSE(line.WaitInput(1, 200, &watch));
  EXPECT_GE(MsSince(start), 200);

  std::thread canceller([&token] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    token.Cancel();
  });
  start = Clock::now();
  EXPECT_FALSE(line.WaitInput(1, 5000, &watch));
  const double elapsed = MsSince(start);
  canceller.join();
  EXPECT_GE(elapsed, 40);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(NetworkLine, RawTcpCarriesOnlyTheDevicesBytes) {
  FakeServer::Behaviour b;
  b.telnet = false;
  FakeServer server(b);
  server.On(kRawVersion, FromHex("4B FF 00"));
  PointAt(kCom, server.Url("tcp"));
  ASSERT_EQ(Open(61, kCom, 115200), kCom);
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0);
  EXPECT_STREQ(version, "K\xFF");
  EXPECT_EQ(KP_DEV_CloseDevice(kCom), 0);
  ASSERT_TRUE(server.WaitEnded(0));
  EXPECT_EQ(server.Received()[0], kRawVersion);
}

TEST_F(NetworkLine, AnswerOutOfStepPurgesTheServersBuffers) {
  FakeServer server;
  server.On(kVersionFrame, FromHex("55 55 55 55 55"));
  server.On(kVersionFrame, ResponseFrame(0x0000, FromHex("01")));
  PointAt(kCom, server.Url());
  // Type 5: opened twice at 9600, no module switch.
  ASSERT_EQ(Open(5, kCom, 9600), kCom);
  char version[64] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0);
  EXPECT_STREQ(version, "01");
  const Bytes open =
      Join({kGreeting, Settings(9600), kRaise, kPurgeIn, kDrop, kPurgeIn, Settings(9600), kRaise, kPurgeIn});
  EXPECT_EQ(server.Received()[0], Join({open, kVersionFrame, kPurge, kVersionFrame}));
}

TEST_F(NetworkLine, FailuresAtOpenAreFastAndLeaveNothingOpen) {
  RefusingPort unused;
  const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(unused.port());

  FakeServer::Behaviour noOption;
  noOption.onComPortOffer = FromHex("FF FE 2C");  // DONT COM-PORT-OPTION
  noOption.ackSpeed = false;
  FakeServer withoutOption(noOption);
  FakeServer::Behaviour busy;
  busy.hangUpWith = "Port already in use\r\n";
  FakeServer inUse(busy);

  struct Case {
    const char* what;
    std::string target;
  };
  const Case cases[] = {
      {"connection refused", refused},
      {"COM-PORT-OPTION refused", withoutOption.Url()},
      {"port in use at the server", inUse.Url()},
      {"no port in the target", "rfc2217://127.0.0.1"},
      {"unknown scheme taken for a device path", "telnet://127.0.0.1:1"},
  };
  for (const Case& c : cases) {
    PointAt(kCom, c.target);
    int handle = 12345;
    const auto start = Clock::now();
    EXPECT_EQ(KP_DEV_OpenDevice(61, PortText(kCom, 9600).c_str(), &handle), -1) << c.what;
    EXPECT_LT(MsSince(start), 500) << c.what;
    EXPECT_EQ(handle, 12345) << c.what;
    int module = 0;
    EXPECT_EQ(KP_DEV_CheckIsOpen(kCom, &module), -10) << c.what;
  }
}

// A server still letting go of the last connection ends a new one at once
// for a few milliseconds; an open in that window connects again and
// succeeds, and only the connection that took the settings stays.
TEST_F(NetworkLine, OpenRetriesAServerThatIsStillLettingGo) {
  FakeServer::Behaviour b;
  b.hangUpWith = "Port already in use\r\n";
  b.hangUpFirst = 2;
  FakeServer server(b);
  PointAt(kCom, server.Url());
  ASSERT_EQ(Open(61, kCom, 9600), kCom);
  const Bytes open = Join({kGreeting, Settings(9600), kRaise, kPurgeIn});
  ASSERT_TRUE(server.WaitReceived(2, open.size()));
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[2], open);
  int module = 0;
  EXPECT_EQ(KP_DEV_CheckIsOpen(kCom, &module), 0);
}

TEST_F(NetworkLine, ConnectionFailuresSayWhatHappened) {
  RefusingPort unused;
  kp::platform::TcpConnection connection;
  EXPECT_EQ(connection.Connect("127.0.0.1", unused.port(), 1000), kp::platform::ConnectError::kRefused);
  EXPECT_FALSE(connection.IsOpen());

  // Of the failures on the addresses of one name, the one that says most.
  using E = kp::platform::ConnectError;
  const struct {
    E a, b, more;
  } cases[] = {
      {E::kFailed, E::kTimedOut, E::kTimedOut},       {E::kTimedOut, E::kUnreachable, E::kUnreachable},
      {E::kUnreachable, E::kRefused, E::kRefused},    {E::kRefused, E::kTimedOut, E::kRefused},
      {E::kUnreachable, E::kFailed, E::kUnreachable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kp::platform::MoreTelling(c.a, c.b), c.more);
    EXPECT_EQ(kp::platform::MoreTelling(c.b, c.a), c.more);
  }
}

TEST_F(NetworkLine, SpeedNeverAcknowledgedCostsOneBoundedWaitPerConnection) {
  // Type 61 opens once; type 5 opens twice (with 100 ms between), the
  // second time on the kept connection, which waits for nothing.
  for (int type : {61, 5}) {
    FakeServer::Behaviour b;
    b.ackSpeed = false;
    FakeServer server(b);
    server.On(kRawVersion, FromHex("56 00"));
    PointAt(kCom, server.Url());
    const auto start = Clock::now();
    ASSERT_EQ(Open(type, kCom, 9600), kCom) << type;
    const double took = MsSince(start);
    EXPECT_GE(took, kp::platform::kSpeedAckWaitMs) << type;
    EXPECT_LT(took, kp::platform::kSpeedAckWaitMs + 800) << type;
    if (type == 61) {
      char version[64] = {};
      EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0);
      EXPECT_STREQ(version, "V");
    }
    KP_DEV_CloseDevice(kCom);
  }
}

TEST_F(NetworkLine, ServerGoneMidExchangeFailsAtOnceAndTheNextOpenReconnects) {
  FakeServer server;
  server.On(kVersionFrame, {}, true);  // hangs up on the request
  server.On(kVersionFrame, ResponseFrame(0x0000, FromHex("02")));
  PointAt(kCom, server.Url());
  ASSERT_EQ(Open(5, kCom, 9600), kCom);
  char version[64] = {};
  auto start = Clock::now();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), -4);
  EXPECT_LT(MsSince(start), 400);  // the answer's timeout is 800 ms
  start = Clock::now();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), -3);  // nothing can be written any more
  EXPECT_LT(MsSince(start), 100);

  ASSERT_EQ(Open(5, kCom, 9600), kCom);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(kCom, version), 0);
  EXPECT_STREQ(version, "02");
  EXPECT_EQ(server.Received().size(), 2u);
}

TEST_F(NetworkLine, OneHandlePerTargetInAProcess) {
  FakeServer server;
  // The same server port in other words: another scheme, another case.
  PointAt(kCom, server.Url());
  PointAt(kOtherCom, "TCP://127.0.0.1:" + std::to_string(server.port()));
  ASSERT_EQ(Open(61, kCom, 9600), kCom);
  EXPECT_EQ(Open(61, kOtherCom, 9600), -1);
  EXPECT_EQ(server.Received().size(), 1u);  // no second connection was made
  EXPECT_EQ(KP_DEV_CloseDevice(kCom), 0);
  ASSERT_TRUE(server.WaitEnded(0));
  EXPECT_EQ(Open(61, kOtherCom, 9600), kOtherCom);
}

}  // namespace
}  // namespace kptest
