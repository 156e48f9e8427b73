// How much processor time the library takes while it waits on the line,
// under Wine against a virtual reader that keeps real time: a 10 s
// read-any-card wait with no card presented, and a loop of version
// exchanges at 9600 baud.  The waits must sleep on events, not spin; the
// figures are printed, and bounded generously (a loaded machine adds
// scheduling, not CPU time).
#include <windows.h>

#include <cstdio>

#include "card_reader.h"
#include "kp_dev.h"

namespace kpwine {
namespace {

double Seconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;
}

// Processor time of this process (all threads, user and kernel), seconds.
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
}

double WallSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class CpuShare : public CardReaderTest {
 protected:
  void SetUp() override {
    CardReaderTest::SetUp();
    Control("pacing on");
  }
  void TearDown() override {
    CardReaderTest::TearDown();
    Control("pacing off");
  }
};

TEST_F(CpuShare, ReadAnyCardWaitOfTenSecondsWithoutCard) {
  Family("t61");
  Control("baud 115200");
  int kind = -1;
  char result[2048] = {};
  const double cpu = CpuSeconds(), wall = WallSeconds();
  EXPECT_EQ(KP_DEV_ReadAll_A(h(), 0, 10000, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result), -101);
  const double spentWall = WallSeconds() - wall, spentCpu = CpuSeconds() - cpu;
  std::printf("cpu-share read-all wait: %.2f s wall, %.3f s CPU, %.2f %%\n", spentWall, spentCpu,
              100 * spentCpu / spentWall);
  EXPECT_GE(spentWall, 10.0);
  EXPECT_LT(spentCpu / spentWall, 0.10);
}

TEST_F(CpuShare, VersionExchangeLoopAt9600) {
  OpenReader(1);
  char version[256];
  int exchanges = 0;
  const double cpu = CpuSeconds(), wall = WallSeconds();
  while (WallSeconds() - wall < 3.0) {
    ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
    ++exchanges;
  }
  const double spentWall = WallSeconds() - wall, spentCpu = CpuSeconds() - cpu;
  std::printf("cpu-share version loop: %d exchanges, %.2f s wall, %.3f s CPU, %.2f %%\n", exchanges, spentWall,
              spentCpu, 100 * spentCpu / spentWall);
  EXPECT_LT(spentCpu / spentWall, 0.10);
}

}  // namespace
}  // namespace kpwine
