// What the daily log keeps of card data: no account number in full, no
// track data, no PIN block.
#include <gtest/gtest.h>

#include "log/mask.h"

namespace {

TEST(LogMask, CardDataAndCommands) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case data[] = {
      // Account number: first six and last four digits; padding kept.
      {"5A0862000012345678929000", "5A08620000******78929000"},
      {"5A0A6228480402564890018F9000", "5A0A622848*********0018F9000"},
      {"5A0a6228480402564890018F8A0230309000", "5A0a622848*********0018F8A0230309000"},  // lower-case length
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
      {"00200080081", "0020008008<0 bytes>"},                 // half a byte of PIN block
      {"00B2010C00", "00B2010C00"},                           // header only
      {"80CA9F1700", "80CA9F1700"},
      {"00200080", "00200080"},
  };
  for (const Case& c : commands) EXPECT_EQ(kp::MaskApduCommand(c.in), c.out) << c.in;

  EXPECT_EQ(kp::MaskAccountNumbers("card 4111111111111111 read"), "card 411111******1111 read");
  EXPECT_EQ(kp::MaskAccountNumbers("amount 4111111111111112"), "amount 4111111111111112");  // check digit wrong
  EXPECT_EQ(kp::MaskAccountNumbers("4222222222222"), "422222***2222");                      // 13 digits
  EXPECT_EQ(kp::MaskAccountNumbers("000000000001"), "000000000001");                        // too short
}

}  // namespace
