// Misuse from several threads must neither crash nor corrupt the line: a
// handle closed and re-opened while another thread exchanges APDUs on it,
// two threads sharing one handle, and two ports running the bank-card
// services and the read-any-card loop at the same time.  These also run
// under ThreadSanitizer (scripts/test.sh --tsan).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

using kptest::SimReader;

namespace {

using Clock = std::chrono::steady_clock;

const char kSelectDirectory[] = "00A404000E315041592E5359532E4444463031";
const char kDebitTrack2[] = "6200001234567892D30122200000012340000F";    // pboc-debit-two-sfi
const char kOtherTrack2[] = "629900123456789012D31052200000000000000F";  // pboc-t0-all

// Every result an APDU exchange may give, from the interface's list.
bool Documented(int r) {
  static const std::set<int> kCodes = {0, -1, -2, -3, -4, -5, -8, -9, -10, -20, -304};
  return kCodes.count(r) != 0 || (r <= -305 && r >= -328);
}

int SendSelect(int handle, char* response) {
  return KP_DEV_IC_SendApdu(handle, 0, 0, kSelectDirectory, static_cast<int>(std::strlen(kSelectDirectory)), response);
}

int PowerOn(int handle) {
  int len = 64;
  char atr[160] = {};
  return KP_DEV_IC_PowerOn(handle, 0, &len, atr);
}

TEST(Leases, CloseAndReopenWhileAnotherThreadExchangesApdus) {
  SimReader sim("t1");
  sim.control().Ok("insert 0 bank profile=pboc-debit-two-sfi");
  ASSERT_EQ(sim.Open(1, 9600), 0);
  const int h = sim.handle();
  const std::string target = sim.PortSpec(9600);

  std::atomic<bool> stop{false};
  std::vector<int> results;
  std::thread worker([&] {
    while (!stop) {
      char response[4096] = {};
      PowerOn(h);
      results.push_back(SendSelect(h, response));
    }
  });
  int reopened = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(1500);
  while (Clock::now() < end) {
    EXPECT_EQ(KP_DEV_CloseDevice(h), 0);
    int again = -77;
    if (KP_DEV_OpenDevice(1, target.c_str(), &again) == 0) {
      EXPECT_EQ(again, h);
      ++reopened;
    }
  }
  stop = true;
  worker.join();
  EXPECT_GT(reopened, 0);
  EXPECT_FALSE(results.empty());
  for (int r : results) EXPECT_TRUE(Documented(r)) << r;

  // The reader left open still works.
  ASSERT_EQ(KP_DEV_CheckIsOpen(h, nullptr), 0);
  char version[256] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), 0);
}

TEST(Leases, TwoThreadsOnOneHandleNeverInterleaveFrames) {
  SimReader sim("t1");
  sim.control().Ok("insert 0 bank profile=pboc-debit-two-sfi");
  ASSERT_EQ(sim.Open(1, 9600), 0);
  ASSERT_EQ(PowerOn(sim.handle()), 0);
  sim.ClearTraffic();

  constexpr int kPerThread = 25;
  auto run = [&] {
    for (int i = 0; i < kPerThread; ++i) {
      char response[4096] = {};
      EXPECT_EQ(SendSelect(sim.handle(), response), 0);
      EXPECT_STREQ(response + std::strlen(response) - 4, "9000");
    }
  };
  std::thread a(run);
  std::thread b(run);
  a.join();
  b.join();

  // Runs of one direction: a whole command, then its whole answer, in turn.
  const kpsim::WireTraffic t = sim.Traffic();
  std::vector<std::pair<std::string, kpsim::Bytes>> runs;
  for (const kpsim::WireSegment& s : t.segments) {
    if (!runs.empty() && runs.back().first == s.tag) {
      runs.back().second.insert(runs.back().second.end(), s.bytes.begin(), s.bytes.end());
    } else {
      runs.emplace_back(s.tag, s.bytes);
    }
  }
  ASSERT_EQ(runs.size(), 2u * 2 * kPerThread);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].first, i % 2 == 0 ? "H>D" : "D>H") << i;
    const kpsim::Bytes& frame = runs[i].second;
    ASSERT_GE(frame.size(), 12u);
    EXPECT_EQ(frame.front(), 0x02) << i;
    EXPECT_EQ(frame.back(), 0x03) << i;
    EXPECT_EQ(std::count(frame.begin(), frame.end(), 0x02), 1) << i;
  }
}

TEST(Leases, TwoPortsRunTheBankServicesAndTheLoopAtOnce) {
  SimReader bank("t1");
  bank.control().Ok("insert 0 bank profile=pboc-debit-two-sfi");
  SimReader loop("t61", {"--device-baud", "115200"});
  loop.control().Ok("insert 0 bank profile=pboc-t0-all");
  ASSERT_EQ(bank.Open(1, 9600), 0);
  ASSERT_EQ(PowerOn(bank.handle()), 0);

  constexpr int kRounds = 4;
  std::thread services([&] {
    for (int i = 0; i < kRounds; ++i) {
      char track2[128] = {};
      char panSeq[16] = {};
      char aid[64] = {};
      EXPECT_EQ(KP_DEV_ReadICCardInfo(bank.handle(), 0, 0, track2, panSeq, aid), 0);
      EXPECT_STREQ(track2, kDebitTrack2);
      char only[128] = {};
      EXPECT_EQ(KP_DEV_ReadFinanceICTrack2(bank.handle(), 0, 0, only), 0);
      EXPECT_STREQ(only, kDebitTrack2);
    }
  });
  std::thread anyCard([&] {
    for (int i = 0; i < kRounds; ++i) {
      int kind = -1;
      char result[2048] = {};
      EXPECT_EQ(KP_DEV_ReadAll_A(loop.com(), 0, 5000, 0, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 0, 0, &kind, result), 0);
      EXPECT_EQ(kind, 3);
      EXPECT_STREQ(result, kOtherTrack2);
    }
  });
  services.join();
  anyCard.join();
}

}  // namespace
