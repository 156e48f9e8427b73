// The longest exchanges at real line speeds: each runs once against a
// virtual reader that answers at once and once against one that keeps real
// time (bytes take their wire time, commands their device time), and must
// give the same results both ways.  The expected results come from the
// cards' contents, so both runs are also checked on their own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::SimReader;
using kptest::ToHexText;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Pacing(bool paced) { return {"--pacing", paced ? "on" : "off"}; }

// Runs `operation` unpaced, then paced; returns both results.
template <typename Operation>
std::pair<std::string, std::string> BothWays(const char* what, Operation operation) {
  const std::string plain = operation(false);
  const Clock::time_point start = Clock::now();
  const std::string paced = operation(true);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("[ paced    ] %s: %.3f s\n", what, seconds);
  return {plain, paced};
}

std::string Result(int r, const std::string& text = "") { return std::to_string(r) + " " + text; }

// The largest answer a 2080-character response buffer holds: L = 1039,
// status and 1037 version bytes, 2086 bytes on the wire (2.2 s at 9600).
TEST(Paced, LargestAnswerAt9600) {
  Bytes version(1037);
  for (std::size_t i = 0; i < version.size(); ++i) version[i] = static_cast<std::uint8_t>(0x20 + i % 90);
  const auto [plain, paced] = BothWays("version of 1037 bytes, type 1 at 9600", [&](bool pace) {
    std::vector<std::string> args = Pacing(pace);
    args.insert(args.end(), {"--version-hex", ToHexText(version)});
    SimReader sim("t1", args);
    if (sim.Open(1, 9600) != 0) return std::string("open failed");
    static char text[4200];
    std::memset(text, 0, sizeof text);
    const int r = KP_DEV_GetDeviceVersion(sim.handle(), text);
    // The reader is in step afterwards: a short exchange follows at once.
    sim.control().Ok("version-hex 010203040506");
    char again[64] = {};
    const int next = KP_DEV_GetDeviceVersion(sim.handle(), again);
    return Result(r, text) + " " + Result(next, again);
  });
  EXPECT_EQ(plain, "0 " + ToHexText(version) + " 0 010203040506");
  EXPECT_EQ(paced, plain);
}

// The longest command: APDU data of 1033 bytes less the seat byte fills a
// 2078-byte frame (2.2 s on the wire at 9600) before the device may answer.
TEST(Paced, LongestCommandAt9600) {
  const auto [plain, paced] = BothWays("APDU in a 2078-byte frame, type 1 at 9600", [&](bool pace) {
    SimReader sim("t1", Pacing(pace));
    sim.control().Ok("insert 0 cpu");
    if (sim.Open(1, 9600) != 0) return std::string("open failed");
    char atr[128] = {};
    int atrLen = 60;
    const int power = KP_DEV_IC_PowerOn(sim.handle(), 0, &atrLen, atr);
    // UPDATE BINARY with 255 bytes plus padding up to the longest frame the
    // library sends: the card refuses it by status word, which is the point:
    // the answer arrives after the whole frame did.
    std::string apdu = "00D60000FF" + std::string(2 * 255, 'A');
    apdu += std::string(2064 - apdu.size(), 'B');
    static char answer[4200];
    std::memset(answer, 0, sizeof answer);
    const int r = KP_DEV_IC_SendApdu(sim.handle(), 0, 0, apdu.c_str(), static_cast<int>(apdu.size()), answer);
    return Result(power) + Result(r, answer);
  });
  EXPECT_EQ(paced, plain);
  EXPECT_EQ(plain.rfind("0 0 ", 0), 0u) << plain;
}

}  // namespace
