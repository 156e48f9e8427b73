// Handles, the reader registry and the exports that do more than forward.
#include <gtest/gtest.h>

#include <cstring>

#include "kp_dev.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::FakeDevice;

namespace {

TEST(Registry, RefusedPortTextsAndTypes) {
  FakeDevice dev(17);
  int h = -77;
  EXPECT_EQ(KP_DEV_OpenDevice(7, dev.PortSpec().c_str(), &h), -1);
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COM0:9600:N:8:1", &h), -1);
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COMX:9600:N:8:1", &h), -1);
  EXPECT_EQ(KP_DEV_OpenDevice(0, "", &h), -1);
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COM", &h), -1);
  // A port number beyond the serial layer's range opens nothing.
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COM33:9600:N:8:1", &h), -1);
  EXPECT_EQ(h, -77);
  int module = -3;
  EXPECT_EQ(KP_DEV_CheckIsOpen(33, &module), -10);
  EXPECT_EQ(module, -3);
  EXPECT_TRUE(dev.Received().empty());
}

TEST(Registry, UnopenedHandlesAnswerZeroAndWriteNothing) {
  int len = 99;
  char atr[8] = "keep";
  EXPECT_EQ(KP_DEV_IC_PowerOn(29, 0, &len, atr), 0);
  EXPECT_EQ(len, 99);
  EXPECT_STREQ(atr, "keep");
  EXPECT_EQ(KP_DEV_CloseDevice(29), 0);
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(29, "", ""), 0);
  EXPECT_EQ(KP_DEV_CancelReadAll(), 0);
  int module = 4;
  EXPECT_EQ(KP_DEV_CheckIsOpen(29, &module), -10);
  EXPECT_EQ(module, 4);
}

TEST(Registry, ReopenReusesTheReaderAndAFailedReopenDropsIt) {
  FakeDevice dev(18);
  dev.Reply({0x1B, '0'});
  int h = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(1, dev.PortSpec().c_str(), &h), 0);
  // Reopened as type 61, the type-1 reader object stays and takes module 61:
  // its card commands are then refused.
  dev.ClearReceived();
  ASSERT_EQ(KP_DEV_OpenDevice(61, dev.PortSpec().c_str(), &h), 0);
  int module = 0;
  EXPECT_EQ(KP_DEV_CheckIsOpen(h, &module), 0);
  EXPECT_EQ(module, 61);
  char version[16];
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h, version), -20);
  // The magnetic-stripe writer needs a text.
  EXPECT_EQ(KP_DEV_Magnetic_WaitForWriteTrack(h, "", ""), -5);

  // A reopen at a speed the port refuses drops the registration.
  EXPECT_EQ(KP_DEV_OpenDevice(1, "COM18:14400:N:8:1", &h), -5);
  EXPECT_EQ(KP_DEV_CheckIsOpen(18, &module), -10);
  EXPECT_EQ(KP_DEV_CloseDevice(18), 0);
}

TEST(Registry, SeveralHandlesStayReachableWhenTheMiddleOneCloses) {
  FakeDevice a(19), b(10), c(11);
  int h = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(0, a.PortSpec().c_str(), &h), 0);
  ASSERT_EQ(KP_DEV_OpenDevice(61, b.PortSpec().c_str(), &h), 0);
  ASSERT_EQ(KP_DEV_OpenDevice(5, c.PortSpec().c_str(), &h), 0);
  EXPECT_EQ(KP_DEV_CloseDevice(10), 0);
  EXPECT_EQ(KP_DEV_CloseDevice(10), 0);
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(19, &module), 0);
  EXPECT_EQ(module, 0);
  EXPECT_EQ(KP_DEV_CheckIsOpen(11, &module), 0);
  EXPECT_EQ(module, 0);
  EXPECT_EQ(KP_DEV_CloseDevice(11), 0);
  EXPECT_EQ(KP_DEV_CheckIsOpen(19, &module), 0);
  EXPECT_EQ(KP_DEV_CloseDevice(19), 0);
  EXPECT_EQ(KP_DEV_CheckIsOpen(19, &module), -10);
}

TEST(Exports, LibraryVersion) {
  char text[40];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(KP_DEV_GetDllVersion(text), 0);
  const char expected[] =
      "2.0.0.2 \xD7\xEE\xBA\xF3\xD0\xDE\xB8\xC4\xC8\xD5\xC6\xDA\xA3\xBA"
      "2015-05-03";
  EXPECT_EQ(std::memcmp(text, expected, 33), 0);
  EXPECT_EQ(text[33], 'x');
}

}  // namespace
