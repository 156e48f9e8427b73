// The read-any-card services against the virtual reader: card kinds read
// from the simulated cards (magnetic stripe, store card block, contact and
// contactless bank card), one full pass, and the cancel from another thread.
// The exact frames of each kind and the identity-card path are checked
// against the scripted device in the unit tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "integration/apdu_wire.h"
#include "integration/card_wire.h"
#include "kp_dev.h"
#include "support/sim_reader.h"
#include "support/wait.h"

using kptest::Bytes;
using kptest::C003;
using kptest::CommandFrame;
using kptest::Hex;
using kptest::HexBytes;
using kptest::Joined;
using kptest::SimReader;
using Clock = std::chrono::steady_clock;

namespace {

const char kTrack1[] = "B6222020200112233^TEST^2912101";
const char kTrack2[] = "6222020200112233=29121010000";
const char kBankTrack2[] = "6200001234567892D30122200000012340000F";  // pboc-debit-two-sfi
const char kKey[] = "FFFFFFFFFFFF";
constexpr int kKeyA = 0x60;

// The arguments of one call, the card flags chosen per case.
struct Call {
  int port = 0;
  unsigned timeoutMs = 0;
  int store = 0, contact = 0, contactless = 0;
  int sector = 1, block = 0;
  int kind = -1;
  char result[2048];

  Call() { std::memset(result, 'Z', sizeof result - 1), result[sizeof result - 1] = '\0'; }
  int Loop() {
    return KP_DEV_ReadAll_A(port, 0, timeoutMs, store, sector, block, kKeyA, kKey, contact, contactless, 0, &kind,
                            result);
  }
  int Once() {
    return KP_DEV_ReadAll(port, 0, timeoutMs, store, sector, block, kKeyA, kKey, contact, contactless, 0, &kind,
                          result);
  }
};

// The loop's reader: type 61 at 115200 baud.
struct LoopReader : SimReader {
  LoopReader() : SimReader("t61", {"--device-baud", "115200"}) {}
  Call NewCall() {
    Call c;
    c.port = com();
    return c;
  }
  void Insert(const std::string& card) { control().Ok("insert " + card); }
};

Bytes Arm() { return HexBytes("1B425D"); }  // the type-61 head is armed by each read

TEST(ReadAllLoop, MagneticCardBeforeAnyChipCard) {
  LoopReader sim;
  sim.Insert("0 bank profile=pboc-debit-two-sfi");
  EXPECT_EQ(sim.control().Ok(std::string("swipe ") + kTrack1 + " " + kTrack2), "held");
  Call c = sim.NewCall();
  c.contact = 1;
  c.timeoutMs = 5000;
  EXPECT_EQ(c.Loop(), 0);
  EXPECT_EQ(c.kind, 1);
  EXPECT_STREQ(c.result, (std::string(kTrack1) + "|" + kTrack2).c_str());
  // The read ended the pass: only the arm went out, and the bank card was
  // never powered.
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), Hex(Arm()));
  EXPECT_TRUE(kptest::WaitUntil([&] { return sim.StatusNumber("host_open") == 0; }));
}

TEST(ReadAllLoop, StoreCardBlock) {
  LoopReader sim;
  sim.Insert("255 sector");
  sim.control().Ok("rf-block 4 00112233445566778899AABBCCDDEEFF");
  sim.ClearTraffic();
  Call c = sim.NewCall();
  c.store = c.contact = c.contactless = 1;
  EXPECT_EQ(c.Loop(), 0);
  EXPECT_EQ(c.kind, 2);
  EXPECT_STREQ(c.result, "00112233445566778899AABBCCDDEEFF");
  // Activation twice (the UIDs compared), key A of sector 1, block 1 × 4 + 0.
  EXPECT_EQ(Hex(sim.Traffic().host_to_device),
            Hex(Joined({Arm(), CommandFrame(0x3241, HexBytes("0001")), CommandFrame(0x3241, HexBytes("0001")),
                        CommandFrame(0x3242, HexBytes("0160FFFFFFFFFFFF")), CommandFrame(0x3243, HexBytes("04"))})));
}

TEST(ReadAllLoop, ContactlessBankCardAfterTheOtherKindsFailed) {
  LoopReader sim;
  sim.Insert("255 rf-bank profile=pboc-t0-directory");
  Call c = sim.NewCall();
  c.store = c.contact = c.contactless = 1;
  EXPECT_EQ(c.Loop(), 0);
  EXPECT_EQ(c.kind, 4);
  EXPECT_STREQ(c.result, "6212340000111121D290922000000999900000");
  const kpsim::WireTraffic t = sim.Traffic();
  // Store-card activation refused (no sector card), no contact card, then
  // activation, the dialogue on seat 255, halt and C003.
  const std::vector<std::uint16_t> codes = kptest::FrameCodes(t);
  const auto e = kptest::Apdus(t);
  ASSERT_EQ(e.size(), 7u);
  std::vector<std::uint16_t> expected{0x3241, 0xC003, 0x3222, 0x3224};
  expected.insert(expected.end(), e.size(), 0x3226);
  expected.insert(expected.end(), {0x3225, 0xC003});
  EXPECT_EQ(codes, expected);
  for (const auto& x : e) EXPECT_EQ(x.seat, 255);
}

