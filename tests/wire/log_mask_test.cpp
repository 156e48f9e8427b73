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
#include "log/mask.h"

namespace {

using namespace emvtest;

TEST(LogMask, CardDataAndCommands) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case data[] = {
      // Account number: first six and last four digits; padding kept.
      {"5A0862000012345678929000", "5A08620000******78929000"},
      {"5A0A6228480402564890018F9000", "5A0A622848*********0018F9000"},
      // Track 2: the account number as above, the rest of the track hidden.
      {"700D570B6200001234567892D301229000", "700D570B620000******7892******9000"},
      {"9F6B04123456789000", "9F6B04********9000"},
      {"5F200441424344569000", "5F2004********569000"},
      {"5603414243", "5603**4243"},  // cut where the status word begins
      {"6A83", "6A83"},
      {"", ""},
  };
  for (const Case& c : data) EXPECT_EQ(kp::MaskCardData(c.in), c.out) << c.in;

  const Case commands[] = {
      {"0020008008241234FFFFFFFFFF", "0020008008<8 bytes>"},  // VERIFY with a PIN block
      {"002400800811223344556677", "0024008008<7 bytes>"},    // CHANGE REFERENCE DATA
      {"0082000008AABBCCDDEEFF0011", "0082000008<8 bytes>"},  // EXTERNAL AUTHENTICATE
      {"0088000004AABBCCDD00", "0088000004<5 bytes>"},        // INTERNAL AUTHENTICATE
      {"00B2010C00", "00B2010C00"},                           // header only
      {"80CA9F1700", "80CA9F1700"},
      {"00200080", "00200080"},
  };
  for (const Case& c : commands) EXPECT_EQ(kp::MaskApduCommand(c.in), c.out) << c.in;

  EXPECT_EQ(kp::MaskAccountNumbers("card 4111111111111111 read"), "card 411111******1111 read");
  EXPECT_EQ(kp::MaskAccountNumbers("amount 4111111111111112"), "amount 4111111111111112");  // check digit wrong
  EXPECT_EQ(kp::MaskAccountNumbers("000000000001"), "000000000001");                        // too short
}

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
