// What the daily log keeps of a card: by default no account number in
// full, no track data and no PIN block, in a file only its owner reads;
// KPDEV_LOG=full keeps the exact lines, KPDEV_LOG=off writes none.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

class LogMaskTest : public CardTest {
 protected:
  LogMaskTest() : CardTest(7) {}
  void TearDown() override { unsetenv("KPDEV_LOG"); }
  void ReadCard() {
    ScriptUpToGpo(dev_, "08010100");
    Card(dev_, Record(Tlv("57", kTrack2) + Tlv("5A", "6228480402564890018F") + Tlv("5F34", "01")));
    char track2[64] = {}, panSeq[8] = {}, aid[40] = {};
    ASSERT_EQ(KP_DEV_ReadICCardInfo(h_, 0, 0, track2, panSeq, aid), 0);
    ASSERT_STREQ(track2, kTrack2.c_str());
  }
  void Verify() {
    Card(dev_, "9000");
    char response[64] = {};
    ASSERT_EQ(KP_DEV_IC_SendApdu_A(h_, 0, 0, kVerify, static_cast<int>(std::strlen(kVerify)), response), 0);
  }
  static constexpr char kVerify[] = "0020008008241234FFFFFFFFFF";
};

TEST_F(LogMaskTest, DefaultKeepsNoCardSecretsInAnOwnerOnlyFile) {
  ReadCard();
  Verify();
  const std::string text = log_.Text();
  ASSERT_NE(text.find("SendApdu 00B2010C00-->"), std::string::npos);  // what happened stays
  EXPECT_EQ(text.find("6228480402564890018"), std::string::npos);     // the account number
  EXPECT_EQ(text.find("D49122010000012345"), std::string::npos);      // the rest of Track 2
  EXPECT_EQ(text.find("241234FFFFFFFFFF"), std::string::npos);        // the PIN block
  EXPECT_NE(text.find("SendApdu 0020008008<8 bytes>-->9000"), std::string::npos);

  const std::filesystem::path dir = std::filesystem::path(std::getenv("KPDEV_LOG_ROOT")) / "LOG" / "KP606";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    struct stat st {};
    ASSERT_EQ(stat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  for (const auto& d : {dir, dir.parent_path()}) {
    struct stat st {};
    ASSERT_EQ(stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << d;
  }
}

TEST_F(LogMaskTest, FullKeepsTheExactLinesAndOffWritesNone) {
  setenv("KPDEV_LOG", "full", 1);
  Verify();
  EXPECT_NE(log_.Text().find(std::string("SendApdu ") + kVerify + "-->9000\n"), std::string::npos);
  setenv("KPDEV_LOG", "off", 1);
  const std::string before = log_.Text();
  ReadCard();
  Verify();
  EXPECT_EQ(log_.Text(), before);
}

}  // namespace