TEST(ReadAllLoop, OnePassWithoutCards) {
  LoopReader sim;
  Call c = sim.NewCall();
  c.store = c.contact = c.contactless = 1;
  c.kind = 9;
  EXPECT_EQ(c.Loop(), -101);
  EXPECT_EQ(c.kind, 0);
  EXPECT_EQ(std::string(c.result, 4), "ZZZZ");
  // Exactly one pass: arm, store-card activation, C003 and power-on of
  // seat 0, activation, halt and C003.
  EXPECT_EQ(Hex(sim.Traffic().host_to_device),
            Hex(Joined({Arm(), CommandFrame(0x3241, HexBytes("0001")), C003(), CommandFrame(0x3222, HexBytes("000A00")),
                        CommandFrame(0x3224, HexBytes("0001")), CommandFrame(0x3225, HexBytes("0000")), C003()})));
}

TEST(ReadAllLoop, CancelFromAnotherThreadThenANewCallReads) {
  LoopReader sim;
  Call c = sim.NewCall();
  c.contact = 1;
  c.timeoutMs = 30000;
  int result = 0;
  std::thread loop([&] { result = c.Loop(); });
  // Let the loop make a pass or two on the line, then cancel.
  EXPECT_TRUE(kptest::WaitUntil([&] { return sim.StatusNumber("frames") >= 4; }, std::chrono::seconds(10)));
  const auto cancelled = Clock::now();
  EXPECT_EQ(KP_DEV_CancelReadAll(), 0);
  loop.join();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelled).count();
  EXPECT_EQ(result, -101);
  EXPECT_EQ(c.kind, 0);
  EXPECT_LT(took, 2000);

  // The cancel belongs to the call that was running.
  sim.Insert("0 bank profile=pboc-credit-no-psn");
  sim.Insert("255 rf-bank profile=pboc-debit-two-sfi");
  Call next = sim.NewCall();
  next.contact = next.contactless = 1;
  next.timeoutMs = 5000;
  EXPECT_EQ(next.Loop(), 0);
  // The credit card has no PAN sequence number: its Track 2 reading gives
  // 200, so the contactless card is the one read.
  EXPECT_EQ(next.kind, 4);
  EXPECT_STREQ(next.result, kBankTrack2);
}

// KP_DEV_ReadAll: a type-1 reader for chip cards, a type-2 reader for the
// magnetic head, both at 9600 baud.
TEST(ReadAllOnce, ContactBankCardOnTheTypeOneReader) {
  SimReader sim("t1");
  sim.control().Ok("insert 0 bank profile=pboc-debit-two-sfi");
  Call c;
  c.port = sim.com();
  c.contact = 1;
  c.timeoutMs = 1000;
  EXPECT_EQ(c.Once(), 0);
  EXPECT_EQ(c.kind, 3);
  EXPECT_STREQ(c.result, kBankTrack2);
  // The type-1 open switches the module at 9600 (ESC $ I 0) first.
  const Bytes h2d = sim.Traffic().host_to_device;
  EXPECT_EQ(Hex(Bytes(h2d.begin(), h2d.begin() + 4)), "1B244930");
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(sim.com(), &module), -10);  // closed again
}

TEST(ReadAllOnce, StoreCardThenContactlessBankCardOnTheTypeOneReader) {
  SimReader sim("t1");
  sim.control().Ok("insert 255 sector");
  sim.control().Ok("rf-block 9 0F0E0D0C0B0A09080706050403020100");
  Call c;
  c.port = sim.com();
  c.store = c.contactless = 1;
  c.sector = 2;
  c.block = 1;
  c.timeoutMs = 1000;
  EXPECT_EQ(c.Once(), 0);
  EXPECT_EQ(c.kind, 2);
  EXPECT_STREQ(c.result, "0F0E0D0C0B0A09080706050403020100");
  const std::vector<kptest::HostFrame> frames = kptest::HostFrames(sim.Traffic().host_to_device);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(Hex(frames[2].data), "0260FFFFFFFFFFFF");  // sector 2, key A
  EXPECT_EQ(Hex(frames[3].data), "09");                // block 2 × 4 + 1
  sim.ClearTraffic();

  sim.control().Ok("insert 255 rf-bank profile=pboc-debit-two-sfi");
  Call d;
  d.port = sim.com();
  d.store = d.contactless = 1;
  d.timeoutMs = 1000;
  EXPECT_EQ(d.Once(), 0);
  EXPECT_EQ(d.kind, 4);
  EXPECT_STREQ(d.result, kBankTrack2);
  EXPECT_EQ(kptest::Apdus(sim.Traffic()).size(), 7u);
}

}  // namespace
