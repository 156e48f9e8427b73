#include "log/log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace kp {
namespace {

namespace fs = std::filesystem;

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return text;
}

// "hh:mm:ss mmm | message"
const std::regex kLine(R"(([01]\d|2[0-3]):[0-5]\d:[0-6]\d \d{3} \| ([^\n]*)\n)");

class WriteLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kpdev-log-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    tmp_ = pattern;
    // A root that does not exist yet and lacks the trailing separator.
    root_ = tmp_ + "/state/logs";
    setenv("KPDEV_LOG_ROOT", root_.c_str(), 1);
    day_ = Today();
  }
  void TearDown() override {
    unsetenv("KPDEV_LOG_ROOT");
    std::error_code ignored;
    fs::remove_all(tmp_, ignored);
  }

  // Content of the day file (the day taken before the calls, or the next
  // one should the test run across midnight).
  std::string DayFile() const {
    std::string path = root_ + "/LOG/KP606/" + day_ + ".log";
    if (!fs::exists(path)) path = root_ + "/LOG/KP606/" + Today() + ".log";
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::string tmp_, root_, day_;
};

TEST_F(WriteLogTest, LinesGoToTheDayFileWithTimePrefix) {
  EXPECT_EQ(root_ + "/LOG/KP606", LogDirectory());
  WriteLog("SendApdu %s-->%s", "00A4040000", "9000");
  WriteLog("second %d", 2);

  const std::string text = DayFile();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, kLine, std::regex_constants::match_continuous)) << text;
  EXPECT_EQ("SendApdu 00A4040000-->9000", m[2].str());
  const std::string rest = m.suffix().str();
  ASSERT_TRUE(std::regex_match(rest, m, kLine)) << rest;
  EXPECT_EQ("second 2", m[2].str());
}

TEST_F(WriteLogTest, LongMessageIsCutToTheLineBuffer) {
  WriteLog("%s", std::string(5000, 'x').c_str());
  WriteLog("after");
  const std::string text = DayFile();
  // 15 characters of prefix and 2032 of the message make 2047, then "\n".
  ASSERT_GT(text.size(), 2048u);
  EXPECT_EQ(std::string(2032, 'x') + "\n", text.substr(15, 2033));
  std::smatch m;
  const std::string second = text.substr(2048);
  ASSERT_TRUE(std::regex_match(second, m, kLine)) << second;
  EXPECT_EQ("after", m[2].str());
}

TEST_F(WriteLogTest, UnusableRootIsSilent) {
  // A regular file where the root directory should be.
  const std::string blocker = tmp_ + "/blocker";
  std::ofstream(blocker) << "x";
  setenv("KPDEV_LOG_ROOT", (blocker + "/").c_str(), 1);
  WriteLog("nowhere %d", 7);
  EXPECT_FALSE(fs::exists(blocker + "/LOG"));
  EXPECT_EQ(1u, fs::file_size(blocker));
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 01000000;  // no such file
  return st.st_mode & 07777;
}

// The log holds card traffic: its directories are for their owner only and
// its files are readable by their owner only, whether the library makes
// them or finds them made wider (by hand, an older version, another umask).
// What lies above LOG is the user's and keeps its mode.
TEST_F(WriteLogTest, TreeIsTheOwnersOnlyAndAWiderOneIsNarrowed) {
  struct Case {
    std::string what;
    unsigned found;       // mode of the one found
    unsigned afterFound;  // its mode after one line
    unsigned afterMade;   // mode of the one the library makes
  };
  const Case cases[] = {
      {"", 0755, 0755, 0700},  // the root itself: a found one is the user's
      {"/LOG", 0755, 0700, 0700},
      {"/LOG/KP606", 0775, 0700, 0700},
      {"/LOG/KP606/" + day_ + ".log", 0644, 0600, 0600},
  };
  for (const bool found : {false, true}) {
    SCOPED_TRACE(found ? "found wider" : "made by the library");
    std::error_code ignored;
    fs::remove_all(tmp_ + "/state", ignored);
    if (found) {
      fs::create_directories(root_ + "/LOG/KP606");
      std::ofstream(root_ + cases[3].what) << "earlier line\n";
      for (const Case& c : cases) ASSERT_EQ(0, chmod((root_ + c.what).c_str(), c.found)) << c.what;
    }
    WriteLog("one line");
    for (const Case& c : cases) EXPECT_EQ(found ? c.afterFound : c.afterMade, ModeOf(root_ + c.what)) << c.what;
  }
}

// A LOG that is a link to a directory elsewhere is not the log's to change;
// what the log makes behind it still is its own.
TEST_F(WriteLogTest, LinkedLogDirectoryKeepsItsMode) {
  const std::string elsewhere = tmp_ + "/shared";
  fs::create_directories(elsewhere);
  ASSERT_EQ(0, chmod(elsewhere.c_str(), 0755));
  fs::create_directories(root_);
  fs::create_directory_symlink(elsewhere, root_ + "/LOG");
  WriteLog("through a link");
  EXPECT_EQ(0755u, ModeOf(elsewhere));
  EXPECT_EQ(0700u, ModeOf(elsewhere + "/KP606"));
  EXPECT_EQ(0600u, ModeOf(elsewhere + "/KP606/" + day_ + ".log"));
}

}  // namespace
}  // namespace kp
