// The read-any-card services: the order of the technologies on the wire,
// the card kind and result text of each, one pass versus polling until the
// time runs out, cancelling from another thread, a port that does not open,
// and the reader's own magnetic wait.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "idcard/id_library.h"
#include "services/read_any_card.h"
#include "wire/emv_card.h"

namespace {

using namespace emvtest;
using kptest::kEscOk;
using kptest::SentBy;
using Clock = std::chrono::steady_clock;

const Bytes kArm = {0x1B, 0x42, 0x5D};                // ESC B ]
const Bytes kModuleI9600 = {0x1B, 0x24, 0x49, 0x30};  // ESC $ I 0
const Bytes kModuleB = {0x1B, 0x24, 0x42};            // ESC $ B
const Bytes kSwipe = FromHex("1B 73 3B 31 32 33 34 3F 41 3B 35 36 37 38 3F 3F 1C");
const char kSwipeText[] = ";1234|;5678";
const std::string kKey = "FFFFFFFFFFFF";

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class ReadAllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No identity library unless a test binds one.
    kp::SetIdLibraryName("/nonexistent/libKP_ID.so");
    std::memset(result_, 'x', sizeof result_);
    result_[sizeof result_ - 1] = '\0';
  }
  void TearDown() override {
    kp::SetIdLibraryName("");
    KP_DEV_CloseDevice(kp::g_readAllHandle);
  }
  // KP_DEV_ReadAll_A / KP_DEV_ReadAll with the given card flags.
  int ReadA(int port, unsigned timeoutMs, int store = 0, int contact = 0, int contactless = 0) {
    return KP_DEV_ReadAll_A(port, 0, timeoutMs, store, 2, 1, 0x60, kKey.c_str(), contact, contactless, 0, &kind_,
                            result_);
  }
  int Read(int port, unsigned timeoutMs) {
    return KP_DEV_ReadAll(port, 0, timeoutMs, 0, 2, 1, 0x60, kKey.c_str(), 0, 0, 0, &kind_, result_);
  }
  // The bank card on the seat: directory, application, GPO, one record.
  static void ScriptBankCard(FakeDevice& dev) {
    ScriptUpToGpo(dev, "08010100");
    Card(dev, Record(Tlv("57", kTrack2) + Tlv("5F34", "01")));
  }
  static Frames BankCardApdus(int seat) {
    return Apdus(seat, CommandsUpToGpo() + std::vector<std::string>{"00B2010C00"});
  }

  LogDir log_;
  int kind_ = -7;
  char result_[2400];
};

// ---- KP_DEV_ReadAll_A: type-61 reader at 115200 baud

TEST_F(ReadAllTest, OnePassWithoutCard) {
  FakeDevice dev(7);
  dev.NoReply();  // the head answers the arm with nothing
  EXPECT_EQ(ReadA(7, 0), -101);
  EXPECT_EQ(kind_, 0);
  EXPECT_EQ(result_[0], 'x');
  EXPECT_EQ(SentBy(dev), Frames{kArm});
  int module = 0;
  EXPECT_EQ(KP_DEV_CheckIsOpen(7, &module), -10);         // closed after the pass
  EXPECT_EQ(log_.Text().find("!!!"), std::string::npos);  // an open that worked is not logged
}

TEST_F(ReadAllTest, ContactBankCard) {
  FakeDevice dev(7);
  dev.NoReply();
  dev.ReplyFrame(0x0000);                             // 0xC003 before the power-on
  dev.ReplyFrame(0x0000, FromHex("3B6F00008031E0"));  // answer to reset
  ScriptBankCard(dev);
  ASSERT_EQ(ReadA(7, 0, 0, 1, 1), 0);
  EXPECT_EQ(kind_, 3);
  EXPECT_STREQ(result_, kTrack2.c_str());
  Frames expected = {kArm, CommandFrame(0xC003), CommandFrame(0x3222, {0x00, 0x0A, 0x00})};
  const Frames card = BankCardApdus(0);
  expected.insert(expected.end(), card.begin(), card.end());
  EXPECT_EQ(SentBy(dev), expected);  // no power-off, no contactless attempt
}

