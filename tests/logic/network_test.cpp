// Network targets as text, and the Telnet / COM-PORT-OPTION codec of the
// network line: the bytes it sends, and what it makes of the bytes a device
// server sends, however they are split into reads.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/network_target.h"
#include "platform/rfc2217.h"
#include "platform/serial_line.h"

namespace {

using kp::Bytes;
using kp::platform::LineSettings;
using kp::platform::NetworkProtocol;
using kp::platform::NetworkTarget;
namespace rfc2217 = kp::platform::rfc2217;

Bytes Wire(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(NetworkTarget, AcceptedTexts) {
  struct Case {
    const char* text;
    NetworkProtocol protocol;
    const char* host;
    int port;
    const char* canonical;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:4001", NetworkProtocol::kRfc2217, "127.0.0.1", 4001, "rfc2217://127.0.0.1:4001"},
      {"RFC2217://Reader-1.example.com:2217", NetworkProtocol::kRfc2217, "Reader-1.example.com", 2217,
       "rfc2217://reader-1.example.com:2217"},
      {"tcp://[::1]:7000", NetworkProtocol::kRawTcp, "::1", 7000, "tcp://[::1]:7000"},
      {"Tcp://host_a:1", NetworkProtocol::kRawTcp, "host_a", 1, "tcp://host_a:1"},
      {"tcp://h:65535", NetworkProtocol::kRawTcp, "h", 65535, "tcp://h:65535"},
  };
  for (const Case& c : cases) {
    NetworkTarget t;
    ASSERT_TRUE(kp::platform::ParseNetworkTarget(c.text, &t)) << c.text;
    EXPECT_TRUE(kp::platform::IsNetworkTarget(c.text)) << c.text;
    EXPECT_EQ(t.protocol, c.protocol) << c.text;
    EXPECT_EQ(t.host, c.host) << c.text;
    EXPECT_EQ(t.port, c.port) << c.text;
    EXPECT_EQ(kp::platform::NetworkTargetText(t), c.canonical) << c.text;
    EXPECT_EQ(kp::platform::NetworkTargetPrefixLength(c.text), std::string(c.text).size()) << c.text;
  }
}

TEST(NetworkTarget, RefusedTexts) {
  // Network targets that are not well formed: never taken for device paths.
  for (const char* text : {"rfc2217://",
                           "rfc2217://host",
                           "rfc2217://host:",
                           "rfc2217://:4001",
                           "rfc2217://host:0",
                           "rfc2217://host:65536",
                           "rfc2217://host:123456",
                           "rfc2217://host:+1",
                           "rfc2217://host:4001/",
                           "rfc2217://host:4001:type=1",
                           "rfc2217://ho st:1",
                           "rfc2217://[::1:4001",
                           "rfc2217://[]:1",
                           "rfc2217://[hostname]:1",
                           "rfc2217://::1:4001",
                           "tcp://host:4001 ",
                           "tcp://[::1]",
                           "tcp://[::1]7000",
                           "tcp://[::1/64]:1",
                           "tcp://h:000080"}) {
    NetworkTarget t;
    t.port = 99;
    EXPECT_FALSE(kp::platform::ParseNetworkTarget(text, &t)) << text;
    EXPECT_EQ(t.port, 99) << text;
    EXPECT_TRUE(kp::platform::IsNetworkTarget(text)) << text;
  }
  // Not network targets at all.
  for (const char* text : {"/dev/ttyS0", "telnet://host:1", "tcp:/host:1", "/dev/tcp://h:1", "rfc2217:", ""}) {
    NetworkTarget t;
    EXPECT_FALSE(kp::platform::IsNetworkTarget(text)) << text;
    EXPECT_FALSE(kp::platform::ParseNetworkTarget(text, &t)) << text;
  }
}

TEST(NetworkTarget, PrefixBeforeFieldsOfTheCaller) {
  const struct {
    const char* text;
    std::size_t length;
  } cases[] = {
      {"rfc2217://h:4001:type=1", 16}, {"tcp://[::1]:7:baud=9600", 13}, {"rfc2217://h:4001", 16},
      {"rfc2217://h:4001x", 0},        {"rfc2217://h:x:type=1", 0},     {"/dev/ttyUSB0:type=1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(kp::platform::NetworkTargetPrefixLength(c.text), c.length) << c.text;
}

TEST(Rfc2217Codec, DataAndCommandsAsTheyTravel) {
  const std::uint8_t data[] = {0x41, 0xFF, 0x00, 0xFF, 0xFF};
  Bytes out;
  rfc2217::AppendData(&out, data, sizeof data);
  EXPECT_EQ(out, Wire("41 FF FF 00 FF FF FF FF"));

  out.clear();
  const std::uint8_t purge = rfc2217::kPurgeBoth;
  rfc2217::AppendCommand(&out, rfc2217::kPurgeData, &purge, 1);
  EXPECT_EQ(out, Wire("FF FA 2C 0C 03 FF F0"));
  out.clear();
  const std::uint8_t dtrOff = rfc2217::kDtrOff;
  rfc2217::AppendCommand(&out, rfc2217::kSetControl, &dtrOff, 1);
  EXPECT_EQ(out, Wire("FF FA 2C 05 09 FF F0"));
}

TEST(Rfc2217Codec, LineSettings) {
  struct Case {
    int baud, dataBits, parity, stopBits;
    const char* wire;
  };
  const Case cases[] = {
      {9600, 8, 0, 0, "FF FA 2C 01 00 00 25 80 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0"},
      {115200, 8, 0, 0, "FF FA 2C 01 00 01 C2 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0"},
      // odd, two stop bits; even, one and a half; mark; space
      {19200, 7, 1, 2, "FF FA 2C 01 00 00 4B 00 FF F0 FF FA 2C 02 07 FF F0 FF FA 2C 03 02 FF F0 FF FA 2C 04 02 FF F0"},
      {300, 5, 2, 1, "FF FA 2C 01 00 00 01 2C FF F0 FF FA 2C 02 05 FF F0 FF FA 2C 03 03 FF F0 FF FA 2C 04 03 FF F0"},
      {1200, 8, 3, 0, "FF FA 2C 01 00 00 04 B0 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 04 FF F0 FF FA 2C 04 01 FF F0"},
      {2400, 8, 4, 0, "FF FA 2C 01 00 00 09 60 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 05 FF F0 FF FA 2C 04 01 FF F0"},
      // a speed with a 0xFF byte: doubled inside the subnegotiation too
      {65280, 8, 0, 0,
       "FF FA 2C 01 00 00 FF FF 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 FF FA 2C 04 01 FF F0"},
  };
  for (const Case& c : cases) {
    LineSettings s;
    s.baud = c.baud;
    s.dataBits = c.dataBits;
    s.parity = c.parity;
    s.stopBits = c.stopBits;
    Bytes out;
    rfc2217::AppendSettings(&out, s);
    EXPECT_EQ(out, Wire(c.wire)) << c.baud;
  }
}

TEST(Rfc2217Codec, GreetingAsksForBinarySuppressedGoAheadAndTheOption) {
  rfc2217::Session session;
  Bytes out;
  session.Start(&out);
  EXPECT_EQ(out, Wire("FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C"));
}

// What a session makes of bytes from the server: the data, the replies,
// the speed acknowledgements and whether the option was refused.
struct Outcome {
  Bytes data;
  Bytes replies;
  unsigned speedAcks = 0;
  std::uint32_t ackedSpeed = 0;
  bool refused = false;
  bool operator==(const Outcome& o) const {
    return data == o.data && replies == o.replies && speedAcks == o.speedAcks && ackedSpeed == o.ackedSpeed &&
           refused == o.refused;
  }
};

// The bytes in reads of `piece` bytes (0: all at once).
Outcome Feed(bool started, const Bytes& in, std::size_t piece) {
  rfc2217::Session session;
  Bytes greeting;
  if (started) session.Start(&greeting);
  std::deque<std::uint8_t> data;
  Outcome o;
  const std::size_t step = piece == 0 ? in.size() : piece;
  for (std::size_t at = 0; at < in.size(); at += step) {
    session.Take(in.data() + at, std::min(step, in.size() - at), &data, &o.replies);
  }
  o.data.assign(data.begin(), data.end());
  o.speedAcks = session.speedAcks();
  o.ackedSpeed = session.ackedSpeed();
  o.refused = session.comPortRefused();
  return o;
}

TEST(Rfc2217Codec, WhatTheServerSendsWhateverTheReads) {
  struct Case {
    const char* what;
    bool started;  // the client's greeting went first
    const char* in;
    const char* data;
    const char* replies;
    unsigned speedAcks;
    std::uint32_t ackedSpeed;
    bool refused;
  };
  const Case cases[] = {
      {"a doubled 0xFF is one data byte", true, "41 FF FF 42 FF FF", "41 FF 42 FF", "", 0, 0, false},
      // ser2net's greeting: all asked for already, its echo refused
      {"ser2net greeting", true, "FF FB 03 FF FD 03 FF FB 01 FF FE 01 FF FD 00 FF FB 00 FF FD 2C", "", "FF FE 01", 0, 0,
       false},
      {"requests of a server nobody asked", false, "FF FD 00 FF FD 01 FF FB 03 FF FB 2C FF FE 05 FF FC 00", "",
       "FF FB 00 FF FC 01 FF FD 03 FF FE 2C", 0, 0, false},
      {"an option asked for and refused", true, "FF FE 2C 30", "30", "", 0, 0, true},
      {"an option granted, then refused", true, "FF FD 2C FF FE 2C", "", "FF FC 2C", 0, 0, true},
      {"speed acknowledged", true, "FF FA 2C 65 00 01 C2 00 FF F0", "", "", 1, 115200, false},
      {"speed with a doubled 0xFF", true, "FF FA 2C 65 00 00 FF FF 00 FF F0", "", "", 1, 65280, false},
      {"other acknowledgements and a signature", true,
       "FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 70 03 FF F0 FF FA 2C 64 73 65 72 32 6E 65 74 FF F0 31", "31",
       "", 0, 0, false},
      {"notifications in the middle of an answer", true, "02 30 30 FF FA 2C 6B 30 FF F0 30 FF FA 2C 6A 00 FF F0 32 03",
       "02 30 30 30 32 03", "", 0, 0, false},
      {"a subnegotiation longer than any of the option's", true,
       "FF FA 2C 64 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 FF F0 33", "33", "", 0, 0, false},
      {"a short speed acknowledgement is not one", true, "FF FA 2C 65 00 01 FF F0", "", "", 0, 0, false},
      {"another option's subnegotiation", true, "FF FA 18 65 00 01 C2 00 FF F0 34", "34", "", 0, 0, false},
      {"two-byte commands carry nothing", true, "35 FF F1 36 FF F2 FF F9 37 FF F0", "35 36 37", "", 0, 0, false},
      {"a command inside a subnegotiation ends it", false, "FF FA 2C 6B 00 FF FD 00 41", "41", "FF FB 00", 0, 0, false},
  };
  for (const Case& c : cases) {
    const Bytes in = Wire(c.in);
    Outcome expected;
    expected.data = Wire(c.data);
    expected.replies = Wire(c.replies);
    expected.speedAcks = c.speedAcks;
    expected.ackedSpeed = c.ackedSpeed;
    expected.refused = c.refused;
    for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{5}}) {
      const Outcome got = Feed(c.started, in, piece);
      EXPECT_TRUE(got == expected) << c.what << " in reads of " << piece << ": data "
                                   << testing::PrintToString(got.data) << " replies "
                                   << testing::PrintToString(got.replies);
    }
  }
}

}  // namespace
