// What the memory-card tests share: a virtual reader with memory chips in
// its seats, opened through the library, and the result codes of the
// status words the chips answer with.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_reader.h"

namespace kptest {

// Result codes of the device status words the memory chips answer with.
constexpr int kNoCard = -305;         // 1001
constexpr int kOutOfRange = -319;     // 2004
constexpr int kWrongCard = -320;      // 2006
constexpr int kWrongPassword = -312;  // 3005
constexpr int kLocked = -313;         // 3006
constexpr int kProtected = -324;      // 3007
constexpr int kNeedPassword = -316;   // 3008
constexpr int kAuthFailed = -328;     // 6003

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
  // "dump ..." of the control interface, without the "ok ".
  std::string Dump(const std::string& what) { return sim_.control().Ok("dump " + what); }

 private:
  SimReader sim_;
};

}  // namespace kptest
