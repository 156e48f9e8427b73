// The DLL as a Windows program sees it at run time: every export found by
// name and by ordinal, the alias pairs at one address, the version text
// written exactly, and unopened handles answered without touching outputs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include "kp_dev.h"

namespace {

struct Export {
  const char* name;
  WORD ordinal;
};

// Every export at its ordinal.
constexpr Export kExports[] = {
    {"KP_DEV_GetDllVersion", 1},
    {"KP_DEV_OpenDevice", 2},
    {"KP_DEV_CloseDevice", 3},
    {"KP_DEV_SetDeviceModule", 4},
    {"KP_DEV_IC_SoftReset", 5},
    {"KP_DEV_IC_GetStatus", 6},
    {"KP_DEV_IC_PowerOn", 7},
    {"KP_DEV_IC_PowerOff", 8},
    {"KP_DEV_IC_ConnectlessActive", 9},
    {"KP_DEV_IC_ConnectlessHalt", 10},
    {"KP_DEV_IC_SendApdu", 11},
    {"KP_DEV_IC_SetCardType", 12},
    {"KP_DEV_IC_GetCardType", 13},
    {"KP_DEV_IC_InitializeKey", 14},
    {"KP_DEV_IC_VerifyPwd", 15},
    {"KP_DEV_IC_ReadStoreData", 16},
    {"KP_DEV_IC_WriteStoreData", 17},
    {"KP_DEV_IC_ConnectlessActiveStoreCard", 18},
    {"KP_DEV_IC_ConnectlessCertifySector", 19},
    {"KP_DEV_IC_ConnectlessReadBlock", 20},
    {"KP_DEV_IC_ConnectlessWriteBlock", 21},
    {"KP_DEV_IC_ConnectlessReadValueBlock", 22},
    {"KP_DEV_IC_ConnectlessWriteValueBlock", 23},
    {"KP_DEV_IC_ConnectlessIncrease", 24},
    {"KP_DEV_IC_ConnectlessDecrease", 25},
    {"KP_DEV_IC_ConnectlessWriteKey", 26},
    {"KP_DEV_Magnetic_Reset", 27},
    {"KP_DEV_Magnetic_Accept", 28},
    {"KP_DEV_Magnetic_CancelAccept", 29},
    {"KP_DEV_Magnetic_ReadTrack", 30},
    {"KP_DEV_Magnetic_WaitForWriteTrack", 31},
    {"KP_DEV_Magnetic_ConfirmWriteTrack", 32},
    {"KP_DEV_Magnetic_CancelWriteTrack", 33},
    {"KP_AscToBcd", 34},
    {"KP_BcdToAsc", 35},
    {"KP_DEV_CheckIsOpen", 36},
    {"KP_DEV_ReadFinanceICTrack2", 37},
    {"KP_DEV_ReadAll", 38},
    {"KP_DEV_CancelReadAll", 39},
    {"KP_DEV_ReadICCardInfo", 40},
    {"KP_DEV_GetICTraceInfo", 41},
    {"KP_DEV_IC_Voice", 42},
    {"KP_DEV_IC_SendApdu_A", 43},
    {"KP_DEV_ReadICCardGPOData", 44},
    {"ICCardFindSubStr", 45},
    {"KP_DEV_AutoOpenDevice", 46},
    {"KP_DEV_IC_SetBaudRate", 47},
    {"KP_DEV_ReadAll_A", 48},
    {"KP_DEV_IC_VerifyPwdEXAT102", 49},
    {"KP_DEV_IC_VerifyPwdEXAT1604", 50},
    {"KP_DEV_IC_VerifyPwdEXAT1608", 51},
    {"KP_DEV_IC_ReadStoreDataEXAT1608", 52},
    {"KP_DEV_IC_WriteStoreDataEXAT1608", 53},
    {"KP_DEV_SLE4428_VerifyPwd", 54},
    {"KP_DEV_SLE4428_ModifyPwd", 55},
    {"KP_DEV_SLE4428_ReadERROR", 56},
    {"KP_DEV_SLE4428_ReadData", 57},
    {"KP_DEV_SLE4428_WriteData", 58},
    {"KP_DEV_SLE4442_VerifyPwd", 59},
    {"KP_DEV_SLE4442_ModifyPwd", 60},
    {"KP_DEV_SLE4442_ReadERROR", 61},
    {"KP_DEV_SLE4442_ReadDataForUser", 62},
    {"KP_DEV_SLE4442_WriteDataForUser", 63},
    {"KP_DEV_SLE4442_ReadDataForProtection", 64},
    {"KP_DEV_SLE4442_WriteDataForProtection", 65},
    {"KP_DEV_AT24CXX_ReadData", 66},
    {"KP_DEV_AT24CXX_WriteData", 67},
    {"KP_DEV_GetDeviceVersion", 68},
    {"KP_DEV_AT88SC102_Fuse", 69},
    {"KP_DEV_AT88SC102_VerifyPwd", 70},
    {"KP_DEV_AT88SC102_ModifyPwd", 71},
    {"KP_DEV_AT88SC102_ReadERROR", 72},
    {"KP_DEV_AT88SC102_ReadData", 73},
    {"KP_DEV_AT88SC102_WriteData", 74},
    {"KP_DEV_AT88SC1604_Fuse", 75},
    {"KP_DEV_AT88SC1604_VerifyPwd", 76},
    {"KP_DEV_AT88SC1604_ModifyPwd", 77},
    {"KP_DEV_AT88SC1604_ReadERROR", 78},
    {"KP_DEV_AT88SC1604_ReadData", 79},
    {"KP_DEV_AT88SC1604_WriteData", 80},
    {"KP_DEV_AT88SC1608_Fuse", 81},
    {"KP_DEV_AT88SC1608_VerifyPwd", 82},
    {"KP_DEV_AT88SC1608_ModifyPwd", 83},
    {"KP_DEV_AT88SC1608_ReadERROR", 84},
    {"KP_DEV_AT88SC1608_ReadData", 85},
    {"KP_DEV_AT88SC1608_WriteData", 86},
    {"KP_DEV_AT45DB041_ReadData", 87},
    {"KP_DEV_AT45DB041_WriteData", 88},
    {"KP_DEV_ID_FindID", 89},
    {"KP_DEV_ID_GetData", 90},
    {"KP_DEV_ID_Read", 91},
    {"KP_DEV_SetBaudRate", 92},
    {"KP_DEV_SLE4428_ReadPwd", 93},
    {"KP_DEV_SLE4442_ReadPwd", 94},
    {"KP_DEV_AT88SC102_ReadPwd", 95},
    {"KP_DEV_AT88SC1604_ReadPwd", 96},
    {"KP_DEV_AT88SC1608_ReadPwd", 97},
    {"KP_DEV_AT88SC1608_InitAuthenticationCard", 98},
    {"KP_DEV_AT88SC1608_AuthenticationCard", 99},
    {"KP_DEV_AT88SC1608_ReadFuse", 100},
    {"KP_DEV_AT88SC102_ClearData", 101},
    {"KP_DEV_AT88SC102_CWriteData", 102},
};

HMODULE Library() {
  HMODULE module = GetModuleHandleA("KP_DEV.dll");
  return module != nullptr ? module : LoadLibraryA("KP_DEV.dll");
}

FARPROC ByName(const char* name) { return GetProcAddress(Library(), name); }

TEST(WindowsExports, EveryNameResolvesAtItsOrdinal) {
  ASSERT_NE(Library(), nullptr);
  ASSERT_EQ(std::size(kExports), 102u);
  for (const Export& e : kExports) {
    const FARPROC named = ByName(e.name);
    const FARPROC numbered = GetProcAddress(Library(), MAKEINTRESOURCEA(e.ordinal));
    EXPECT_NE(named, nullptr) << e.name;
    EXPECT_EQ(named, numbered) << e.name << " is not at ordinal " << e.ordinal;
  }
  // Nothing past the last ordinal, and no decorated name.
  EXPECT_EQ(GetProcAddress(Library(), MAKEINTRESOURCEA(103)), nullptr);
  EXPECT_EQ(ByName("KP_DEV_OpenDevice@12"), nullptr);
}

TEST(WindowsExports, AliasPairsShareOneEntryAndNoOtherNamesDo) {
  EXPECT_EQ(ByName("KP_DEV_IC_VerifyPwdEXAT102"), ByName("KP_DEV_IC_VerifyPwdEXAT1608"));
  EXPECT_EQ(ByName("KP_DEV_Magnetic_CancelAccept"), ByName("KP_DEV_Magnetic_CancelWriteTrack"));
  std::set<FARPROC> entries;
  for (const Export& e : kExports) entries.insert(ByName(e.name));
  EXPECT_EQ(entries.size(), 100u);
}

TEST(WindowsExports, VersionTextIsWrittenExactly) {
  // "2.0.0.2 " + the date label in code page 936 + "2015-05-03": 32 bytes.
  static const unsigned char kExpected[] = {'2',  '.',  '0',  '.',  '0',  '.',  '2',  ' ',  0xD7, 0xEE, 0xBA,
                                            0xF3, 0xD0, 0xDE, 0xB8, 0xC4, 0xC8, 0xD5, 0xC6, 0xDA, 0xA3, 0xBA,
                                            '2',  '0',  '1',  '5',  '-',  '0',  '5',  '-',  '0',  '3'};
  static_assert(sizeof kExpected == 32, "version text length");
  char text[40];
  std::memset(text, 0x55, sizeof text);
  ASSERT_EQ(KP_DEV_GetDllVersion(text), 0);
  EXPECT_EQ(std::memcmp(text, kExpected, sizeof kExpected), 0);
  EXPECT_EQ(text[32], '\0');
  for (std::size_t i = 33; i < sizeof text; ++i) EXPECT_EQ(text[i], 0x55) << "byte " << i;
}

TEST(WindowsExports, UnopenedHandleLeavesOutputsUntouched) {
  int module = 77;
  EXPECT_EQ(KP_DEV_CheckIsOpen(29, &module), -10);
  EXPECT_EQ(module, 77);
  int atrLen = 64;
  char atr[64];
  std::memset(atr, 'x', sizeof atr);
  EXPECT_EQ(KP_DEV_IC_PowerOn(29, 0, &atrLen, atr), 0);
  EXPECT_EQ(atrLen, 64);
  EXPECT_EQ(atr[0], 'x');
  EXPECT_EQ(KP_DEV_CloseDevice(29), 0);
}

}  // namespace
