// The read-any-card loop against the virtual reader: each card kind it
// reports (magnetic stripe, contactless store card block, contact and
// contactless bank card, identity card through the sibling library's
// double), one pass and timed loops, and the cancel from another thread.
// Each case checks what crossed the line, the result, the kind and the
// text.
#include <dlfcn.h>
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
using Strings = std::vector<std::string>;

namespace {

const char kTrack1[] = "B6222020200112233^TEST^2912101";
const char kTrack2[] = "6222020200112233=29121010000";
const char kBankTrack2[] = "6200001234567892D30122200000012340000F";  // pboc-debit-two-sfi
const char kSelectDirectory[] = "00A404000E315041592E5359532E4444463031";
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
  EXPECT_EQ(sim.control().Ok("cards"), "0=bank:unpowered,pboc-debit-two-sfi,atc=0011");
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

TEST(ReadAllLoop, ContactBankCardTrack2) {
  LoopReader sim;
  sim.Insert("0 bank profile=pboc-debit-two-sfi");
  Call c = sim.NewCall();
  c.contact = c.contactless = 1;
  EXPECT_EQ(c.Loop(), 0);
  EXPECT_EQ(c.kind, 3);
  EXPECT_STREQ(c.result, kBankTrack2);
  const kpsim::WireTraffic t = sim.Traffic();
  // C003 and power-on of seat 0, then the card dialogue on seat 0.
  const std::vector<std::uint16_t> codes = kptest::FrameCodes(t);
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[0], 0xC003);
  EXPECT_EQ(codes[1], 0x3222);
  const auto e = kptest::Apdus(t);
  EXPECT_EQ(codes.size(), 2 + e.size());
  ASSERT_EQ(e.size(), 7u);
  EXPECT_EQ(e[0].command, kSelectDirectory);
  EXPECT_EQ(e[6].command, "00B2011400");
  for (const auto& x : e) EXPECT_EQ(x.seat, 0);
  // The card is left powered.
  EXPECT_EQ(sim.control().Ok("cards"), "0=bank:powered,pboc-debit-two-sfi,atc=0012");
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
  // pboc-t0-directory: its directory fetched with GET RESPONSE (23 bytes),
  // the PBOC application in directory record 2, PDOL 9F1A 02, 9F37 04,
  // DF60 03.
  EXPECT_EQ(kptest::Commands(e),
            (Strings{kSelectDirectory, "00C0000017", "00B2010C00", "00B2020C00", "00A4040007F0000001560103",
                     std::string("80A800000B8309") + "0156" + "00000000" + "000000", "00B2010C00"}));
  for (const auto& x : e) EXPECT_EQ(x.seat, 255);
  const std::vector<kptest::DeviceAnswer> answers = kptest::DeviceAnswers(t.device_to_host);
  ASSERT_EQ(answers.size(), codes.size());
  EXPECT_EQ(answers[0].status, 0x2006);
  EXPECT_EQ(answers[2].status, 0x1001);
  EXPECT_EQ(sim.control().Ok("cards"), "255=rf-bank:046B421A523C80,halted,pboc-t0-directory,atc=0101/0000");
}

// The sibling identity-card library's double, loaded by its path before the
// library looks for it by name; unloaded at the end.
#ifdef KPDEV_TEST_KPID
class IdLibraryDouble {
 public:
  IdLibraryDouble() {
    handle_ = dlopen(KPDEV_TEST_KPID, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    configure_ = reinterpret_cast<void (*)(int, int, int)>(dlsym(handle_, "KPIDDouble_Configure"));
    calls_ = reinterpret_cast<const char* (*)()>(dlsym(handle_, "KPIDDouble_Calls"));
  }
  ~IdLibraryDouble() { dlclose(handle_); }
  void Configure(int openResult, int findResult, int handle) { configure_(openResult, findResult, handle); }
  std::string Calls() const { return calls_(); }

 private:
  void* handle_ = nullptr;
  void (*configure_)(int, int, int) = nullptr;
  const char* (*calls_)() = nullptr;
};
#endif

TEST(ReadAllLoop, IdentityCardThroughTheSiblingLibrary) {
#ifndef KPDEV_TEST_KPID
  GTEST_SKIP() << "built without the identity-card library double";
#else
  LoopReader sim;
  IdLibraryDouble id;
  sim.Insert("0 bank profile=pboc-debit-two-sfi");

  // No card on the identity reader: the loop goes on with the reader.
  id.Configure(0, -1, 77);
  Call c = sim.NewCall();
  c.contact = 1;
  EXPECT_EQ(c.Loop(), 0);
  EXPECT_EQ(c.kind, 3);
  EXPECT_EQ(id.Calls(), "Open(" + std::to_string(sim.com()) + ",1) Find(77) Close(77) ");
  sim.ClearTraffic();

  // A card: the nine fields, the reader never opened.
  id.Configure(0, 0, 77);
  Call d = sim.NewCall();
  d.contact = 1;
  EXPECT_EQ(d.Loop(), 0);
  EXPECT_EQ(d.kind, 5);
  EXPECT_EQ(std::string(d.result),
            "field1|field2|field3|field4|" + std::string(259, 'A') + "|field6|field7|field8|field9");
  std::string gets;
  for (int field = 1; field <= 9; ++field) gets += "Get(77," + std::to_string(field) + ") ";
  EXPECT_EQ(id.Calls(), "Open(" + std::to_string(sim.com()) + ",1) Find(77) " + gets + "Close(77) ");
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), "");
#endif
}

