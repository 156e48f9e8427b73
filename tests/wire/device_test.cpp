// Device-level operations and the frame exchange, seen from the exported
// interface against a scripted device: the exact bytes on the wire, the
// results, and what reaches the caller's buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::FromHex;
using kptest::kEscOk;

namespace {

class DeviceTest : public kptest::ReaderTest {
 protected:
  DeviceTest() : ReaderTest(10) {}
  // Opens through the export, keeping the traffic of the open.
  int OpenSeeingTraffic(int type, int baud = 9600) {
    EXPECT_EQ(KP_DEV_OpenDevice(type, dev_.PortSpec(baud).c_str(), &h_), 0);
    EXPECT_EQ(h_, dev_.com());
    type_ = type;
    return h_;
  }
};

TEST_F(DeviceTest, VersionFrameOnTheWireAndTypeZeroMinimumLength) {
  const int h = Open(0);
  dev_.ReplyFrame(0x0000, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
  char version[64];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h, version), 0);
  EXPECT_STREQ(version, "010203040506");
  ASSERT_EQ(dev_.Requests().size(), 1u);
  EXPECT_EQ(dev_.Requests()[0], FromHex("02 30 30 30 33 33 31 31 31 30 30 32 30 03"));

  // Five version bytes are too few for this family; the text stays untouched.
  dev_.ReplyFrame(0x0000, {1, 2, 3, 4, 5});
  std::memset(version, 'x', sizeof version);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -8);
  EXPECT_EQ(version[0], 'x');
}

TEST_F(DeviceTest, TypeOneOpenSwitchesModuleThenReportsVersion) {
  dev_.Reply(kEscOk);
  const int h = OpenSeeingTraffic(1, 115200);
  ASSERT_GE(dev_.Requests().size(), 1u);
  EXPECT_EQ(dev_.Requests()[0], (Bytes{0x1B, '$', 'I', '4'}));
  int module = -5;
  EXPECT_EQ(KP_DEV_CheckIsOpen(h, &module), 0);
  EXPECT_EQ(module, 1);

  // A version without data bytes succeeds and leaves the text alone.
  dev_.ReplyFrame(0x0000);
  char version[16] = "keep";
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), 0);
  EXPECT_STREQ(version, "keep");

  // The argument of SetDeviceModule is not consulted: module 1 re-sends ESC $ I.
  dev_.ClearReceived();
  dev_.Reply({0x1B, '1'});
  EXPECT_EQ(KP_DEV_SetDeviceModule(h, 3), -301);
  EXPECT_EQ(dev_.Received(), (Bytes{0x1B, '$', 'I', '4'}));
  dev_.Reply({0x1B, '2'});
  EXPECT_EQ(KP_DEV_SetDeviceModule(h, 3), -302);
  dev_.Reply({0x1B, '7'});
  EXPECT_EQ(KP_DEV_SetDeviceModule(h, 3), -9);

  // Closing restores the 9600-baud IC module.
  dev_.ClearReceived();
  dev_.Reply(kEscOk);
  EXPECT_EQ(KP_DEV_CloseDevice(h), 0);
  EXPECT_EQ(dev_.Received(), (Bytes{0x1B, '$', 'I', '0'}));
  EXPECT_EQ(KP_DEV_CheckIsOpen(h, &module), -10);
  type_ = -1;
}

TEST_F(DeviceTest, TypeTwoAndFiveModules) {
  dev_.Reply(kEscOk);
  int h = OpenSeeingTraffic(2);
  EXPECT_EQ(dev_.Received(), (Bytes{0x1B, '$', 'B'}));
  // The magnetic module refuses card and device commands before any traffic.
  dev_.ClearReceived();
  char version[16] = "keep";
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -20);
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), -20);
  EXPECT_EQ(KP_DEV_IC_SoftReset(h, 0), -20);
  EXPECT_TRUE(dev_.Received().empty());
  EXPECT_EQ(KP_DEV_CloseDevice(h), 0);
  EXPECT_TRUE(dev_.Received().empty());
  type_ = -1;

  h = OpenSeeingTraffic(5);
  EXPECT_TRUE(dev_.Received().empty());  // module 0: no escape sequence
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(h, &module), 0);
  EXPECT_EQ(module, 0);
  EXPECT_EQ(KP_DEV_SetDeviceModule(h, 1), -20);
  EXPECT_EQ(KP_DEV_IC_SoftReset(h, 7), 0);
  EXPECT_TRUE(dev_.Received().empty());
}

TEST_F(DeviceTest, SpeedChangeCommandsPerFamily) {
  int h = Open(5);
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 14400), 0);  // unknown speed → code 0
  dev_.ReplyFrame(0x6003);
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 57600), -328);
  ASSERT_EQ(dev_.Requests().size(), 2u);
  EXPECT_EQ(dev_.Requests()[0], CommandFrame(0x3001, {0x01, 0x00}));
  EXPECT_EQ(dev_.Requests()[1], CommandFrame(0x3001, {0x01, 0x03}));

  h = Open(0);
  dev_.ReplyFrame(0x1003);  // not a known status word
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 115200), -9);
  ASSERT_EQ(dev_.Requests().size(), 1u);
  EXPECT_EQ(dev_.Requests()[0], CommandFrame(0x3003, {0x04}));
}

