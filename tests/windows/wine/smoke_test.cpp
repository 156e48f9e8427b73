// One pass per card technology through the Windows DLL, with the frames the
// host sent: the library's own tests check each technology in depth; here
// the Windows build of the same code meets the reader over a COM port.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kp_dev.h"
#include "sim_reader.h"

namespace {

using kpwine::CommandFrame;
using kpwine::Text;

class Smoke : public kpwine::SimReaderTest {};

TEST_F(Smoke, MagneticHeadArmedAndSwiped) {
  const char kTrack1[] = "B6222021234567890^KP^25121010";
  const char kTrack2[] = "6222021234567890=25121010000012345";
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(2, PortText(9600).c_str(), &handle), 0);
  EXPECT_EQ(Sent(), "1B2442");
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h()), 0);
  EXPECT_EQ(SentAtLeast(3), "1B425D");
  EXPECT_EQ(Control(std::string("swipe ") + kTrack1 + " " + kTrack2), "read");
  Text one('\0'), two('\0');
  const ULONGLONG deadline = GetTickCount64() + 3000;
  int result;
  while ((result = KP_DEV_Magnetic_ReadTrack(h(), one.chars, two.chars)) == -101 && GetTickCount64() < deadline) {
    Sleep(20);
  }
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(one.chars, kTrack1);
  EXPECT_STREQ(two.chars, kTrack2);
}

TEST_F(Smoke, Sle4442PscWriteAndRead) {
  Control("insert 0 sle4442 psc=123456 data=A2131091 protect=0-3");
  OpenReader(1);
  ASSERT_EQ(KP_DEV_SLE4442_VerifyPwd(h(), 0, "123456"), 0);
  EXPECT_EQ(Sent(), CommandFrame(0x3234, "00 03 123456"));
  ASSERT_EQ(KP_DEV_SLE4442_WriteDataForUser(h(), 0, 0x20, "11223344"), 0);
  EXPECT_EQ(Sent(), CommandFrame(0x3236, "00 2000 0004 11223344"));
  EXPECT_EQ(Control("dump 0 memory 31 6"), "FF11223344FF");
  Text data('\0');
  ASSERT_EQ(KP_DEV_SLE4442_ReadDataForUser(h(), 0, 0, 4, data.chars), 0);
  EXPECT_STREQ(data.chars, "A2131091");
  EXPECT_EQ(Sent(), CommandFrame(0x3235, "00 0000 0004"));
}

TEST_F(Smoke, ContactCpuCardPowerOnApduPowerOff) {
  const char kAtr[] = "3B6B0000804B504445565445535431";
  Control(std::string("insert 0 cpu atr=") + kAtr + " apdu=0084000008:A1A2A3A4A5A6A7A89000");
  OpenReader(1);
  Text atr;
  int atrLen = 15;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr.chars), 0);
  EXPECT_EQ(atrLen, 15);
  EXPECT_STREQ(atr.chars, kAtr);
  // 0xC003, then 0x3222 for seat 0 (data 000A00), byte by byte.
  EXPECT_EQ(Sent(), kpwine::Unspaced("02 30303032 3C303033 3C33 03 02 30303035 33323232 303030 3A3030 313A 03"));
  Text response;
  ASSERT_EQ(KP_DEV_IC_SendApdu(h(), 0, 7, "0084000008", 99, response.chars), 0);
  EXPECT_STREQ(response.chars, "A1A2A3A4A5A6A7A89000");
  ASSERT_EQ(KP_DEV_IC_PowerOff(h(), 0), 0);
  EXPECT_EQ(Sent(), CommandFrame(0x3226, "00 0084000008") + CommandFrame(0x3223, "00"));
}

TEST_F(Smoke, ContactlessSectorCardActivateAuthenticateWriteRead) {
  Control("insert 255 sector uid=A1B2C3D4 type=08");
  OpenReader(1);
  int type = -1, uidLen = 0, atsLen = 9;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  EXPECT_EQ(type, 8);
  EXPECT_STREQ(uid.chars, "A1B2C3D4");
  EXPECT_EQ(Sent(), CommandFrame(0x3241, "0001") + CommandFrame(0x3241, "0001"));
  ASSERT_EQ(KP_DEV_IC_ConnectlessCertifySector(h(), 1, 0x60, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(Sent(), CommandFrame(0x3242, "01 60 FFFFFFFFFFFF"));
  // Sector 1 block 1 is block 5; a short text is padded with '0'.
  ASSERT_EQ(KP_DEV_IC_ConnectlessWriteBlock(h(), 1, 1, "0102"), 0);
  EXPECT_EQ(Sent(), CommandFrame(0x3244, "05 0102" + std::string(28, '0')));
  Text data;
  int dataLen = 32;
  ASSERT_EQ(KP_DEV_IC_ConnectlessReadBlock(h(), 1, 1, &dataLen, data.chars), 0);
  EXPECT_EQ(dataLen, 16);
  EXPECT_STREQ(data.chars, ("0102" + std::string(28, '0')).c_str());
}

}  // namespace
