// The library's memory and store-card operations against the card models of
// the virtual reader: the chips take what each reader class sends, and the
// caller's buffers and the chips end up holding what they should.  (The
// frames themselves are the scripted device's to check; the rules the
// library never reaches are the virtual reader's own tests'; the processor,
// SLE4442 and sector cards meet the library in the tool's demo sessions and
// the Windows smoke tests.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

namespace {

// Result codes of the device status words the chips answer with.
constexpr int kOutOfRange = -319;    // 2004
constexpr int kProtected = -324;     // 3007
constexpr int kNeedPassword = -316;  // 3008

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

}  // namespace
