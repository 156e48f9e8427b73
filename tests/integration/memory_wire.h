// What the memory-card tests share: a virtual reader with memory chips in
// its seats, opened through the library, and the check that one call put
// exactly the expected command frames on the line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/sim_reader.h"

namespace kptest {

// Result codes of the device status words the memory chips answer with.
constexpr int kNoCard = -305;         // 1001
constexpr int kOutOfRange = -319;     // 2004
constexpr int kBadParameter = -310;   // 2005
constexpr int kWrongCard = -320;      // 2006
constexpr int kWrongPassword = -312;  // 3005
constexpr int kLocked = -313;         // 3006
constexpr int kProtected = -324;      // 3007
constexpr int kNeedPassword = -316;   // 3008
constexpr int kAuthFailed = -328;     // 6003
constexpr int kBadFrame = -318;       // 1007

// One framed command: its code and its data as hex text.
struct Sent {
  std::uint16_t code;
  std::string data;
};

// The wire bytes of a frame whose data text the host built by hand, as the
// host frames it: N = characters / 2 + 2, the checksum over the code and the
// first N - 2 data bytes (either case), and every character between STX and
// ETX that is not a digit lowered by 7 (so 'A' travels as 0x3A, 'a' as 0x5A).
inline Bytes FrameOfText(std::uint16_t code, const std::string& dataText) {
  const unsigned n = static_cast<unsigned>(dataText.size() / 2 + 2);
  char head[16];
  std::snprintf(head, sizeof head, "%02X%02X%02X%02X", n >> 8, n & 0xFF, code >> 8, code & 0xFF);
  std::string text = head + dataText;
  unsigned sum = 0;
  for (unsigned i = 0; i < n; ++i) {
    unsigned byte = 0;
    std::sscanf(text.c_str() + 4 + 2 * i, "%2x", &byte);
    sum ^= byte;
  }
  char tail[4];
  std::snprintf(tail, sizeof tail, "%02X", sum);
  text += tail;
  Bytes wire{0x02};
  for (char c : text) wire.push_back(static_cast<std::uint8_t>(c >= '0' && c <= '9' ? c : c - 7));
  wire.push_back(0x03);
  return wire;
}

class MemoryReader {
 public:
  // family t1/t61/t0, the device type to open it as, and "SEAT KIND ARGS"
  // for each card.
  MemoryReader(const std::string& family, int type, const std::vector<std::string>& cards = {}) : sim_(family) {
    for (const std::string& card : cards) sim_.control().Ok("insert " + card);
    EXPECT_EQ(sim_.Open(type, 9600), 0);
    sim_.ClearTraffic();
  }

  int h() const { return sim_.handle(); }
  kpsim::Control& control() { return sim_.control(); }
  // "dump ..." of the control interface, without the "ok ".
  std::string Dump(const std::string& what) { return sim_.control().Ok("dump " + what); }
  void Insert(const std::string& card) { sim_.control().Ok("insert " + card); }

  // The host sent exactly these frames since the last check.
  void ExpectSent(const std::vector<Sent>& frames) {
    Bytes expected;
    for (const Sent& f : frames) {
      const Bytes frame = CommandFrame(f.code, HexBytes(f.data));
      expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(Hex(sim_.Traffic().host_to_device), Hex(expected));
    sim_.ClearTraffic();
  }
  void ExpectSent(std::uint16_t code, const std::string& data) { ExpectSent({{code, data}}); }
  void ExpectSentBytes(const Bytes& wire) {
    EXPECT_EQ(Hex(sim_.Traffic().host_to_device), Hex(wire));
    sim_.ClearTraffic();
  }
  void ExpectNothingSent() {
    EXPECT_EQ(Hex(sim_.Traffic().host_to_device), "");
    sim_.ClearTraffic();
  }

 private:
  SimReader sim_;
};

}  // namespace kptest
