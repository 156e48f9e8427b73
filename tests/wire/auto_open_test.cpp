// Automatic open: the order of the attempts (the caller's port first, then
// each listed port at a fixed series of speeds), what a found reader leaves
// in the caller's variables, that failed candidates are closed again, and
// the list of the system's ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "platform/ports.h"
#include "wire/fixture.h"

namespace {

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::FakeDevice;
using kptest::Frames;
using kptest::kEscOk;
using kptest::SentBy;

const Bytes kVersionRequest = CommandFrame(0x3111, {0x00});
const Bytes kRawVersionRequest = {0x1B, 0x65, 0x00};  // type 61

// ESC $ I with the speed digit of the IC module: 9600 → 0, 19200 → 1,
// 38400 → 2, 57600 → 3, 115200 → 4.
Bytes ModuleI(char digit) { return {0x1B, 0x24, 0x49, static_cast<std::uint8_t>(digit)}; }

class AutoOpenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    kp::platform::SetSerialPortListOverride(nullptr);
    for (int h : {3, 8, 9}) {
      int module = 0;
      if (KP_DEV_CheckIsOpen(h, &module) == 0) KP_DEV_CloseDevice(h);
    }
  }
  static void List(const std::vector<int>& ports) { kp::platform::SetSerialPortListOverride(&ports); }
  // A type-1 candidate that opens but gives no version: the module switch
  // is answered, the version query refused, the close's switch answered.
  static void ScriptRefusal(FakeDevice& dev) {
    dev.Reply(kEscOk);
    dev.ReplyFrame(0x1004);
    dev.Reply(kEscOk);
  }
  // The frames of refused attempts at the given speed digits, in turn.
  static Frames Refusals(const std::string& digits) {
    Frames f;
    for (char d : digits) f.insert(f.end(), {ModuleI(d), kVersionRequest, ModuleI('0')});
    return f;
  }

  int port_ = 0, baud_ = 0, handle_ = -5;
};

TEST_F(AutoOpenTest, SuggestedPortAnswersAtOnce) {
  FakeDevice dev(8);
  List({9});
  dev.Reply(kEscOk);
  dev.ReplyFrame(0x0000, {0x02, 0x00});
  port_ = 8;
  ASSERT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 1), 0);
  EXPECT_EQ(port_, 8);
  EXPECT_EQ(baud_, 9600);  // a speed below 9600 is raised
  EXPECT_EQ(handle_, 8);
  EXPECT_EQ(SentBy(dev), (Frames{ModuleI('0'), kVersionRequest}));
  int module = -1;
  ASSERT_EQ(KP_DEV_CheckIsOpen(8, &module), 0);
  EXPECT_EQ(module, 1);
  dev.Reply(kEscOk);
  KP_DEV_CloseDevice(8);
}

TEST_F(AutoOpenTest, ListedPortsAtEachSpeedInTurn) {
  // Nothing suggested; the reader answers only at 38400 on the second
  // listed port.
  FakeDevice first(9), second(8);
  List({9, 8});
  for (int i = 0; i < 5; ++i) ScriptRefusal(first);
  for (int i = 0; i < 3; ++i) ScriptRefusal(second);
  second.Reply(kEscOk);
  second.ReplyFrame(0x0000, {0x02, 0x00});
  ASSERT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 1), 0);
  EXPECT_EQ(port_, 8);
  EXPECT_EQ(baud_, 38400);
  EXPECT_EQ(handle_, 8);

  EXPECT_EQ(SentBy(first), Refusals("04123"));
  Frames expected = Refusals("041");
  expected.insert(expected.end(), {ModuleI('2'), kVersionRequest});
  EXPECT_EQ(SentBy(second), expected);
  EXPECT_EQ(KP_DEV_CheckIsOpen(9, nullptr), -10);  // every refused candidate was closed
  second.Reply(kEscOk);
  KP_DEV_CloseDevice(8);
}

