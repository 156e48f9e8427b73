// The line kept in step against a virtual reader: an answer that comes late
// is never handed to the next call, a swipe made while the reader waits for
// a chip card's answer is kept for the next magnetic read, and a card whose
// answers would never end a dialogue holds a call only within its bound.
// The expected data are the virtual reader's documented defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::FromHex;
using kptest::SimReader;
using Clock = std::chrono::steady_clock;

namespace {

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// ---- one answer late, the next call made at once

// An operation on a type-1 reader holding the default contact CPU card in
// seat 0, powered: its result and the data it delivered, as text.
struct Op {
  const char* name;
  std::function<std::string(int handle, int* result)> call;
  std::string own;  // what it delivers when it gets its own answer
};

std::vector<Op> Operations() {
  return {
      {"version",
       [](int h, int* r) {
         char text[2200] = "untouched";
         *r = KP_DEV_GetDeviceVersion(h, text);
         return std::string(text);
       },
       "4B502D54312056322E3130"},  // "KP-T1 V2.10"
      {"status",
       [](int h, int* r) {
         int state = -1;
         *r = KP_DEV_IC_GetStatus(h, 0, &state);
         return std::to_string(state);
       },
       "3"},  // word 1003: powered
      {"power-on",
       [](int h, int* r) {
         char atr[200] = "untouched";
         int length = 64;
         *r = KP_DEV_IC_PowerOn(h, 0, &length, atr);
         return std::to_string(length) + " " + atr;
       },
       "12 3B680000804B504445563031"},
      {"apdu",
       [](int h, int* r) {
         char answer[2200] = "untouched";
         *r = KP_DEV_IC_SendApdu(h, 0, 0, "00A4000000", 10, answer);  // SELECT of the MF, its FCI
         return std::string(answer);
       },
       "6F0782013883023F009000"},
      {"card type",
       [](int h, int* r) {
         int type = -1;
         *r = KP_DEV_IC_GetCardType(h, 0, &type);
         return std::to_string(type);
       },
       "1"},
  };
}

struct Outcome {
  std::string first, next;
  int delayMs;
  int firstResult, nextResult;
  std::string firstData, nextData;
};

// Every operation after every other, the first one's answer delayed past
// its 800 ms: 900 ms (it arrives during the next call's wait) for every
// pair, 2200 ms (after the next command would have timed out) for one next
// operation per first one.  One virtual reader per first operation, run
// side by side.
TEST(LateAnswer, NeverTakenForTheNextCallsAnswer) {
  const std::vector<Op> ops = Operations();
  std::vector<std::unique_ptr<SimReader>> sims;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    sims.push_back(std::make_unique<SimReader>("t1", std::vector<std::string>{"--insert", "0 cpu"}));
    ASSERT_EQ(sims.back()->Open(1, 9600), 0);
  }
  std::vector<std::vector<Outcome>> outcomes(ops.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    threads.emplace_back([&, i] {
      SimReader& sim = *sims[i];
      int r = 0;
      ops[2].call(sim.handle(), &r);  // the card powered; the reader has answered
      for (std::size_t j = 0; j < ops.size(); ++j) {
        for (int delay : {900, 2200}) {
          if (delay == 2200 && j != (i + 1) % ops.size()) continue;
          sim.control().Fault("delay " + std::to_string(delay));
          Outcome o{ops[i].name, ops[j].name, delay, 0, 0, "", ""};
          o.firstData = ops[i].call(sim.handle(), &o.firstResult);
          o.nextData = ops[j].call(sim.handle(), &o.nextResult);
          sim.control().ClearFaults();
          outcomes[i].push_back(o);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();

  std::size_t cases = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    for (const Outcome& o : outcomes[i]) {
      SCOPED_TRACE(o.first + " (delayed " + std::to_string(o.delayMs) + " ms), then " + o.next);
      ++cases;
      // The delayed call failed (or, for the power-on, whose delayed answer
      // is the 0xC003 one, waited for it and then got its own)...
      if (o.firstResult != 0) {
        EXPECT_EQ(o.firstResult, -4);
      } else {
        EXPECT_EQ(o.firstData, ops[i].own);
      }
      // ... and the next call got its own answer.
      const std::string expected =
          std::find_if(ops.begin(), ops.end(), [&](const Op& op) { return o.next == op.name; })->own;
      EXPECT_EQ(o.nextResult, 0);
      EXPECT_EQ(o.nextData, expected);
    }
  }
  EXPECT_EQ(cases, 30u);
}

// ---- what the magnetic head sends while the reader waits for another answer

const char kTrack1[] = "B6222020200112233^TEST^2912101";
const char kTrack2[] = "6222020200112233=29121010000";

const Bytes kArm = {0x1B, 0x42, 0x5D};

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

int ReadAllA(int port, unsigned timeoutMs, int contact, int contactless, int* kind, char* result) {
  return KP_DEV_ReadAll_A(port, 0, timeoutMs, 0, 1, 0, 0x60, "FFFFFFFFFFFF", contact, contactless, 0, kind, result);
}

TEST(KeptSwipe, SwipeDuringTheChipCardsIsReturnedByTheNextPass) {
  // The card passes the armed head while the pass powers the (empty) seat
  // on: its tracks reach the host before the power-on's answer.
  SimReader sim("t61", {"--device-baud", "115200"});
  sim.control().Ok(std::string("head swipe-on 3222 ") + kTrack1 + " " + kTrack2);
  int kind = -1;
  char result[2200] = {};
  ASSERT_EQ(ReadAllA(sim.com(), 3000, 1, 1, &kind, result), 0);
  EXPECT_EQ(kind, 1);
  EXPECT_STREQ(result, (std::string(kTrack1) + "|" + kTrack2).c_str());
  // Nothing sent besides the two passes' own commands.
  EXPECT_EQ(sim.Traffic().host_to_device, Concat({kArm, CommandFrame(0xC003), CommandFrame(0x3222, {0x00, 0x0A, 0x00}),
                                                  CommandFrame(0x3224, {0x00, 0x01}),
                                                  CommandFrame(0x3225, {0x00, 0x00}), CommandFrame(0xC003), kArm}));
}

TEST(KeptSwipe, ReadByTheNextPollAfterAFrameExchange) {
  // The same on a reader the application polls itself (type 61).
  SimReader sim("t61");
  ASSERT_EQ(sim.Open(61, 9600), 0);
  sim.control().Ok(std::string("head swipe-on 3221 ") + kTrack1 + " " + kTrack2);
  char t1[600] = {}, t2[600] = {};
  ASSERT_EQ(KP_DEV_Magnetic_ReadTrack(sim.handle(), t1, t2), -101);  // arms the head
  int state = -1;
  EXPECT_EQ(KP_DEV_IC_GetStatus(sim.handle(), 0, &state), 0);
  EXPECT_EQ(state, 1);  // the empty seat: the tracks before it were not taken for its answer
  ASSERT_EQ(KP_DEV_Magnetic_ReadTrack(sim.handle(), t1, t2), 0);
  EXPECT_STREQ(t1, kTrack1);
  EXPECT_STREQ(t2, kTrack2);
}

TEST(KeptSwipe, WriteOutcomeDuringAFrameExchangeConfirmsTheWrite) {
  SimReader sim("t61");
  ASSERT_EQ(sim.Open(61, 9600), 0);
  ASSERT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(sim.handle(), "", "1234"), 0);
  // The card passes the head, armed to write its second track, while the
  // application asks for the seat: the head's ESC w T p comes first.
  sim.control().Ok("head swipe-on 3221 - 9999");
  int state = -1;
  EXPECT_EQ(KP_DEV_IC_GetStatus(sim.handle(), 0, &state), 0);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(KP_DEV_Magnetic_ConfirmWriteTrack(sim.handle()), 0);
  // The card left the head with the track written.
  EXPECT_NE(sim.control().Ok("head").find(" last=-/31323334 "), std::string::npos);
}

// ---- a card that answers 9000 to every READ RECORD

// The SELECT answers of a PBOC card, its directory in SFI 2, and a GPO
// answer whose AFL lists 257 times SFI 1 records 1 to 255: 65,535 READ
// RECORDs if every one were sent.
std::string HostileCard() {
  std::string afl;
  for (int i = 0; i < 257; ++i) afl += "0801FF00";
  return "cpu apdu=00A404000E315041592E5359532E4444463031:6F15840E315041592E5359532E4444463031A5038801029000"
         " apdu=00B2011400:7011610F4F07F0000001560101500450424F439000"
         " apdu=00A4040007F0000001560101:6F098407F00000015601019000"
         " apdu=80A8:80FF7C00" +
         afl + "9000 apdu=00B2:9000";
}

// The READ RECORD commands among the host's frames (0x3226, seat, APDU
// 00 B2 record P2 00), as record and P2.
std::vector<std::pair<int, int>> ReadRecords(const Bytes& sent) {
  std::vector<std::pair<int, int>> records;
  for (std::size_t at = 0; at + 12 <= sent.size();) {
    if (sent[at] != 0x02) {
      ++at;
      continue;
    }
    auto byteAt = [&](std::size_t i) { return (sent[i] & 0x0F) << 4 | (sent[i + 1] & 0x0F); };
    const int n = byteAt(at + 1) << 8 | byteAt(at + 3);
    const int code = byteAt(at + 5) << 8 | byteAt(at + 7);
    if (code == 0x3226 && n == 8 && byteAt(at + 11) == 0x00 && byteAt(at + 13) == 0xB2) {
      records.emplace_back(byteAt(at + 15), byteAt(at + 17));
    }
    at += 12 + 2 * static_cast<std::size_t>(n - 2);
  }
  return records;
}

TEST(HostileCard, ReadsEachRecordOnceAndNoMoreThanItsBudget) {
  SimReader sim("t1", {"--insert", "0 " + HostileCard()});
  ASSERT_EQ(sim.Open(5, 9600), 0);
  char atr[200] = {};
  int length = 64;
  ASSERT_EQ(KP_DEV_IC_PowerOn(sim.handle(), 0, &length, atr), 0);
  sim.ClearTraffic();
  char track2[2200] = {}, panSeq[2200] = {}, aid[2200] = {};
  EXPECT_EQ(KP_DEV_ReadICCardInfo(sim.handle(), 0, 0, track2, panSeq, aid), 200);
  EXPECT_STREQ(aid, "F0000001560101");
  const auto records = ReadRecords(sim.Traffic().host_to_device);
  // The directory's record, then 64 records of SFI 1 (P2 0C), each once.
  ASSERT_EQ(records.size(), 65u);
  EXPECT_EQ(records[0], std::make_pair(1, 0x14));
  for (int i = 1; i <= 64; ++i) EXPECT_EQ(records[i], std::make_pair(i, 0x0C));
}

TEST(HostileCard, ReadAnyCardPassEndsAtItsTimeAndAtACancel) {
  // Real line timing: each READ RECORD takes about 30 ms at 115200 baud.
  SimReader sim("t61", {"--pacing", "on", "--device-baud", "115200", "--insert", "0 " + HostileCard()});
  int kind = -1;
  char result[2200] = {};
  Clock::time_point start = Clock::now();
  EXPECT_EQ(ReadAllA(sim.com(), 600, 1, 0, &kind, result), -101);
  const long timed = MsSince(start);
  EXPECT_GE(timed, 600);
  EXPECT_LT(timed, 1500);
  const std::size_t readByTime = ReadRecords(sim.Traffic().host_to_device).size();
  EXPECT_GT(readByTime, 1u);
  EXPECT_LT(readByTime, 40u);

  sim.ClearTraffic();
  std::thread canceller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    KP_DEV_CancelReadAll();
  });
  start = Clock::now();
  EXPECT_EQ(ReadAllA(sim.com(), 60000, 1, 0, &kind, result), -101);
  const long cancelled = MsSince(start);
  canceller.join();
  EXPECT_GE(cancelled, 700);
  EXPECT_LT(cancelled, 1600);
  EXPECT_EQ(kind, 0);
}

}  // namespace
