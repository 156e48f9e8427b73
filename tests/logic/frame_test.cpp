// The frame codec and the port text, without a line: wire bytes of
// commands, answers decoded from their body characters, and the numbers a
// port text opens with.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/frame.h"
#include "serial/port_text.h"

namespace {

using kp::Bytes;

Bytes Wire(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(FrameCodec, EncodesCommandsNibblePerByte) {
  struct Case {
    int command;
    Bytes data;
    std::string wire;
  };
  const std::vector<Case> cases = {
      // buzzer on: N = 2, checksum 31 ^ 17
      {0x3117, {}, "02 30 30 30 32 33 31 31 37 32 36 03"},
      // version request: one data byte 00
      {0x3111, {0x00}, "02 30 30 30 33 33 31 31 31 30 30 32 30 03"},
      // letters travel as 0x3A..0x3F
      {0x3226, {0x00, 0xAB}, "02 30 30 30 34 33 32 32 36 30 30 3A 3B 3B 3F 03"},
      {0xC003, {}, "02 30 30 30 32 3C 30 30 33 3C 33 03"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kp::frame::Encode(c.command, c.data.data(), c.data.size()), Wire(c.wire)) << std::hex << c.command;
  }
}

TEST(FrameCodec, TextsThatAreNotUpperCaseHexGoOutAsBefore) {
  std::uint8_t out[64];
  // An odd character is sent but not counted; lower-case letters are
  // lowered by 7 and still count in the checksum.
  std::size_t n = kp::frame::EncodeText(0x3226, "0ab", 3, out);
  EXPECT_EQ(Bytes(out, out + n), Wire("02 30 30 30 33 33 32 32 36 30 5A 5B 31 3E 03"));
  // A pair counts in the checksum as far as it is hexadecimal: "1G" as 01.
  n = kp::frame::EncodeText(0x3226, "1G", 2, out);
  EXPECT_EQ(Bytes(out, out + n), Wire("02 30 30 30 33 33 32 32 36 31 40 31 35 03"));
  n = kp::frame::EncodeText(0x3111, "", 0, out);
  EXPECT_EQ(n, 12u);
}

TEST(FrameCodec, DecodesLengthStatusAndData) {
  const std::uint8_t head[] = {0x02, 0x30, 0x31, 0x3A, 0x3F};
  EXPECT_EQ(kp::frame::BodyLength(head), 0x1AFu);
  const char body[] = "0000<?>1";  // 00 00 CF E1
  kp::frame::Response r = kp::frame::Decode(body, 8);
  EXPECT_EQ(r.status, 0x0000);
  EXPECT_EQ(r.data, (Bytes{0xCF, 0xE1}));
  r = kp::frame::Decode("1001", 4);
  EXPECT_EQ(r.status, 0x1001);
  EXPECT_TRUE(r.data.empty());
  EXPECT_EQ(kp::frame::Checksum(Bytes{0x31, 0x11, 0x00}.data(), 3), 0x20);
}

TEST(FrameCodec, TraceLinesShowTheDecodedFrame) {
  const Bytes wire = kp::frame::Encode(0x3111, Bytes{0x00}.data(), 1);
  EXPECT_EQ(kp::frame::DescribeCommand(0x3111, wire.data(), wire.size()), "-> 3111 data 00");
  kp::frame::Response r;
  r.status = 0x1001;
  EXPECT_EQ(kp::frame::DescribeResponse(0x3226, r, 12), "<- 3226 sw 1001 data - 12 ms");
}

TEST(PortSpec, ReadOnceIntoNumbers) {
  struct Case {
    const char* text;
    int handle, port, baud;
  };
  const std::vector<Case> cases = {
      {"COM3:9600:N:8:1", 3, 3, 9600},
      {"COM12:115200:N:8:1", 12, 12, 115200},
      {"COM0:9600:N:8:1", -1, 0, 9600},
      {"COM", -1, 0, 0},
      {"COM7", 7, 7, 0},
      {"COM100:9600:N:8:1", 100, 100, 0},  // the speed field is read one place too early
  };
  for (const Case& c : cases) {
    const kp::PortSpec s = kp::ParsePortSpec(c.text);
    EXPECT_EQ(s.handle, c.handle) << c.text;
    EXPECT_EQ(s.port, c.port) << c.text;
    EXPECT_EQ(s.baud, c.baud) << c.text;
    if (c.handle >= 1 && c.handle <= 99 && c.baud > 0) {
      const kp::PortSpec made = kp::MakePortSpec(c.port, c.baud);
      EXPECT_EQ(made.handle, s.handle);
      EXPECT_EQ(made.baud, s.baud);
    }
  }
  EXPECT_EQ(kp::ParsePortSpec(nullptr).handle, -1);
}

}  // namespace
