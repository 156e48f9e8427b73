#include <gtest/gtest.h>

#include "ifd_logic.h"

namespace kpifd {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DeviceNameTest, AcceptedTexts) {
  struct Case {
    const char* text;
    std::string path;
    int type, baud, sams;
  } cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0", 1, 0, 0},
      {"/dev/ttyUSB0:type=1:baud=115200", "/dev/ttyUSB0", 1, 115200, 0},
      {"/dev/ttyS1:baud=9600:type=61", "/dev/ttyS1", 61, 9600, 0},
      {"/tmp/kp:type=0:sam=2", "/tmp/kp", 0, 0, 2},
      {"rfc2217://127.0.0.1:4001", "rfc2217://127.0.0.1:4001", 1, 0, 0},
      {"rfc2217://reader-3.example.com:2217:type=61:baud=115200", "rfc2217://reader-3.example.com:2217", 61, 115200, 0},
      {"tcp://[::1]:7000:baud=9600:sam=1", "tcp://[::1]:7000", 1, 9600, 1},
  };
  for (const Case& c : cases) {
    DeviceName name;
    std::string why;
    ASSERT_TRUE(parse_device_name(c.text, name, why)) << c.text << ": " << why;
    EXPECT_EQ(name.path, c.path) << c.text;
    EXPECT_EQ(name.type, c.type) << c.text;
    EXPECT_EQ(name.baud, c.baud) << c.text;
    EXPECT_EQ(name.sams, c.sams) << c.text;
  }
}

TEST(DeviceNameTest, RefusedTexts) {
  for (const char* text :
       {"", "ttyUSB0", ":type=1", "/dev/x:type=2", "/dev/x:type=", "/dev/x:baud=14400", "/dev/x:speed=9600",
        "/dev/x:type=1:type=5", "/dev/x:sam=5", "/dev/x:type=-1", "/dev/x:", "/dev/x:type=1x", "rfc2217://host",
        "rfc2217://host:4001x", "rfc2217://host:4001:", "rfc2217://host:4001:speed=1", "tcp://:4001:type=1",
        "ftp://host:21"}) {
    DeviceName name;
    std::string why;
    EXPECT_FALSE(parse_device_name(text, name, why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

TEST(AtrTest, FromAnswerToSelect) {
  // TL 05, T0 78 (TA TB TC present), no historical bytes.
  EXPECT_EQ(atr_from_ats({0x05, 0x78, 0x80, 0x70, 0x02}), (Bytes{0x3B, 0x80, 0x80, 0x01, 0x01}));
  // TL 0A, T0 55 (TA TC), historical 80 31 C0 73 D6 31.
  EXPECT_EQ(atr_from_ats({0x0A, 0x55, 0x77, 0x02, 0x80, 0x31, 0xC0, 0x73, 0xD6, 0x31}),
            (Bytes{0x3B, 0x86, 0x80, 0x01, 0x80, 0x31, 0xC0, 0x73, 0xD6, 0x31, 0xE2}));
  EXPECT_EQ(ats_historical_bytes({0x01}), Bytes{});
}

TEST(AtrTest, StorageCard) {
  EXPECT_EQ(storage_card_atr(0x08), (Bytes{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                                           0x03, 0x06, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x6A}));
  const Bytes four_k = storage_card_atr(0x18);
  EXPECT_EQ(four_k[14], 0x02);
  EXPECT_EQ(four_k[19], 0x69);
}

TEST(ApduShapeTest, Cases) {
  struct Case {
    Bytes apdu;
    bool ok;
  } cases[] = {
      {{0x00, 0xA4, 0x00}, false},
      {{0x00, 0x84, 0x00, 0x00}, true},                          // case 1
      {{0x00, 0x84, 0x00, 0x00, 0x08}, true},                    // case 2
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}, true},        // case 3
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x00}, true},  // case 4
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F}, false},             // Lc 2, one byte
      {{0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00, 0x00, 0x00}, false},
      {{0x00, 0xB0, 0x00, 0x00, 0x00, 0x01, 0x00}, true},        // case 2 extended
      {{0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA}, true},  // case 3 extended
      {{0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x01, 0xAA, 0x00, 0x00}, true},
      {{0x00, 0xD6, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(apdu_well_formed(c.apdu.data(), c.apdu.size()), c.ok) << c.apdu.size();
}

}  // namespace
}  // namespace kpifd