TEST_F(ReadAllTest, ContactlessBankCardAfterStoreCardFails) {
  FakeDevice dev(7);
  dev.NoReply();
  dev.ReplyFrame(0x1004);  // no store card
  dev.ReplyFrame(0x0000, FromHex("04"
                                 "04"
                                 "11223344"
                                 "02"
                                 "7880"));
  ScriptBankCard(dev);
  dev.ReplyFrame(0x0000);  // halt
  dev.ReplyFrame(0x0000);  // 0xC003 after the halt
  ASSERT_EQ(ReadA(7, 0, 1, 0, 1), 0);
  EXPECT_EQ(kind_, 4);
  EXPECT_STREQ(result_, kTrack2.c_str());
  Frames expected = {kArm, CommandFrame(0x3241, {0x00, 0x01}), CommandFrame(0x3224, {0x00, 0x01})};
  const Frames card = BankCardApdus(255);
  expected.insert(expected.end(), card.begin(), card.end());
  expected.push_back(CommandFrame(0x3225, {0x00, 0x00}));
  expected.push_back(CommandFrame(0xC003));
  EXPECT_EQ(SentBy(dev), expected);
}

TEST_F(ReadAllTest, StoreCardBlock) {
  FakeDevice dev(7);
  dev.NoReply();
  dev.ReplyFrame(0x0000, FromHex("08 DEADBEEF"));  // activated twice, the same UID
  dev.ReplyFrame(0x0000, FromHex("08 DEADBEEF"));
  dev.ReplyFrame(0x0000);  // the sector opened with key A
  dev.ReplyFrame(0x0000, FromHex("00112233445566778899AABBCCDDEEFF"));
  ASSERT_EQ(ReadA(7, 0, 1, 1, 1), 0);
  EXPECT_EQ(kind_, 2);
  EXPECT_STREQ(result_, "00112233445566778899AABBCCDDEEFF");
  // Sector 2, block 1: absolute block 2 x 4 + 1.
  EXPECT_EQ(SentBy(dev), (Frames{kArm, CommandFrame(0x3241, {0x00, 0x01}), CommandFrame(0x3241, {0x00, 0x01}),
                                 CommandFrame(0x3242, FromHex("02 60 FFFFFFFFFFFF")), CommandFrame(0x3243, {0x09})}));
}

TEST_F(ReadAllTest, ContactlessHaltAlsoAfterAFailedReading) {
  FakeDevice dev(7);
  dev.NoReply();
  dev.ReplyFrame(0x0000, FromHex("04"
                                 "04"
                                 "11223344"
                                 "00"));
  Card(dev, "6A82");       // no payment directory
  dev.ReplyFrame(0x0000);  // halt
  dev.ReplyFrame(0x0000);  // 0xC003
  EXPECT_EQ(ReadA(7, 0, 0, 0, 1), -101);
  EXPECT_EQ(kind_, 0);
  // The Track 2 reading cleared the start of the result text.
  EXPECT_EQ(std::string(result_, 5), std::string("\0\0\0\0x", 5));
  EXPECT_EQ(SentBy(dev), (Frames{kArm, CommandFrame(0x3224, {0x00, 0x01}), Apdu(255, kSelectPse),
                                 CommandFrame(0x3225, {0x00, 0x00}), CommandFrame(0xC003)}));
}