TEST_F(AutoOpenTest, EverythingFailsWithTheLastAttemptsCode) {
  // The suggested port is tried again when the system lists it.
  FakeDevice dev(9);
  List({9});
  for (int i = 0; i < 6; ++i) ScriptRefusal(dev);
  port_ = 9;
  baud_ = 19200;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 1), -307);
  EXPECT_EQ(port_, 9);
  EXPECT_EQ(baud_, 57600);
  EXPECT_EQ(SentBy(dev), Refusals("104123"));
  EXPECT_EQ(KP_DEV_CheckIsOpen(9, nullptr), -10);

  // A listed port without a number (port 0) never opens.
  List({0});
  port_ = 0;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 1), -1);
  EXPECT_EQ(port_, 0);
  EXPECT_EQ(baud_, 57600);
}

TEST_F(AutoOpenTest, TypeSixtyOneSpeeds) {
  FakeDevice dev(8);
  // Suggested port, speed 0: one attempt at 115200; no version answer (-4).
  List({});
  dev.Reply({}, kRawVersionRequest.size());
  port_ = 8;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 61), -4);
  EXPECT_EQ(baud_, 115200);
  EXPECT_EQ(handle_, 8);  // written by the open that succeeded
  EXPECT_EQ(KP_DEV_CheckIsOpen(8, nullptr), -10);
  EXPECT_EQ(SentBy(dev), Frames{kRawVersionRequest});

  // From the list: 115200 first, then 19200, where this reader answers.
  List({8});
  port_ = 0;
  baud_ = 0;
  dev.Reply({}, kRawVersionRequest.size());
  const char version[] = "T61 V1.07";
  dev.Reply(Bytes(version, version + sizeof version), kRawVersionRequest.size());
  ASSERT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 61), 0);
  EXPECT_EQ(port_, 8);
  EXPECT_EQ(baud_, 19200);
  EXPECT_EQ(SentBy(dev), (Frames{kRawVersionRequest, kRawVersionRequest}));

  // A suggested 9600 is not below 9600: it is kept.
  KP_DEV_CloseDevice(8);
  List({});
  baud_ = 9600;
  dev.Reply(Bytes(version, version + sizeof version), kRawVersionRequest.size());
  ASSERT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 61), 0);
  EXPECT_EQ(baud_, 9600);
}

TEST_F(AutoOpenTest, NothingToTryAndOtherReadersKept) {
  List({});
  port_ = 0;
  baud_ = 1234;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 1), -1);
  EXPECT_EQ(port_, 0);
  EXPECT_EQ(baud_, 1234);
  EXPECT_EQ(handle_, -5);

  // The handle variable names another open reader; the suggested port does
  // not open: that reader stays open and the variable keeps its handle.
  FakeDevice other(9);
  ASSERT_EQ(KP_DEV_OpenDevice(61, other.PortSpec(115200).c_str(), &handle_), 0);
  setenv("KPDEV_COM3", "/nonexistent/tty-kpdev", 1);
  port_ = 3;
  baud_ = 9600;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port_, &baud_, &handle_, 61), -1);
  unsetenv("KPDEV_COM3");
  EXPECT_EQ(handle_, 9);
  EXPECT_EQ(KP_DEV_CheckIsOpen(9, nullptr), 0);
}

TEST(SerialPortListTest, RedirectedPortsFirstThenRealOnes) {
  kp::platform::SetSerialPortListOverride(nullptr);
  FakeDevice a(8), b(3);
  setenv("KPDEV_COM5", "", 1);  // empty: not a port
  const std::vector<int> ports = kp::platform::ListSerialPorts();
  unsetenv("KPDEV_COM5");
  ASSERT_GE(ports.size(), 2u);
  EXPECT_EQ(ports[0], 3);
  EXPECT_EQ(ports[1], 8);
  EXPECT_LE(ports.size(), 32u);
  // Then the machine's own serial ports, ascending.
  for (std::size_t i = 2; i < ports.size(); ++i) {
    EXPECT_TRUE(ports[i] != 3 && ports[i] != 5 && ports[i] != 8) << ports[i];
    EXPECT_GE(ports[i], 1);
    EXPECT_LE(ports[i], 32);
    if (i > 2) {
      EXPECT_GT(ports[i], ports[i - 1]);
    }
  }

  // An override replaces the answer, cut to 32 ports.
  std::vector<int> many(40, 7);
  kp::platform::SetSerialPortListOverride(&many);
  EXPECT_EQ(kp::platform::ListSerialPorts(), std::vector<int>(32, 7));
  kp::platform::SetSerialPortListOverride(nullptr);
}

}  // namespace
