// Operations that a reader's class or open module does not offer: -20
// before anything goes on the line (range and text checks come after), and
// every output left as it was.  The magnetic module (type 2) takes no card
// command; only the magnetic module and type 61 drive the head; only the
// type-0 reader has the identity module and the AT45DB041.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "kp_dev.h"
#include "wire/fixture.h"

namespace {

char g_text[16];
char g_text2[16];
int g_int;
int g_int2;
float g_float;

struct Refusal {
  std::vector<int> types;
  int (*call)(int h);
};

const Refusal kRefusals[] = {
    // contact CPU cards
    {{2}, [](int h) { return KP_DEV_IC_GetStatus(h, 0, &g_int); }},
    {{2}, [](int h) { return KP_DEV_IC_SetBaudRate(h, 0, 9600); }},
    {{2}, [](int h) { return KP_DEV_IC_PowerOn(h, 0, &g_int, g_text); }},
    {{2}, [](int h) { return KP_DEV_IC_PowerOff(h, 0); }},
    {{2}, [](int h) { return KP_DEV_IC_SendApdu(h, 0, 0, "0084000008", 0, g_text); }},
    {{2}, [](int h) { return KP_DEV_IC_SetCardType(h, 0, 1); }},
    {{2}, [](int h) { return KP_DEV_IC_GetCardType(h, 0, &g_int); }},
    // contactless cards
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessActive(h, &g_int, &g_int2, g_text, &g_int2, g_text2); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessActiveStoreCard(h, &g_int, &g_int2, g_text, &g_int2, g_text2); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessHalt(h); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessCertifySector(h, 1, 0x60, "FFFFFFFFFFFF"); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessReadBlock(h, 1, 0, &g_int, g_text); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessWriteBlock(h, 1, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessReadValueBlock(h, 1, 0, &g_float); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessWriteValueBlock(h, 1, 0, 1.0f); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessIncrease(h, 1, 0, 1.0f); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessDecrease(h, 1, 0, 1.0f); }},
    {{2}, [](int h) { return KP_DEV_IC_ConnectlessWriteKey(h, 1, 0x60, "FFFFFFFFFFFF"); }},
    // store cards, lengths out of range included
    {{2}, [](int h) { return KP_DEV_IC_ReadStoreData(h, 0, 0, 300, g_text); }},
    {{2}, [](int h) { return KP_DEV_IC_ReadStoreDataEXAT1608(h, 0, 0, 0, 4, g_text); }},
    {{2}, [](int h) { return KP_DEV_IC_WriteStoreData(h, 0, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_WriteStoreDataEXAT1608(h, 0, 0, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_InitializeKey(h, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_VerifyPwd(h, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_VerifyPwdEXAT1604(h, 0, 1, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_VerifyPwdEXAT1608(h, 0, 1, "00"); }},
    {{2}, [](int h) { return KP_DEV_IC_VerifyPwdEXAT102(h, 0, 1, "00"); }},
    // SLE4428 and SLE4442
    {{2}, [](int h) { return KP_DEV_SLE4428_VerifyPwd(h, 0, "FFFF"); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_ModifyPwd(h, 0, "FFFF"); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_ReadERROR(h, 0, &g_int); }},
    {{2}, [](int h) { return KP_DEV_SLE4428_ReadData(h, 0, 0, 2000, 4, g_text, g_text2); }},
    {{2}, [](int h) { return KP_DEV_SLE4428_WriteData(h, 0, 0, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_ReadDataForUser(h, 0, 300, 4, g_text); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_WriteDataForUser(h, 0, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_ReadDataForProtection(h, 0, 0, 4, g_text); }},
    {{2}, [](int h) { return KP_DEV_SLE4442_WriteDataForProtection(h, 0, 0, "00"); }},
    // AT88SC102, AT88SC1604, AT88SC1608
    {{2}, [](int h) { return KP_DEV_AT88SC102_Fuse(h, 0); }},
    {{2}, [](int h) { return KP_DEV_AT88SC1604_VerifyPwd(h, 0, 0, "F0F0"); }},
    {{2}, [](int h) { return KP_DEV_AT88SC102_ModifyPwd(h, 0, 0, "F0F0"); }},
    {{2}, [](int h) { return KP_DEV_AT88SC1608_ReadERROR(h, 0, 0, 0, &g_int); }},
    {{2}, [](int h) { return KP_DEV_AT88SC1604_ReadData(h, 0, 0, 2000, g_text); }},
    {{2}, [](int h) { return KP_DEV_AT88SC1608_WriteData(h, 0, 0, 0, "00"); }},
    {{2}, [](int h) { return KP_DEV_AT88SC102_WriteData(h, 0, 0, "00"); }},
    // AT24Cxx and AT45DB041
    {{2}, [](int h) { return KP_DEV_AT24CXX_ReadData(h, 0, 0, 2000, g_text); }},
    {{2}, [](int h) { return KP_DEV_AT24CXX_WriteData(h, 0, 0, "00"); }},
    {{5, 61, 2}, [](int h) { return KP_DEV_AT45DB041_ReadData(h, 0, 0, 0, 4, g_text); }},
    {{5, 61, 2}, [](int h) { return KP_DEV_AT45DB041_WriteData(h, 0, 0, 0, "00"); }},
    // the magnetic head
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_Reset(h); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_Accept(h); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_CancelAccept(h); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_ReadTrack(h, g_text, g_text2); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_WaitForWriteTrack(h, "123", ""); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_WaitForWriteTrack(h, "", "456"); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_WaitForWriteTrack(h, "123", "456"); }},
    {{1, 0}, [](int h) { return KP_DEV_Magnetic_ConfirmWriteTrack(h); }},
    // the identity module
    {{1, 61}, [](int h) { return KP_DEV_ID_FindID(h); }},
    {{1, 61}, [](int h) { return KP_DEV_ID_GetData(h, 1, g_text); }},
    {{1, 61},
     [](int h) {
       char* fields[9] = {g_text, g_text, g_text, g_text, g_text, g_text, g_text, g_text, g_text};
       return KP_DEV_ID_Read(h, 1000, fields);
     }},
};

class RefusalTest : public kptest::ReaderTest {
 protected:
  RefusalTest() : ReaderTest(27) {}
};

TEST_F(RefusalTest, NothingSentAndNothingWritten) {
  for (int type : {2, 1, 0, 61, 5}) {
    Open(type);
    for (std::size_t i = 0; i < sizeof kRefusals / sizeof kRefusals[0]; ++i) {
      const Refusal& r = kRefusals[i];
      if (std::find(r.types.begin(), r.types.end(), type) == r.types.end()) continue;
      std::strcpy(g_text, "keep");
      std::strcpy(g_text2, "keep");
      g_int = g_int2 = 7;
      g_float = 2.5f;
      EXPECT_EQ(r.call(h_), -20) << "type " << type << ", row " << i;
      EXPECT_STREQ(g_text, "keep");
      EXPECT_STREQ(g_text2, "keep");
      EXPECT_EQ(g_int + g_int2, 14);
      EXPECT_EQ(g_float, 2.5f);
    }
    // Raw sequences have no end marker: give a stray one time to arrive.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_TRUE(dev_.Received().empty()) << "type " << type;
  }
}

}  // namespace
