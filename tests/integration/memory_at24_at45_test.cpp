// AT24Cxx EEPROMs and the AT45DB041 flash through the exported interface
// against the virtual reader: the chip's answers and refusals, and its
// memory after; the frames themselves are the unit tests'.
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
  char data[64] = "56";
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0x1FFE, 2, data), 0);
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0x0001, 2, data), 0);
  EXPECT_STREQ(data, "56DEAD0B0C");
  EXPECT_EQ(r.Dump("0 memory 8190 2"), "DEAD");

  // The address is not checked by the host: the chip refuses it.
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(r.h(), 0, 0xFFF0, 1024, data), kOutOfRange);
  EXPECT_STREQ(data, "56DEAD0B0C");
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(r.h(), 0, 0x2000, "00"), kOutOfRange);
}

TEST(At24cxx, TypeSixtyOneAndTypeZero) {
  MemoryReader t61("t61", 61, {"0 at24c02"});
  char data[16] = "";
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(t61.h(), 0, 0x10, "0102"), 0);
  EXPECT_EQ(KP_DEV_AT24CXX_ReadData(t61.h(), 0, 0x10, 2, data), 0);
  EXPECT_STREQ(data, "0102");

  MemoryReader t0("t0", 0, {"0 at24c02"});
  EXPECT_EQ(KP_DEV_AT24CXX_WriteData(t0.h(), 0, 0x10, "0102"), 0);
  EXPECT_EQ(t0.Dump("0 memory 16 2"), "0102");
}

TEST(At45db041, PagesOnTypeZero) {
  MemoryReader r("t0", 0, {"0 at45db041"});
  // Page 0x102, offset 0x10.
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 0x0102, 0x10, "AABB"), 0);
  EXPECT_EQ(r.Dump("0 memory " + std::to_string(0x102 * 264 + 0x0F) + " 4"), "FFAABBFF");
  char data[600] = "";
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 0x0102, 0x11, 2, data), 0);
  EXPECT_STREQ(data, "BBFF");

  // The last page, its longest read: offset 8 runs to its last byte.
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 2047, 8, 256, data), 0);
  EXPECT_EQ(std::strlen(data), 4u + 512u);
  // Offset 9 would run past the end of the chip.
  EXPECT_EQ(KP_DEV_AT45DB041_ReadData(r.h(), 0, 2047, 9, 256, data), kOutOfRange);
  EXPECT_EQ(std::strlen(data), 4u + 512u);

  // A write must stay within its page of 264 bytes.
  EXPECT_EQ(KP_DEV_AT45DB041_WriteData(r.h(), 0, 5, 0xFF, std::string(20, '7').c_str()), kOutOfRange);
  EXPECT_EQ(r.Dump("0 memory " + std::to_string(5 * 264 + 255) + " 1"), "FF");
}

}  // namespace
