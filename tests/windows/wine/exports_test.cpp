// The DLL as a Windows program finds it at run time: names and ordinals
// lead to one entry, the two alias pairs share theirs, no decorated name is
// exported, and the version text comes out in code page 936.  Every name
// and the bytes each 32-bit export pops are checked in the built file by
// check_exports.py.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "kp_dev.h"

namespace {

FARPROC Find(const char* name) { return GetProcAddress(GetModuleHandleA("KP_DEV.dll"), name); }
FARPROC Find(WORD ordinal) { return Find(MAKEINTRESOURCEA(ordinal)); }

TEST(WindowsExports, NamesOrdinalsAndAliases) {
  ASSERT_NE(GetModuleHandleA("KP_DEV.dll"), nullptr);
  EXPECT_NE(Find(1), nullptr);
  EXPECT_EQ(Find("KP_DEV_GetDllVersion"), Find(1));
  EXPECT_EQ(Find("KP_DEV_OpenDevice"), Find(2));
  EXPECT_EQ(Find("ICCardFindSubStr"), Find(45));
  EXPECT_EQ(Find("KP_DEV_ReadAll_A"), Find(48));
  EXPECT_EQ(Find("KP_DEV_AT88SC102_CWriteData"), Find(102));
  EXPECT_EQ(Find(103), nullptr);
  EXPECT_EQ(Find("KP_DEV_OpenDevice@12"), nullptr);
  EXPECT_EQ(Find("KP_DEV_IC_VerifyPwdEXAT102"), Find("KP_DEV_IC_VerifyPwdEXAT1608"));
  EXPECT_EQ(Find("KP_DEV_Magnetic_CancelAccept"), Find("KP_DEV_Magnetic_CancelWriteTrack"));
  EXPECT_NE(Find(49), Find(50));
}

TEST(WindowsExports, VersionTextThroughThePointerOfItsOrdinal) {
  // "2.0.0.2 " + the date label in code page 936 + "2015-05-03": 32 bytes.
  static const unsigned char kExpected[] = {'2',  '.',  '0',  '.',  '0',  '.',  '2',  ' ',  0xD7, 0xEE, 0xBA,
                                            0xF3, 0xD0, 0xDE, 0xB8, 0xC4, 0xC8, 0xD5, 0xC6, 0xDA, 0xA3, 0xBA,
                                            '2',  '0',  '1',  '5',  '-',  '0',  '5',  '-',  '0',  '3'};
  static_assert(sizeof kExpected == 32, "version text length");
  // Called as a program that binds by ordinal calls it: a callee-pops
  // function through a plain pointer.
  const auto version = reinterpret_cast<int(KP_STDCALL*)(char*)>(reinterpret_cast<void*>(Find(1)));
  ASSERT_NE(version, nullptr);
  char text[40];
  std::memset(text, 0x55, sizeof text);
  ASSERT_EQ(version(text), 0);
  EXPECT_EQ(std::memcmp(text, kExpected, sizeof kExpected), 0);
  EXPECT_EQ(text[32], '\0');
  for (std::size_t i = 33; i < sizeof text; ++i) EXPECT_EQ(text[i], 0x55) << "byte " << i;
}

}  // namespace