TEST(ReadAllLoop, OnePassWithoutCardsAndTimedLoops) {
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
  sim.ClearTraffic();

  // No card kind enabled: the pass is the magnetic read alone.
  Call bare = sim.NewCall();
  EXPECT_EQ(bare.Loop(), -101);
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), Hex(Arm()));
  sim.ClearTraffic();

  // 700 ms: passes until the time is up, then -101.
  Call timed = sim.NewCall();
  timed.store = 1;
  timed.timeoutMs = 700;
  const auto start = Clock::now();
  EXPECT_EQ(timed.Loop(), -101);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(elapsed, 700);
  EXPECT_LT(elapsed, 3000);
  const std::vector<std::uint16_t> codes = kptest::FrameCodes(sim.Traffic());
  EXPECT_GE(codes.size(), 2u);
  for (std::uint16_t code : codes) EXPECT_EQ(code, 0x3241);
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

TEST(ReadAllOnce, MagneticCardOnTheTypeTwoReaderStaysOpen) {
  SimReader sim("t1");
  EXPECT_EQ(sim.control().Ok(std::string("swipe ") + kTrack1 + " " + kTrack2), "held");
  Call c;
  c.port = sim.com();
  c.timeoutMs = 3000;
  EXPECT_EQ(c.Once(), 0);
  EXPECT_EQ(c.kind, 1);
  EXPECT_STREQ(c.result, (std::string(kTrack1) + "|" + kTrack2).c_str());
  // Type 1 opened (ESC $ I 0) and, no card kind enabled, closed (ESC $ I
  // 0 restores the module), then type 2 (ESC $ B), whose wait arms the head
  // (ESC B ]).
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), std::string("1B244930") + "1B244930" + "1B2442" + "1B425D");
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(sim.com(), &module), 0);
  EXPECT_EQ(module, 2);
  EXPECT_EQ(KP_DEV_CloseDevice(sim.com()), 0);
}

TEST(ReadAllOnce, CancelDuringTheMagneticWaitGoesOnWithTypeOne) {
  SimReader sim("t1");
  Call c;
  c.port = sim.com();
  c.contact = 1;
  c.timeoutMs = 30000;
  int result = 0;
  std::thread once([&] { result = c.Once(); });
  // Wait until the head is armed: the type-2 reader is waiting.
  EXPECT_TRUE(kptest::WaitUntil(
      [&] {
        const std::string h = Hex(sim.Traffic().host_to_device);
        return h.find("1B425D") != std::string::npos;
      },
      std::chrono::seconds(10)));
  const auto cancelled = Clock::now();
  EXPECT_EQ(KP_DEV_CancelReadAll(), 0);
  once.join();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelled).count();
  EXPECT_EQ(result, -101);
  EXPECT_EQ(c.kind, 0);
  EXPECT_LT(took, 2000);
  // After the wait: type 1 again (its module switch, C003 and a power-on of
  // the empty contact seat).
  const std::string h = Hex(sim.Traffic().host_to_device);
  const std::size_t arm = h.find("1B425D");
  ASSERT_NE(arm, std::string::npos);
  EXPECT_NE(h.find("1B244930", arm), std::string::npos);
  EXPECT_NE(h.find(Hex(CommandFrame(0x3222, HexBytes("000A00"))), arm), std::string::npos);
}

}  // namespace
