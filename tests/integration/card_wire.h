// What the contact and contactless card tests share: a virtual reader with
// cards in its seats, opened through the library, and the check that one
// call put exactly the expected frames on the line in both directions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/sim_reader.h"

namespace kptest {

// An answer frame: STX, L (status and data bytes) as four nibble
// characters, status and data as two each, the XOR of those bytes as two,
// ETX.
inline Bytes AnswerFrame(std::uint16_t status, const std::string& dataHex = "") {
  Bytes body{static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status)};
  const Bytes data = HexBytes(dataHex);
  body.insert(body.end(), data.begin(), data.end());
  std::uint8_t sum = 0;
  for (std::uint8_t b : body) sum ^= b;
  body.push_back(sum);
  const std::size_t length = body.size() - 1;
  Bytes wire{0x02};
  for (int shift = 12; shift >= 0; shift -= 4)
    wire.push_back(static_cast<std::uint8_t>(0x30 + ((length >> shift) & 0x0F)));
  for (std::uint8_t b : body) {
    wire.push_back(static_cast<std::uint8_t>(0x30 + (b >> 4)));
    wire.push_back(static_cast<std::uint8_t>(0x30 + (b & 0x0F)));
  }
  wire.push_back(0x03);
  return wire;
}

inline Bytes Joined(const std::vector<Bytes>& frames) {
  Bytes all;
  for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

// The frame 0xC003 the library sends before a power-on or speed change of
// seats up to 4 and after a halt.
inline Bytes C003() { return CommandFrame(0xC003); }

class CardSim {
 public:
  // family t1/t61/t0, the device type to open it as, and "SEAT KIND ARGS"
  // for each card.
  CardSim(const std::string& family, int type, const std::vector<std::string>& cards = {}) : sim_(family) {
    for (const std::string& card : cards) Insert(card);
    EXPECT_EQ(sim_.Open(type, 9600), 0);
    sim_.ClearTraffic();
  }

  int h() const { return sim_.handle(); }
  SimReader& sim() { return sim_; }
  void Insert(const std::string& card) { sim_.control().Ok("insert " + card); }
  // A control request that must succeed; the text after "ok ".
  std::string Control(const std::string& line) { return sim_.control().Ok(line); }
  void Fault(const std::string& words) { sim_.control().Fault(words); }

  // Since the last check the host sent exactly `requests` and the device
  // answered exactly `answers`.
  void Expect(const std::vector<Bytes>& requests, const std::vector<Bytes>& answers) {
    const kpsim::WireTraffic t = sim_.Traffic();
    EXPECT_EQ(Hex(t.host_to_device), Hex(Joined(requests)));
    EXPECT_EQ(Hex(t.device_to_host), Hex(Joined(answers)));
    sim_.ClearTraffic();
  }
  void ExpectQuiet() { Expect({}, {}); }

 private:
  SimReader sim_;
};

}  // namespace kptest