TEST_F(ReadAllTest, IdentityCardThroughTheLibrary) {
  void* library = dlopen(KPDEV_TEST_KPID, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  auto configure = reinterpret_cast<void (*)(int, int, int)>(dlsym(library, "KPIDDouble_Configure"));
  auto calls = reinterpret_cast<const char* (*)()>(dlsym(library, "KPIDDouble_Calls"));
  ASSERT_NE(configure, nullptr);
  ASSERT_NE(calls, nullptr);
  kp::SetIdLibraryName(KPDEV_TEST_KPID);
  configure(0, 0, 42);

  FakeDevice dev(7);
  ASSERT_EQ(ReadA(7, 0, 1, 1, 1), 0);
  EXPECT_EQ(kind_, 5);
  EXPECT_EQ(std::string(result_),
            "field1|field2|field3|field4|" + std::string(259, 'A') + "|field6|field7|field8|field9");
  EXPECT_STREQ(calls(),
               "Open(7,1) Find(42) Get(42,1) Get(42,2) Get(42,3) Get(42,4) Get(42,5) Get(42,6) Get(42,7) Get(42,8) "
               "Get(42,9) Close(42) ");
  // The reader itself was never opened.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(dev.Received().empty());

  // No card in the library's reader: the pass goes on with the magnetic head.
  configure(0, -1, 42);
  dev.NoReply();
  EXPECT_EQ(ReadA(7, 0), -101);
  EXPECT_STREQ(calls(), "Open(7,1) Find(42) Close(42) ");
  EXPECT_EQ(SentBy(dev), Frames{kArm});
  kp::SetIdLibraryName("");
  dlclose(library);
}

TEST_F(ReadAllTest, PollsUntilTheTimeRunsOut) {
  FakeDevice dev(7);
  const auto start = Clock::now();
  EXPECT_EQ(ReadA(7, 400), -101);
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 400);
  EXPECT_LT(elapsed, 1200);
  // One arm per pass, each pass about 150 ms (the arm's 100 ms and the
  // 50 ms pause between passes).
  const std::size_t passes = SentBy(dev).size();
  EXPECT_GE(passes, 3u);
  EXPECT_LE(passes, 5u);
  EXPECT_EQ(kind_, 0);
}

TEST_F(ReadAllTest, PortThatDoesNotOpen) {
  setenv("KPDEV_COM9", "/nonexistent/tty-kpdev", 1);
  EXPECT_EQ(ReadA(9, 5000, 1, 1, 1), -1);
  EXPECT_EQ(Read(9, 5000), -1);
  unsetenv("KPDEV_COM9");
  EXPECT_EQ(kind_, -7);
  EXPECT_EQ(result_[0], 'x');
  // "!!!开户串口失败 <type>" in code page 936, once per failed open.
  const std::string failed = "| !!!\xBF\xAA\xBB\xA7\xB4\xAE\xBF\xDA\xCA\xA7\xB0\xDC ";
  const std::string log = log_.Text();
  EXPECT_NE(log.find(failed + "61\n"), std::string::npos) << log;
  EXPECT_NE(log.find(failed + "1\n"), std::string::npos) << log;
  std::size_t lines = 0;
  for (std::size_t at = log.find(failed); at != std::string::npos; at = log.find(failed, at + 1)) ++lines;
  EXPECT_EQ(lines, 2u) << log;
}

// ---- KP_DEV_ReadAll: chip cards on a type-1 reader, the magnetic head on a
// type-2 reader, both at 9600 baud

TEST_F(ReadAllTest, TypeOneTwoOneSequenceWithoutCard) {
  FakeDevice dev(8);
  dev.Reply(kEscOk);  // open type 1
  dev.Reply(kEscOk);  // close type 1: IC module back to 9600
  dev.Reply(kEscOk);  // open type 2
  dev.NoReply();      // arm
  dev.Reply(kEscOk);  // open type 1
  dev.Reply(kEscOk);  // close type 1
  const auto start = Clock::now();
  EXPECT_EQ(Read(8, 1000), -101);
  // Three opens with their 100 ms pause, and a magnetic wait of 700 ms
  // polled every 300 ms.
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 1000);
  EXPECT_LT(elapsed, 2000);
  EXPECT_EQ(kind_, 0);
  EXPECT_EQ(SentBy(dev), (Frames{kModuleI9600, kModuleI9600, kModuleB, kArm, kModuleI9600, kModuleI9600}));
  EXPECT_EQ(KP_DEV_CheckIsOpen(8, nullptr), -10);
}

