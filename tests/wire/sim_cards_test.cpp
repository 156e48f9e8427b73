// The library's card operations against the card models of the virtual
// reader, one case per kind of card: the chips take what each reader class
// sends, and the caller's buffers and the chips end up holding what they
// should.  (The frames themselves are the scripted device's to check; the
// rules the library never reaches are the virtual reader's own tests'.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

namespace {

// Result codes of the device status words the chips answer with.
constexpr int kOutOfRange = -319;     // 2004
constexpr int kWrongPassword = -312;  // 3005
constexpr int kLocked = -313;         // 3006
constexpr int kProtected = -324;      // 3007
constexpr int kNeedPassword = -316;   // 3008
constexpr int kAuthFailed = -328;     // 6003

// A virtual reader with cards in its seats ("SEAT KIND ARGS"), opened as
// `type` through the exports.
class SimCards {
 public:
  SimCards(const std::string& family, int type, const std::vector<std::string>& cards) : sim_(family) {
    for (const std::string& card : cards) sim_.control().Ok("insert " + card);
    EXPECT_EQ(sim_.Open(type, 9600), 0);
  }
  int h() const { return sim_.handle(); }
  // A control request that must succeed: the text after "ok ".
  std::string Control(const std::string& line) { return sim_.control().Ok(line); }
  std::string Dump(const std::string& what) { return Control("dump " + what); }

 private:
  kptest::SimReader sim_;
};
using MemoryReader = SimCards;
using CardSim = SimCards;

// A buffer of 'Z', so that what a call leaves alone shows.
struct Text {
  Text() {
    std::memset(chars, 'Z', sizeof chars);
    chars[sizeof chars - 1] = '\0';
  }
  std::string Tail(std::size_t from) const { return std::string(chars + from, 4); }
  bool Untouched() const { return std::strncmp(chars, "ZZZZ", 4) == 0; }
  char chars[256];
};

const std::string kZeroBlock(32, '0');

// Activation of the sector card and key A (FF...) of `sector`.
void OpenSector(CardSim& r, int sector) {
  int type = 0, uidLen = 0, atsLen = 0;
  Text uid, ats;
  ASSERT_EQ(KP_DEV_IC_ConnectlessActiveStoreCard(r.h(), &type, &uidLen, uid.chars, &atsLen, ats.chars), 0);
  ASSERT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), sector, 0x60, "FFFFFFFFFFFF"), 0);
}

TEST(Sle4442, PscCounterAndMainMemoryOnTypeOne) {
  MemoryReader r("t1", 1, {"0 sle4442 psc=123456 data=A213109100112233"});

  // Writing before the PSC: the card refuses, nothing changes.
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "AABB"), kNeedPassword);

  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "123456"), 0);
  EXPECT_EQ(KP_DEV_SLE4442_WriteDataForUser(r.h(), 0, 0x20, "AABB"), 0);
  EXPECT_EQ(r.Dump("0 memory 31 4"), "FFAABBFF");

  // The read appends to the caller's text.
  char data[64] = "77";
  EXPECT_EQ(KP_DEV_SLE4442_ReadDataForUser(r.h(), 0, 0x04, 4, data), 0);
  EXPECT_STREQ(data, "7700112233");

  // A wrong PSC costs a try; the third locks the card, and the counter
  // read reports the lock and still delivers the count.
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000000"), kWrongPassword);
  int count = -1;
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000001"), kWrongPassword);
  EXPECT_EQ(KP_DEV_SLE4442_VerifyPwd(r.h(), 0, "000002"), kLocked);
  EXPECT_EQ(KP_DEV_SLE4442_ReadERROR(r.h(), 0, &count), kLocked);
  EXPECT_EQ(count, 0);
}

