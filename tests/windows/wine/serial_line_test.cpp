// The Win32 serial layer end to end: the DLL opens the virtual reader's
// line as a COM port with overlapped I/O, and the reader's control
// interface reports what went over the wire, at which speed, and how the
// reader answered.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "kp_dev.h"
#include "sim_reader.h"

namespace {

// Command 0x3111 (firmware version) with the data byte 00.
const char kVersionRequest[] = "0230303033333131313030323003";
const char kVersion[] = "4B5036303620563241";

// How much later than its timeout a failed read may end on a loaded
// machine under Wine: scheduling, never the 3000 ms of a stuck request.
constexpr ULONGLONG kSlackMs = 1500;

class SerialLine : public kpwine::SimReaderTest {
 protected:
  void SetUp() override {
    SimReaderTest::SetUp();
    Control(std::string("version-hex ") + kVersion);
  }
  std::string Status() { return " " + Control("status") + " "; }
};

TEST_F(SerialLine, OpenAt115200SwitchesTheModuleAndReopensTheLineAtThatSpeed) {
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(1, PortText(115200).c_str(), &handle), 0);
  EXPECT_EQ(handle, h());
  EXPECT_EQ(Sent(), "1B244934");
  EXPECT_NE(Status().find(" host_baud=115200 "), std::string::npos);
  EXPECT_NE(Status().find(" device_baud=115200 "), std::string::npos);
  char version[128];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(handle, version), 0);
  EXPECT_EQ(Sent(), kVersionRequest);
  EXPECT_STREQ(version, kVersion);
  EXPECT_EQ(version[19], 'x');
}

TEST_F(SerialLine, RawVersionIsReadFromWhatIsQueued) {
  // The type-61 reader asks with ESC 'e' NUL and takes the bytes queued
  // 30 ms later: the count of the driver's queue must be right.
  Control("family t61");
  Control("baud 115200");
  Control("version KP T61 1.23");
  OpenReader(61, 115200);
  char version[128];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_EQ(Sent(), "1B6500");
  EXPECT_STREQ(version, "KP T61 1.23");
  EXPECT_EQ(version[12], 'x');
}

TEST_F(SerialLine, SilentDeviceEndsTheReadAtItsTimeoutAndTheLineStaysUsable) {
  OpenReader(1);
  Control("fault silent");
  char version[128];
  std::memset(version, 'x', sizeof version);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h(), version), -4);
  const ULONGLONG elapsed = GetTickCount64() - start;
  // The header read waits its 800 ms, no longer.
  EXPECT_GE(elapsed, 790u);
  EXPECT_LT(elapsed, 800u + kSlackMs);
  EXPECT_EQ(version[0], 'x');
  // The wait that was given up leaves nothing pending on the line, and an
  // answer held back within the timeout is still read.
  Control("fault delay 500");
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, kVersion);
}

// Processor time of this process (all threads, user and kernel), seconds.
double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return static_cast<double>((ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// The overlapped waits sleep on events: a read-any-card wait without a card,
// against a reader that keeps real time, takes a small share of one core (a
// loaded machine adds scheduling, not processor time).
TEST_F(SerialLine, WaitingForACardSleepsOnTheLine) {
  Control("family t61");
  Control("baud 115200");
  Control("pacing on");
  int kind = -1;
  char result[2048] = {};
  const double cpu = CpuSeconds();
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_ReadAll_A(h(), 0, 3000, 1, 1, 0, 0x60, "FFFFFFFFFFFF", 1, 1, 0, &kind, result), -101);
  const double wall = static_cast<double>(GetTickCount64() - start) / 1000, spent = CpuSeconds() - cpu;
  Control("pacing off");
  std::printf("cpu-share read-all wait: %.2f s wall, %.3f s CPU, %.2f %%\n", wall, spent, 100 * spent / wall);
  EXPECT_GE(wall, 2.9);
  EXPECT_LT(spent / wall, 0.10);
}

// A cancel from another thread wakes KP_DEV_ReadAll's wait for a swipe
// (the line's wait sets off on the wake event beside the overlapped
// request's): the second type-1 attempt's module switch follows after the
// open's 100 ms pause alone, not after the rest of a 300 ms round.
TEST_F(SerialLine, CancelWakesTheMagneticWait) {
  ULONGLONG cancelled = 0;
  ULONGLONG switched = 0;
  std::string before;
  std::string after;
  std::thread canceller([&] {
    // Module I, module I, module B, the arm: the wait is on.
    before = SentAtLeast(14);
    Sleep(50);
    cancelled = GetTickCount64();
    KP_DEV_CancelReadAll();
    after = SentAtLeast(4);
    switched = GetTickCount64();
  });
  int kind = -1;
  char result[2048] = {};
  // Below 300 ms the wait has no end of its own.
  EXPECT_EQ(KP_DEV_ReadAll(h(), 0, 100, 0, 1, 0, 0x60, "FFFFFFFFFFFF", 0, 0, 0, &kind, result), -101);
  canceller.join();
  EXPECT_EQ(before, "1B2449301B2449301B24421B425D");
  EXPECT_EQ(after.substr(0, 8), "1B244930");
  EXPECT_LT(switched - cancelled, 250u);
}

TEST_F(SerialLine, StrayByteBeforeTheAnswerPurgesAndResends) {
  OpenReader(1);
  Control("fault nonstx");
  char version[128] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_EQ(Sent(), std::string(kVersionRequest) + kVersionRequest);
  EXPECT_STREQ(version, kVersion);
}

TEST_F(SerialLine, CloseRestoresTheModuleAndReleasesThePort) {
  OpenReader(1);
  EXPECT_EQ(Status().find(" host_open=0 "), std::string::npos);
  EXPECT_EQ(KP_DEV_CloseDevice(h()), 0);
  EXPECT_EQ(Sent(), "1B244930");
  EXPECT_NE(Status().find(" host_open=0 "), std::string::npos);
  // The port can be opened again at once.
  int handle = 0;
  EXPECT_EQ(KP_DEV_OpenDevice(1, PortText(9600).c_str(), &handle), 0);
  EXPECT_EQ(handle, h());
}

TEST_F(SerialLine, PortWithoutDeviceFailsToOpen) {
  // COM32 is never mapped by the test run.
  int handle = 0;
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COM32:9600:N:8:1", &handle), -1);
  int module = 5;
  EXPECT_EQ(KP_DEV_CheckIsOpen(32, &module), -10);
  EXPECT_EQ(module, 5);
}

}  // namespace
