// AT24Cxx EEPROMs and the AT45DB041 flash through the exported interface
// against the virtual reader: frames, range checks before sending, and the
// chip's memory after.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "integration/memory_wire.h"
#include "kp_dev.h"

using namespace kptest;

namespace {

TEST(At24cxx, ReadAndWriteOnTypeOne) {
  MemoryReader r("t1", 1, {"0 at24c64 data=0A0B0C"});
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(r.h(), 0, 0x1FFE, "DEAD"), 0);
  r.ExpectSent(0x3236, "00 FE 1F 0002 DEAD");
  char data[64] = "56";
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0x1FFE, 2, data), 0);
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0x0001, 2, data), 0);
  r.ExpectSent({{0x3235, "00 FE 1F 0002"}, {0x3235, "00 01 00 0002"}});
  EXPECT_STREQ(data, "56DEAD0B0C");
  EXPECT_EQ(r.Dump("0 memory 8190 2"), "DEAD");

  // The address is not checked by the host; the length is.
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0xFFF0, 1024, data), kOutOfRange);
  r.ExpectSent(0x3235, "00 F0 FF 0400");
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0, 1025, data), -5);
  r.ExpectNothingSent();
  EXPECT_STREQ(data, "56DEAD0B0C");
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(r.h(), 0, 0x2000, "00"), kOutOfRange);
  r.ExpectSent(0x3236, "00 00 20 0001 00");
}

TEST(At24cxx, TypeSixtyOneAndTypeZero) {
  MemoryReader t61("t61", 61, {"0 at24c02"});
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(t61.h(), 0, 0x10, "0102"), 0);
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(t61.h(), 0, 0x10, 2, data), 0);
  t61.ExpectSent({{0x3236, "00 10 00 0002 0102"}, {0x3235, "00 10 00 0002"}});
  EXPECT_STREQ(data, "0102");

  MemoryReader t0("t0", 0, {"0 at24c02"});
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(t0.h(), 0, 0x10, "01o2"), -5);
  t0.ExpectNothingSent();
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(t0.h(), 0, 0x10, "0102"), 0);
  t0.ExpectSent(0x3236, "00 10 00 0002 0102");
  EXPECT_EQ(t0.Dump("0 memory 16 2"), "0102");

  MemoryReader magnetic("t1", 2, {"0 at24c02"});
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(magnetic.h(), 0, 0, 2000, data), -20);
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(magnetic.h(), 0, 0, "00"), -20);
  magnetic.ExpectNothingSent();
}

TEST(At45db041, PagesOnTypeZero) {
  MemoryReader r("t0", 0, {"0 at45db041"});
  // Seat 00, offset 10, page 02 01, count 0002.
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 0x0102, 0x10, "AABB"), 0);
  r.ExpectSent(0x3236, "00 10 02 01 0002 AABB");
  EXPECT_EQ(r.Dump("0 memory " + std::to_string(0x102 * 264 + 0x0F) + " 4"), "FFAABBFF");
  char data[600] = "";
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 0x0102, 0x11, 2, data), 0);
  r.ExpectSent(0x3235, "00 11 02 01 0002");
  EXPECT_STREQ(data, "BBFF");

  // The last page, its longest read: offset 8 runs to its last byte.
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 2047, 8, 256, data), 0);
  r.ExpectSent(0x3235, "00 08 FF 07 0100");
  EXPECT_EQ(std::strlen(data), 4u + 512u);
  // Offset 9 would run past the end of the chip.
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 2047, 9, 256, data), kOutOfRange);
  r.ExpectSent(0x3235, "00 09 FF 07 0100");
  EXPECT_EQ(std::strlen(data), 4u + 512u);

  // Refused before sending: page 2048, length 257, write offset 256,
  // foreign characters.
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 2048, 0, 1, data), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 0, 0, 257, data), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 0, 256, "00"), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 2048, 0, "00"), -5);
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 0, 0, "0z"), -5);
  r.ExpectNothingSent();

  // A write must stay within its page of 264 bytes.
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 5, 0xFF, std::string(20, '7').c_str()), kOutOfRange);
  r.ExpectSent(0x3236, "00 FF 05 00 000A " + std::string(20, '7'));
  EXPECT_EQ(r.Dump("0 memory " + std::to_string(5 * 264 + 255) + " 1"), "FF");
}

TEST(At45db041, NotOnTheOtherReaders) {
  for (const char* family : {"t1", "t61"}) {
    SCOPED_TRACE(family);
    MemoryReader r(family, family[1] == '1' ? 1 : 61, {"0 at45db041"});
    char data[16] = "keep";
    EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 0, 0, 1, data), -20);
    EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 0, 0, "00"), -20);
    r.ExpectNothingSent();
    EXPECT_STREQ(data, "keep");
  }
}

}  // namespace
