// What only the Windows build has: the version text in code page 936,
// fetched through the pointer of ordinal 1 as a program that binds by
// ordinal calls it, and the daily log on drive D.  Every name, ordinal and
// alias, and the bytes each 32-bit export pops, are checked in the built
// file by check_exports.py.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "kp_dev.h"

namespace {

TEST(WindowsExports, VersionTextThroughThePointerOfItsOrdinal) {
  // "2.0.0.2 " + the date label in code page 936 + "2015-05-03": 32 bytes.
  static const unsigned char kExpected[] = {'2',  '.',  '0',  '.',  '0',  '.',  '2',  ' ',  0xD7, 0xEE, 0xBA,
                                            0xF3, 0xD0, 0xDE, 0xB8, 0xC4, 0xC8, 0xD5, 0xC6, 0xDA, 0xA3, 0xBA,
                                            '2',  '0',  '1',  '5',  '-',  '0',  '5',  '-',  '0',  '3'};
  static_assert(sizeof kExpected == 32, "version text length");
  // Called as a program that binds by ordinal calls it: a callee-pops
  // function through a plain pointer.
  const auto version = reinterpret_cast<int(KP_STDCALL*)(char*)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KP_DEV.dll"), MAKEINTRESOURCEA(1))));
  ASSERT_NE(version, nullptr);
  char text[40];
  std::memset(text, 0x55, sizeof text);
  ASSERT_EQ(version(text), 0);
  EXPECT_EQ(std::memcmp(text, kExpected, sizeof kExpected), 0);
  EXPECT_EQ(text[32], '\0');
  for (std::size_t i = 33; i < sizeof text; ++i) EXPECT_EQ(text[i], 0x55) << "byte " << i;
}

std::string TodaysLogPath() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  char path[64];
  std::snprintf(path, sizeof path, "D:\\LOG\\KP606\\%04d-%02d-%02d.log", t.wYear, t.wMonth, t.wDay);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(WindowsLog, FailedOpenOfTheReadAllLoopIsLoggedOnDriveD) {
  const std::string path = TodaysLogPath();
  const std::size_t before = ReadFile(path).size();

  // COM32 is never mapped: the loop's first open (device type 1) fails.
  int kind = 9;
  char text[256] = {};
  EXPECT_EQ(KP_DEV_ReadAll(32, 0, 1000, 1, 0, 0, 0, "FFFFFFFFFFFF", 1, 1, 0, &kind, text), -1);

  const std::string log = ReadFile(path);
  ASSERT_GT(log.size(), before) << "nothing appended to " << path;
  const std::string line = log.substr(before);
  // "HH:MM:SS mmm | " + the message in code page 936 + the line end, which
  // a text-mode file writes as CR LF.
  const std::string message =
      "!!!\xBF\xAA\xBB\xA7\xB4\xAE\xBF\xDA\xCA\xA7\xB0\xDC"
      " 1\r\n";
  ASSERT_EQ(line.size(), 15 + message.size()) << line;
  const std::string stamp = "00:00:00 000 | ";  // '0' stands for any digit
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    EXPECT_TRUE(stamp[i] == '0' ? line[i] >= '0' && line[i] <= '9' : line[i] == stamp[i]) << line;
  }
  EXPECT_EQ(line.substr(15), message);
}

}  // namespace