TEST(Sle4428, DataWithProtectionBitsAndWriteModes) {
  MemoryReader r("t1", 1, {"0 sle4428 psc=1234 data=AABBCC protect=1"});
  char data[64] = "";
  char flags[64] = "xxxxxx";
  // Mode 1: the data and a bit per byte (1 writable, 0 protected).
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 1, 0, 2, data, flags), 0);
  EXPECT_STREQ(data, "AABB");
  EXPECT_STREQ(flags, "10");
  // Mode 0: data alone; the flags are left as they were.
  std::strcpy(flags, "xxxxxx");
  EXPECT_EQ(KP_DEV_SLE4428_ReadData(r.h(), 0, 0, 2, 1, data, flags), 0);
  EXPECT_STREQ(data, "AABBCC");
  EXPECT_STREQ(flags, "xxxxxx");

  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), kNeedPassword);
  EXPECT_EQ(KP_DEV_SLE4428_VerifyPwd(r.h(), 0, "1234"), 0);
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 1, 0x0010, "1234"), 0);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
  EXPECT_EQ(r.Dump("0 protection 15 3"), "010000");
  // Written with protection: a second write is refused and changes nothing.
  EXPECT_EQ(KP_DEV_SLE4428_WriteData(r.h(), 0, 0, 0x0011, "99"), kProtected);
  EXPECT_EQ(r.Dump("0 memory 16 2"), "1234");
}

TEST(At88sc1608, TypeZeroAuthenticationThenPasswords) {
  MemoryReader r("t0", 0, {"0 at88sc1608 fused=1 auth=1 key=0011223344556677 ci=0102030405060708 pwd2=222222"});
  int fuse = -1;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadFuse(r.h(), 0, &fuse), 0);
  EXPECT_EQ(fuse, 7);
  // Refused before authentication (6005): the host then reads counter 16
  // (select 0, set 8), which reports that no authentication is in force.
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(r.h(), 0, 0, 1, "222222"), kAuthFailed);
  int count = 99;
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 8, &count), kAuthFailed);
  EXPECT_EQ(count, 99);

  // Q1 = key ^ Ci ^ Q0, byte by byte.
  EXPECT_EQ(KP_DEV_AT88SC1608_InitAuthenticationCard(r.h(), 0, "A0A1A2A3A4A5A6A7"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_AuthenticationCard(r.h(), 0, "A1B28394E5F6C7D8"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 8, &count), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_VerifyPwd(r.h(), 0, 0, 1, "222222"), 0);
  EXPECT_EQ(count, 99);
  EXPECT_EQ(r.Dump("0 config 120 8"), "A1B28394E5F6C7D8");

  // Password number select + 2 x set = 0 + 2 = 2 opens zone 1.
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1608_WriteData(r.h(), 0, 1, 0x20, "BEEF"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 1, 0x20, 2, data), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadData(r.h(), 0, 0, 0x20, 2, data), kNeedPassword);
  char pwd[16] = "";
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadPwd(r.h(), 0, 1, 1, pwd), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ModifyPwd(r.h(), 0, 1, 1, "333333"), 0);
  EXPECT_EQ(KP_DEV_AT88SC1608_ReadERROR(r.h(), 0, 0, 1, &count), 0);
  EXPECT_STREQ(data, "BEEF");
  EXPECT_STREQ(pwd, "FFFFFF");
  EXPECT_EQ(count, 8);
  EXPECT_NE(r.Dump("0").find(" pwd3=333333:8:0"), std::string::npos);
}

TEST(StoreCard, ZonedVariantsOnEveryFamily) {
  struct Case {
    const char* family;
    int type;
  };
  for (const Case& c : {Case{"t1", 5}, Case{"t61", 62}, Case{"t0", 0}}) {
    SCOPED_TRACE(c.family);
    MemoryReader r(c.family, c.type, {"0 at88sc1608 pwd9=999999", "1 at88sc102 pwd1=010203040506"});
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT1608(r.h(), 0, 9, "999999"), 0);
    EXPECT_EQ(KP_DEV_IC_VerifyPwdEXAT102(r.h(), 1, 1, "010203040506"), 0);
    EXPECT_EQ(KP_DEV_IC_WriteStoreDataEXAT1608(r.h(), 0, 4, 0xFE, "A1A2"), 0);
    char data[16] = "";
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFE, 2, data), 0);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFF, 2, data), kOutOfRange);
    EXPECT_EQ(KP_DEV_IC_ReadStoreDataEXAT1608(r.h(), 0, 4, 0xFF, 249, data), -5);
    EXPECT_STREQ(data, "A1A2");
    EXPECT_EQ(r.Dump("0 zone4 254 2"), "A1A2");
    EXPECT_NE(r.Dump("0").find(" pwd9=999999:8:1"), std::string::npos);
    EXPECT_NE(r.Dump("1").find(" pwd1=010203040506:4:1"), std::string::npos);
  }
}