TEST_F(ReadAllTest, MagneticCardKeepsTheTypeTwoReaderOpen) {
  FakeDevice dev(8);
  dev.Reply(kEscOk);
  dev.Reply(kEscOk);
  dev.Reply(kEscOk);
  dev.Reply(kSwipe);
  ASSERT_EQ(Read(8, 3000), 0);
  EXPECT_EQ(kind_, 1);
  EXPECT_STREQ(result_, kSwipeText);
  EXPECT_EQ(SentBy(dev), (Frames{kModuleI9600, kModuleI9600, kModuleB, kArm}));
  int module = -1;
  ASSERT_EQ(KP_DEV_CheckIsOpen(8, &module), 0);
  EXPECT_EQ(module, 2);

  // The next ReadAll_A pass closes it before anything else.
  dev.NoReply();
  EXPECT_EQ(ReadA(8, 0), -101);
  EXPECT_EQ(SentBy(dev), Frames{kArm});
}

TEST_F(ReadAllTest, CancelDuringTheMagneticWait) {
  FakeDevice dev(8);
  dev.Reply(kEscOk);
  dev.Reply(kEscOk);
  dev.Reply(kEscOk);
  dev.NoReply();
  dev.Reply(kEscOk);
  dev.Reply(kEscOk);
  long toNextRequest = -1;
  Clock::time_point cancelled;
  std::thread canceller([&] {
    // Once the head is armed the wait is on; 50 ms later it sleeps between
    // two looks at the head, about 250 ms before the next.
    dev.WaitRequests(4, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancelled = Clock::now();
    KP_DEV_CancelReadAll();
    if (dev.WaitRequests(5, 5000)) toNextRequest = MsSince(cancelled);
  });
  // Below 300 ms the magnetic wait has no end of its own.
  EXPECT_EQ(Read(8, 100), -101);
  canceller.join();
  // The cancel wakes the wait: the type-1 reader's module switch follows
  // after the open's 100 ms pause alone (a wait that slept on to its next
  // look would add some 250 ms).
  EXPECT_GE(toNextRequest, 100);
  EXPECT_LT(toNextRequest, 250);
  EXPECT_LT(MsSince(cancelled), 800);
  // The second type-1 attempt follows the cancelled wait.
  EXPECT_EQ(SentBy(dev), (Frames{kModuleI9600, kModuleI9600, kModuleB, kArm, kModuleI9600, kModuleI9600}));
}

TEST_F(ReadAllTest, CancelBeforeTheMagneticWaitIsNotLostAndOneBeforeTheCallIsNoCancel) {
  const Frames sequence = {kModuleI9600, kModuleI9600, kModuleB, kArm, kModuleI9600, kModuleI9600};
  auto script = [](FakeDevice& dev) {
    dev.Reply(kEscOk);  // open type 1
    dev.Reply(kEscOk);  // close type 1
    dev.Reply(kEscOk);  // open type 2
    dev.NoReply();      // arm
    dev.Reply(kEscOk);  // open type 1
    dev.Reply(kEscOk);  // close type 1
  };
  FakeDevice dev(8);

  // A cancel made before the call does not end it: the wait takes its time.
  KP_DEV_CancelReadAll();
  script(dev);
  auto start = Clock::now();
  EXPECT_EQ(Read(8, 1000), -101);
  EXPECT_GE(MsSince(start), 1000);
  EXPECT_EQ(SentBy(dev), sequence);

  // A cancel while the chip cards are tried, before the magnetic wait,
  // ends that wait at once; the call goes on as after a cancel during it.
  // Below 300 ms the wait has no end of its own: a lost cancel would hold
  // the call for ever, so a watchdog cancels again and says so.
  script(dev);
  std::atomic<bool> returned{false};
  bool rescued = false;
  std::thread canceller([&] {
    dev.WaitRequests(1, 5000);  // the call's first module switch is out
    KP_DEV_CancelReadAll();
    for (const auto limit = Clock::now() + std::chrono::seconds(5); !returned;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (Clock::now() > limit) {
        rescued = true;
        KP_DEV_CancelReadAll();
      }
    }
  });
  start = Clock::now();
  EXPECT_EQ(Read(8, 100), -101);
  const long elapsed = MsSince(start);
  returned = true;
  canceller.join();
  EXPECT_FALSE(rescued);
  // Three opens with their 100 ms pause, and one poll of the head.
  EXPECT_LT(elapsed, 1000);
  EXPECT_EQ(SentBy(dev), sequence);
}

}  // namespace