TEST_F(DeviceTest, StatusWordsMapToResults) {
  const int h = Open(5);
  const struct {
    std::uint16_t status;
    int result;
  } table[] = {{0x0000, 0},    {0x1001, -305}, {0x1002, -306}, {0x1004, -307}, {0x1005, -308}, {0x1006, -317},
               {0x1007, -318}, {0x2001, -309}, {0x2004, -319}, {0x2005, -310}, {0x2006, -320}, {0x2007, -321},
               {0x3001, -311}, {0x3005, -312}, {0x3006, -313}, {0x3007, -324}, {0x3008, -316}, {0x3009, -314},
               {0x6003, -328}, {0x1003, -9},   {0x9000, -9},   {0x0001, -9},   {0x6005, -9},   {0xFFFF, -9}};
  for (const auto& row : table) {
    dev_.ReplyFrame(row.status);
    EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), row.result) << std::hex << row.status;
  }
}

TEST_F(DeviceTest, BuzzerFramesAreFixed) {
  const int h = Open(61);
  dev_.NoReply();
  dev_.NoReply();
  EXPECT_EQ(KP_DEV_IC_Voice(h, 5), 0);
  ASSERT_TRUE(dev_.WaitRequests(1));
  EXPECT_EQ(KP_DEV_IC_Voice(h, 0), 0);
  ASSERT_TRUE(dev_.WaitRequests(2));
  EXPECT_EQ(dev_.Requests()[0], FromHex("02 30 30 30 32 33 31 31 37 32 36 03"));
  EXPECT_EQ(dev_.Requests()[1], FromHex("02 30 30 30 32 33 31 31 36 32 37 03"));
}

TEST_F(DeviceTest, TypeSixtyOneSoftResetAndRawVersion) {
  const int h = Open(61);
  EXPECT_EQ(KP_DEV_IC_SoftReset(h, 2), -5);
  EXPECT_TRUE(dev_.Received().empty());
  // The status word of the soft reset is not examined.
  dev_.ReplyFrame(0x1001);
  EXPECT_EQ(KP_DEV_IC_SoftReset(h, 1), 0);
  ASSERT_EQ(dev_.Requests().size(), 1u);
  EXPECT_EQ(dev_.Requests()[0], CommandFrame(0x3112, {0x01}));

  dev_.ClearReceived();
  const char text[] = "T61 V1.07";
  dev_.Reply(Bytes(text, text + sizeof text), 3);  // with its NUL, at once
  char version[64];
  std::memset(version, 'x', sizeof version);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), 0);
  EXPECT_STREQ(version, "T61 V1.07");
  EXPECT_EQ(dev_.Received(), (Bytes{0x1B, 0x65, 0x00}));

  // Nothing queued shortly after the request: -4.
  dev_.Reply({}, 3);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -4);
  EXPECT_STREQ(version, "T61 V1.07");

  // An answer that stops before its NUL: what came is the text.
  dev_.Reply(Bytes(text, text + 3), 3);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), 0);
  EXPECT_STREQ(version, "T61");
}

TEST_F(DeviceTest, ExchangeFramingFaults) {
  const int h = Open(0);
  char version[64] = "keep";

  // Length nibbles carry only their low four bits (0x41 → 1 … here 0x32 → 2);
  // the checksum is not examined.
  dev_.Reply(FromHex("02 30 30 30 32 30 30 30 30 3F 3F 03"));
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), 0);
  dev_.Reply(FromHex("02 40 40 40 42 30 30 30 30 3F 3F 03"));
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), 0);

  // A frame that does not end in ETX.
  dev_.Reply(FromHex("02 30 30 30 32 30 30 30 30 3F 3F 04"));
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), -8);

  // A first byte other than STX: the command is sent again.
  dev_.ClearReceived();
  dev_.Reply({0x06, 0x06, 0x06, 0x06, 0x06});
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), 0);
  ASSERT_EQ(dev_.Requests().size(), 2u);
  EXPECT_EQ(dev_.Requests()[0], dev_.Requests()[1]);

  // A device that never answers with STX does not keep the caller forever.
  dev_.ClearReceived();
  for (int i = 0; i < 4; ++i) dev_.Reply({0x15, 0x15, 0x15, 0x15, 0x15});
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), -8);
  EXPECT_EQ(dev_.Requests().size(), 4u);

  // A body longer than the 2080-byte response buffer is refused, not copied.
  dev_.ClearReceived();
  Bytes huge = FromHex("02 30 3F 3F 3F");
  huge.insert(huge.end(), 200, 0x30);
  dev_.Reply(huge);
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -8);
  EXPECT_STREQ(version, "keep");

  // Stale bytes, however many, are dropped before the next command: it is
  // sent once and gets its own answer.
  dev_.Push(Bytes(600, 0x30));
  ASSERT_TRUE(dev_.WaitQueued(600));
  dev_.ClearReceived();
  dev_.ReplyFrame(0x0000);
  EXPECT_EQ(KP_DEV_SetBaudRate(h, 9600), 0);
  EXPECT_FALSE(dev_.WaitRequests(2, 200));

  // Silence: the header read times out.
  dev_.NoReply();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -4);
  // A partial header also times out.
  dev_.Reply({0x02, 0x30, 0x30});
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -4);
  EXPECT_STREQ(version, "keep");
}

}  // namespace
