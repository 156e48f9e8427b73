// Every export with every extreme integer argument (INT_MIN, 0, INT_MAX
// and their neighbours) in every integer parameter at once, against a
// handle that is not open and against open virtual readers of each family.
// Nothing is checked but that each call returns: the sanitizer build turns
// any undefined behaviour (signed overflow, a write past a buffer) into a
// failure.  The table follows include/kp_dev.h, one row per export.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::SimReader;

namespace {

constexpr int kValues[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX};

// The arguments of one call: the value under test for every integer, a
// handle, and fresh buffers for every pointer.
struct Args {
  int v = 0;
  int handle = 0;
  int freePort = 0;  // a COM number with no device behind it
  std::string portSpec;
  const char* hex = "FFFFFFFFFFFF";
  std::vector<std::array<char, 8192>> outs;
  std::vector<int> ints;
  std::vector<float> floats;
  std::array<std::array<char, 2048>, 9> fieldText{};
  char* fields[9];

  Args(int value, int h, int port) : v(value), handle(h), freePort(port) {
    portSpec = "COM" + std::to_string(port) + ":9600:N:8:1";
    outs.reserve(8);
    ints.reserve(8);
    floats.reserve(8);
    for (std::size_t i = 0; i < fieldText.size(); ++i) fields[i] = fieldText[i].data();
  }
  char* Out() {
    outs.emplace_back();
    outs.back().fill(0);
    return outs.back().data();
  }
  // In-out counts start as the value, but never above what the buffers
  // behind them hold.
  int* Int() {
    ints.push_back(std::min(v, 1024));
    return &ints.back();
  }
  float* Float() {
    floats.push_back(static_cast<float>(v));
    return &floats.back();
  }
};

struct Export {
  const char* name;
  int (*call)(Args&);
};

const Export kExports[] = {
    {"KP_DEV_GetDllVersion", [](Args& a) { return KP_DEV_GetDllVersion(a.Out()); }},
    {"KP_DEV_OpenDevice", [](Args& a) { return KP_DEV_OpenDevice(a.v, a.portSpec.c_str(), a.Int()); }},
    {"KP_DEV_CloseDevice", [](Args& a) { return KP_DEV_CloseDevice(a.handle); }},
    {"KP_DEV_SetDeviceModule", [](Args& a) { return KP_DEV_SetDeviceModule(a.handle, a.v); }},
    {"KP_DEV_IC_SoftReset", [](Args& a) { return KP_DEV_IC_SoftReset(a.handle, a.v); }},
    {"KP_DEV_IC_GetStatus", [](Args& a) { return KP_DEV_IC_GetStatus(a.handle, a.v, a.Int()); }},
    {"KP_DEV_IC_PowerOn", [](Args& a) { return KP_DEV_IC_PowerOn(a.handle, a.v, a.Int(), a.Out()); }},
    {"KP_DEV_IC_PowerOff", [](Args& a) { return KP_DEV_IC_PowerOff(a.handle, a.v); }},
    {"KP_DEV_IC_ConnectlessActive",
     [](Args& a) { return KP_DEV_IC_ConnectlessActive(a.handle, a.Int(), a.Int(), a.Out(), a.Int(), a.Out()); }},
    {"KP_DEV_IC_ConnectlessHalt", [](Args& a) { return KP_DEV_IC_ConnectlessHalt(a.handle); }},
    {"KP_DEV_IC_SendApdu", [](Args& a) { return KP_DEV_IC_SendApdu(a.handle, a.v, a.v, a.hex, a.v, a.Out()); }},
    {"KP_DEV_IC_SetCardType", [](Args& a) { return KP_DEV_IC_SetCardType(a.handle, a.v, a.v); }},
    {"KP_DEV_IC_GetCardType", [](Args& a) { return KP_DEV_IC_GetCardType(a.handle, a.v, a.Int()); }},
    {"KP_DEV_IC_InitializeKey", [](Args& a) { return KP_DEV_IC_InitializeKey(a.handle, a.v, a.hex); }},
    {"KP_DEV_IC_VerifyPwd", [](Args& a) { return KP_DEV_IC_VerifyPwd(a.handle, a.v, a.hex); }},
    {"KP_DEV_IC_ReadStoreData", [](Args& a) { return KP_DEV_IC_ReadStoreData(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_IC_WriteStoreData", [](Args& a) { return KP_DEV_IC_WriteStoreData(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_ConnectlessActiveStoreCard",
     [](Args& a) {
       return KP_DEV_IC_ConnectlessActiveStoreCard(a.handle, a.Int(), a.Int(), a.Out(), a.Int(), a.Out());
     }},
    {"KP_DEV_IC_ConnectlessCertifySector",
     [](Args& a) { return KP_DEV_IC_ConnectlessCertifySector(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_ConnectlessReadBlock",
     [](Args& a) { return KP_DEV_IC_ConnectlessReadBlock(a.handle, a.v, a.v, a.Int(), a.Out()); }},
    {"KP_DEV_IC_ConnectlessWriteBlock",
     [](Args& a) { return KP_DEV_IC_ConnectlessWriteBlock(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_ConnectlessReadValueBlock",
     [](Args& a) { return KP_DEV_IC_ConnectlessReadValueBlock(a.handle, a.v, a.v, a.Float()); }},
    {"KP_DEV_IC_ConnectlessWriteValueBlock",
     [](Args& a) { return KP_DEV_IC_ConnectlessWriteValueBlock(a.handle, a.v, a.v, static_cast<float>(a.v)); }},
    {"KP_DEV_IC_ConnectlessIncrease",
     [](Args& a) { return KP_DEV_IC_ConnectlessIncrease(a.handle, a.v, a.v, static_cast<float>(a.v)); }},
    {"KP_DEV_IC_ConnectlessDecrease",
     [](Args& a) { return KP_DEV_IC_ConnectlessDecrease(a.handle, a.v, a.v, static_cast<float>(a.v)); }},
    {"KP_DEV_IC_ConnectlessWriteKey", [](Args& a) { return KP_DEV_IC_ConnectlessWriteKey(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_Magnetic_Reset", [](Args& a) { return KP_DEV_Magnetic_Reset(a.handle); }},
    {"KP_DEV_Magnetic_Accept", [](Args& a) { return KP_DEV_Magnetic_Accept(a.handle); }},
    {"KP_DEV_Magnetic_CancelAccept", [](Args& a) { return KP_DEV_Magnetic_CancelAccept(a.handle); }},
    {"KP_DEV_Magnetic_ReadTrack", [](Args& a) { return KP_DEV_Magnetic_ReadTrack(a.handle, a.Out(), a.Out()); }},
    {"KP_DEV_Magnetic_WaitForWriteTrack",
     [](Args& a) { return KP_DEV_Magnetic_WaitForWriteTrack(a.handle, a.hex, a.hex); }},
    {"KP_DEV_Magnetic_ConfirmWriteTrack", [](Args& a) { return KP_DEV_Magnetic_ConfirmWriteTrack(a.handle); }},
    {"KP_DEV_Magnetic_CancelWriteTrack", [](Args& a) { return KP_DEV_Magnetic_CancelWriteTrack(a.handle); }},
    {"KP_AscToBcd", [](Args& a) { return KP_AscToBcd(a.hex, a.Out()); }},
    {"KP_BcdToAsc", [](Args& a) { return KP_BcdToAsc(a.hex, a.Out()); }},
    {"KP_DEV_CheckIsOpen", [](Args& a) { return KP_DEV_CheckIsOpen(a.handle, a.Int()); }},
    {"KP_DEV_ReadFinanceICTrack2", [](Args& a) { return KP_DEV_ReadFinanceICTrack2(a.handle, a.v, a.v, a.Out()); }},
    {"KP_DEV_ReadAll",
     [](Args& a) {
       return KP_DEV_ReadAll(a.freePort, a.v, static_cast<unsigned>(a.v), a.v, a.v, a.v, a.v, a.hex, a.v, a.v, a.v,
                             a.Int(), a.Out());
     }},
    {"KP_DEV_CancelReadAll", [](Args&) { return KP_DEV_CancelReadAll(); }},
    {"KP_DEV_ReadICCardInfo",
     [](Args& a) { return KP_DEV_ReadICCardInfo(a.handle, a.v, a.v, a.Out(), a.Out(), a.Out()); }},
    {"KP_DEV_GetICTraceInfo",
     [](Args& a) { return KP_DEV_GetICTraceInfo(a.handle, a.v, a.v, a.hex, a.hex, a.hex, a.Out()); }},
    {"KP_DEV_IC_Voice", [](Args& a) { return KP_DEV_IC_Voice(a.handle, a.v); }},
    {"KP_DEV_IC_SendApdu_A", [](Args& a) { return KP_DEV_IC_SendApdu_A(a.handle, a.v, a.v, a.hex, a.v, a.Out()); }},
    {"KP_DEV_ReadICCardGPOData", [](Args& a) { return KP_DEV_ReadICCardGPOData(a.handle, a.v, a.v, a.Out(), a.v); }},
    {"ICCardFindSubStr", [](Args& a) { return ICCardFindSubStr(a.hex, a.hex, a.Out()); }},
    {"KP_DEV_AutoOpenDevice", [](Args& a) { return KP_DEV_AutoOpenDevice(a.Int(), a.Int(), a.Int(), a.v); }},
    {"KP_DEV_IC_SetBaudRate", [](Args& a) { return KP_DEV_IC_SetBaudRate(a.handle, a.v, a.v); }},
    {"KP_DEV_ReadAll_A",
     [](Args& a) {
       return KP_DEV_ReadAll_A(a.freePort, a.v, static_cast<unsigned>(a.v), a.v, a.v, a.v, a.v, a.hex, a.v, a.v, a.v,
                               a.Int(), a.Out());
     }},
    {"KP_DEV_IC_VerifyPwdEXAT102", [](Args& a) { return KP_DEV_IC_VerifyPwdEXAT102(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_VerifyPwdEXAT1604", [](Args& a) { return KP_DEV_IC_VerifyPwdEXAT1604(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_VerifyPwdEXAT1608", [](Args& a) { return KP_DEV_IC_VerifyPwdEXAT1608(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_IC_ReadStoreDataEXAT1608",
     [](Args& a) { return KP_DEV_IC_ReadStoreDataEXAT1608(a.handle, a.v, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_IC_WriteStoreDataEXAT1608",
     [](Args& a) { return KP_DEV_IC_WriteStoreDataEXAT1608(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_SLE4428_VerifyPwd", [](Args& a) { return KP_DEV_SLE4428_VerifyPwd(a.handle, a.v, a.hex); }},
    {"KP_DEV_SLE4428_ModifyPwd", [](Args& a) { return KP_DEV_SLE4428_ModifyPwd(a.handle, a.v, a.hex); }},
    {"KP_DEV_SLE4428_ReadERROR", [](Args& a) { return KP_DEV_SLE4428_ReadERROR(a.handle, a.v, a.Int()); }},
    {"KP_DEV_SLE4428_ReadData",
     [](Args& a) { return KP_DEV_SLE4428_ReadData(a.handle, a.v, a.v, a.v, a.v, a.Out(), a.Out()); }},
    {"KP_DEV_SLE4428_WriteData", [](Args& a) { return KP_DEV_SLE4428_WriteData(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_SLE4442_VerifyPwd", [](Args& a) { return KP_DEV_SLE4442_VerifyPwd(a.handle, a.v, a.hex); }},
    {"KP_DEV_SLE4442_ModifyPwd", [](Args& a) { return KP_DEV_SLE4442_ModifyPwd(a.handle, a.v, a.hex); }},
    {"KP_DEV_SLE4442_ReadERROR", [](Args& a) { return KP_DEV_SLE4442_ReadERROR(a.handle, a.v, a.Int()); }},
    {"KP_DEV_SLE4442_ReadDataForUser",
     [](Args& a) { return KP_DEV_SLE4442_ReadDataForUser(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_SLE4442_WriteDataForUser",
     [](Args& a) { return KP_DEV_SLE4442_WriteDataForUser(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_SLE4442_ReadDataForProtection",
     [](Args& a) { return KP_DEV_SLE4442_ReadDataForProtection(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_SLE4442_WriteDataForProtection",
     [](Args& a) { return KP_DEV_SLE4442_WriteDataForProtection(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT24CXX_ReadData", [](Args& a) { return KP_DEV_AT24CXX_ReadData(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT24CXX_WriteData", [](Args& a) { return KP_DEV_AT24CXX_WriteData(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_GetDeviceVersion", [](Args& a) { return KP_DEV_GetDeviceVersion(a.handle, a.Out()); }},
    {"KP_DEV_AT88SC102_Fuse", [](Args& a) { return KP_DEV_AT88SC102_Fuse(a.handle, a.v); }},
    {"KP_DEV_AT88SC102_VerifyPwd", [](Args& a) { return KP_DEV_AT88SC102_VerifyPwd(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC102_ModifyPwd", [](Args& a) { return KP_DEV_AT88SC102_ModifyPwd(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC102_ReadERROR", [](Args& a) { return KP_DEV_AT88SC102_ReadERROR(a.handle, a.v, a.v, a.Int()); }},
    {"KP_DEV_AT88SC102_ReadData", [](Args& a) { return KP_DEV_AT88SC102_ReadData(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC102_WriteData", [](Args& a) { return KP_DEV_AT88SC102_WriteData(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1604_Fuse", [](Args& a) { return KP_DEV_AT88SC1604_Fuse(a.handle, a.v); }},
    {"KP_DEV_AT88SC1604_VerifyPwd", [](Args& a) { return KP_DEV_AT88SC1604_VerifyPwd(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1604_ModifyPwd", [](Args& a) { return KP_DEV_AT88SC1604_ModifyPwd(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1604_ReadERROR", [](Args& a) { return KP_DEV_AT88SC1604_ReadERROR(a.handle, a.v, a.v, a.Int()); }},
    {"KP_DEV_AT88SC1604_ReadData",
     [](Args& a) { return KP_DEV_AT88SC1604_ReadData(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC1604_WriteData", [](Args& a) { return KP_DEV_AT88SC1604_WriteData(a.handle, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1608_Fuse", [](Args& a) { return KP_DEV_AT88SC1608_Fuse(a.handle, a.v); }},
    {"KP_DEV_AT88SC1608_VerifyPwd",
     [](Args& a) { return KP_DEV_AT88SC1608_VerifyPwd(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1608_ModifyPwd",
     [](Args& a) { return KP_DEV_AT88SC1608_ModifyPwd(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_AT88SC1608_ReadERROR",
     [](Args& a) { return KP_DEV_AT88SC1608_ReadERROR(a.handle, a.v, a.v, a.v, a.Int()); }},
    {"KP_DEV_AT88SC1608_ReadData",
     [](Args& a) { return KP_DEV_AT88SC1608_ReadData(a.handle, a.v, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC1608_WriteData",
     [](Args& a) { return KP_DEV_AT88SC1608_WriteData(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_AT45DB041_ReadData",
     [](Args& a) { return KP_DEV_AT45DB041_ReadData(a.handle, a.v, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT45DB041_WriteData", [](Args& a) { return KP_DEV_AT45DB041_WriteData(a.handle, a.v, a.v, a.v, a.hex); }},
    {"KP_DEV_ID_FindID", [](Args& a) { return KP_DEV_ID_FindID(a.handle); }},
    {"KP_DEV_ID_GetData", [](Args& a) { return KP_DEV_ID_GetData(a.handle, a.v, a.Out()); }},
    {"KP_DEV_ID_Read", [](Args& a) { return KP_DEV_ID_Read(a.handle, a.v, a.fields); }},
    {"KP_DEV_SetBaudRate", [](Args& a) { return KP_DEV_SetBaudRate(a.handle, a.v); }},
    {"KP_DEV_SLE4428_ReadPwd", [](Args& a) { return KP_DEV_SLE4428_ReadPwd(a.handle, a.v, a.Out()); }},
    {"KP_DEV_SLE4442_ReadPwd", [](Args& a) { return KP_DEV_SLE4442_ReadPwd(a.handle, a.v, a.Out()); }},
    {"KP_DEV_AT88SC102_ReadPwd", [](Args& a) { return KP_DEV_AT88SC102_ReadPwd(a.handle, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC1604_ReadPwd", [](Args& a) { return KP_DEV_AT88SC1604_ReadPwd(a.handle, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC1608_ReadPwd", [](Args& a) { return KP_DEV_AT88SC1608_ReadPwd(a.handle, a.v, a.v, a.v, a.Out()); }},
    {"KP_DEV_AT88SC1608_InitAuthenticationCard",
     [](Args& a) { return KP_DEV_AT88SC1608_InitAuthenticationCard(a.handle, a.v, a.hex); }},
    {"KP_DEV_AT88SC1608_AuthenticationCard",
     [](Args& a) { return KP_DEV_AT88SC1608_AuthenticationCard(a.handle, a.v, a.hex); }},
    {"KP_DEV_AT88SC1608_ReadFuse", [](Args& a) { return KP_DEV_AT88SC1608_ReadFuse(a.handle, a.v, a.Int()); }},
    {"KP_DEV_AT88SC102_ClearData", [](Args& a) { return KP_DEV_AT88SC102_ClearData(a.handle, a.v, a.v, a.v); }},
    {"KP_DEV_AT88SC102_CWriteData", [](Args& a) { return KP_DEV_AT88SC102_CWriteData(a.handle, a.v, a.v, a.hex); }},
};

// Calls every export but those named in skip, with each value.
void Sweep(int handle, int freePort, const std::vector<std::string>& skip) {
  for (const Export& e : kExports) {
    if (std::find(skip.begin(), skip.end(), e.name) != skip.end()) continue;
    for (int v : kValues) {
      SCOPED_TRACE(std::string(e.name) + " " + std::to_string(v));
      Args a(v, handle, freePort);
      (void)e.call(a);
    }
  }
}

// A COM number kept free for the test: its variable names no device.
struct FreePort {
  int com = kptest::ReserveComNumber();
  std::string variable = "KPDEV_COM" + std::to_string(com);
  FreePort() { setenv(variable.c_str(), "/nonexistent/kpdev-free-port", 1); }
  ~FreePort() {
    unsetenv(variable.c_str());
    kptest::ReleaseComNumber(com);
  }
};

TEST(ArgumentSweep, HandleNotOpen) {
  FreePort free;
  Sweep(free.com, free.com, {});
  Sweep(0, free.com, {});
}

TEST(ArgumentSweep, OpenReaders) {
  struct Reader {
    const char* family;
    int type;
  };
  for (const Reader& r : {Reader{"t1", 1}, Reader{"t1", 2}, Reader{"t61", 61}, Reader{"t0", 0}}) {
    SCOPED_TRACE(r.type);
    FreePort free;
    SimReader sim(r.family);
    sim.control().Ok("insert 0 cpu");
    // An identity read waits for a card as long as its time limit says.
    if (r.type == 0) sim.control().Ok("insert 1 id");
    ASSERT_EQ(sim.Open(r.type, 9600), 0);
    // Automatic open would take the reader's port over; closing comes last.
    Sweep(sim.handle(), free.com, {"KP_DEV_AutoOpenDevice", "KP_DEV_CloseDevice"});
    EXPECT_EQ(sim.Close(), 0);
  }
}

}  // namespace