TEST(ContactApdu, ExchangesWithTheFileSystemAndEmptiesTheResponseFirst) {
  CardSim r("t1", 1, {"0 cpu"});
  Text response;
  // Not powered yet: -306, the first four characters zeroed, the rest kept.
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00A40000020001", 14, response.chars), -306);
  EXPECT_EQ(std::memcmp(response.chars, "\0\0\0\0ZZZZ", 8), 0);

  int len = 33;
  ASSERT_EQ(KP_DEV_IC_PowerOn(r.h(), 0, &len, response.chars), 0);
  const struct {
    const char* apdu;
    const char* answer;  // data and SW1 SW2
  } cases[] = {
      {"00A40000020001", "6F0E80020010820101830200018801019000"},
      {"00B0000004", "4B5044459000"},
      {"00A40000029999", "6A82"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.apdu);
    Text out;
    EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, c.apdu, 0, out.chars), 0);
    EXPECT_STREQ(out.chars, c.answer);
    EXPECT_EQ(out.Tail(std::strlen(c.answer) + 1), "ZZZZ");
  }

  // Random challenge: 8 bytes and 9000.
  Text challenge;
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "0084000008", 10, challenge.chars), 0);
  EXPECT_EQ(std::strlen(challenge.chars), 20u);
  EXPECT_STREQ(challenge.chars + 16, "9000");

  // Power off, then APDUs are refused again; an empty seat says so.
  Text bare;
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 0), 0);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 0, 0, "00B0000004", 10, bare.chars), -306);
  EXPECT_EQ(KP_DEV_IC_SendApdu(r.h(), 3, 0, "00B0000004", 10, bare.chars), -305);
  EXPECT_EQ(KP_DEV_IC_PowerOff(r.h(), 3), -305);
}

TEST(ContactlessBlocks, AuthenticateThenReadAndWriteInTheSector) {
  CardSim r("t1", 1, {"255 sector"});
  OpenSector(r, 1);  // leaves nothing to check; sector 3 below
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 3, 0x60, "FFFFFFFFFFFF"), 0);

  // Sector 3, block 2 is absolute block 14.
  Text data;
  int len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 2, &len, data.chars), 0);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(data.chars, kZeroBlock);
  EXPECT_EQ(data.chars[33], 'Z');

  // A short text is filled with '0', a long one cut after 32 characters.
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 3, 1, "0102"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 3, 2, "00112233445566778899AABBCCDDEEFF01234567"), 0);
  EXPECT_EQ(r.Control("rf-block 13"), "0102" + std::string(28, '0'));
  EXPECT_EQ(r.Control("rf-block 14"), "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(r.Control("rf-block 12"), kZeroBlock);
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 1, &len, data.chars), 0);
  EXPECT_EQ(data.chars, "0102" + std::string(28, '0'));
  // The trailer hides key A.
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 3, &len, data.chars), 0);
  EXPECT_STREQ(data.chars, "000000000000FF078069FFFFFFFFFFFF");

  // Another sector's block; the manufacturer block; a wrong key, after
  // which the card must be activated again.
  Text untouched;
  len = 32;
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 4, 0, &len, untouched.chars), -316);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 4, 0, "FFFF"), -316);
  EXPECT_EQ(r.Control("rf-block 16"), kZeroBlock);
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 0, 0x61, "FFFFFFFFFFFF"), 0);
  EXPECT_EQ(KP_DEV_IC_ConnectlessWriteBlock(r.h(), 0, 0, "FFFF"), -324);
  EXPECT_EQ(r.Control("rf-block 0"), "5A3C9E12EA0804004B5044455653494D");
  EXPECT_EQ(KP_DEV_IC_ConnectlessCertifySector(r.h(), 3, 0x60, "FFFFFFFFFFFE"), -312);
  EXPECT_EQ(KP_DEV_IC_ConnectlessReadBlock(r.h(), 3, 1, &len, untouched.chars), -306);
  EXPECT_EQ(len, 32);
  EXPECT_TRUE(untouched.Untouched());
}

}  // namespace
