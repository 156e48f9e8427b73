// The diagnostic log of the Windows build: a daily text file under
// D:\LOG\KP606 (scripts/test-wine.sh maps D: to a scratch directory).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "kp_dev.h"

namespace {

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

bool IsDigits(const std::string& text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
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
  EXPECT_TRUE(IsDigits(line, 0, 2) && line[2] == ':' && IsDigits(line, 3, 2) && line[5] == ':' &&
              IsDigits(line, 6, 2) && line[8] == ' ' && IsDigits(line, 9, 3))
      << line;
  EXPECT_EQ(line.substr(12, 3), " | ");
  EXPECT_EQ(line.substr(15), message);
}

}  // namespace
