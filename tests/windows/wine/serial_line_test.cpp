// The Win32 serial layer end to end: the DLL opens the virtual reader's
// line as a COM port, and the reader's control interface reports what
// went over the wire, at which speed, and how the reader answered.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "kp_dev.h"
#include "sim_control.h"

namespace {

using kpwine::Bytes;
using kpwine::Hex;

// ESC '$' 'I' with the baud digit: the switch to the IC module.
const Bytes kSelectIcAt9600 = {0x1B, 0x24, 0x49, 0x30};
const Bytes kSelectIcAt115200 = {0x1B, 0x24, 0x49, 0x34};
// Command 0x3111 (firmware version) with the data byte 00.
const Bytes kVersionRequest = {0x02, 0x30, 0x30, 0x30, 0x33, 0x33, 0x31, 0x31, 0x31, 0x30, 0x30, 0x32, 0x30, 0x03};
// The prebuilt buzzer-on frame (command 0x3117).
const Bytes kBuzzerOn = {0x02, 0x30, 0x30, 0x30, 0x32, 0x33, 0x31, 0x31, 0x37, 0x32, 0x36, 0x03};

// How much later than its timeout a failed read may end: scheduling and
// Wine's own latency, far below the 3000 ms of a stuck pending request.
constexpr ULONGLONG kSlackMs = 700;

class SimReader : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = std::make_unique<kpwine::SimControl>(kpwine::ControlPortFromEnv());
    com_ = kpwine::ComPortFromEnv();
    control_->Ok("fault clear");
    control_->Ok("family t1");
    control_->Ok("baud 9600");
    control_->Ok("version-hex 4B5036303620563241");
    control_->Ok("clear");
  }

  void TearDown() override { KP_DEV_CloseDevice(com_); }

  std::string PortText(int baud) const {
    char text[64];
    std::snprintf(text, sizeof text, "COM%d:%d:N:8:1", com_, baud);
    return text;
  }

  // Opens a reader of the given type and forgets the traffic of the open.
  void OpenReader(int type, int baud) {
    int handle = 0;
    ASSERT_EQ(KP_DEV_OpenDevice(type, PortText(baud).c_str(), &handle), 0);
    ASSERT_EQ(handle, com_);
    control_->Ok("clear");
  }

  Bytes Sent() { return control_->Traffic("H>D"); }
  std::string Status(const char* key) { return control_->Status()[key]; }

  std::unique_ptr<kpwine::SimControl> control_;
  int com_ = 0;
};

TEST_F(SimReader, OpenSwitchesTheModuleAtTheRequestedSpeed) {
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(1, PortText(9600).c_str(), &handle), 0);
  EXPECT_EQ(handle, com_);
  EXPECT_EQ(Hex(Sent()), Hex(kSelectIcAt9600));
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(handle, &module), 0);
  EXPECT_EQ(module, 1);
  EXPECT_EQ(Status("host_baud"), "9600");
}

TEST_F(SimReader, OpenAt115200ReopensTheLineAtThatSpeed) {
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(1, PortText(115200).c_str(), &handle), 0);
  EXPECT_EQ(Hex(Sent()), Hex(kSelectIcAt115200));
  // The host line runs at the new speed, and the device follows it.
  EXPECT_EQ(Status("host_baud"), "115200");
  EXPECT_EQ(Status("device_baud"), "115200");
  char version[128] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(handle, version), 0);
  EXPECT_STREQ(version, "4B5036303620563241");
}

TEST_F(SimReader, VersionRequestAndAnswer) {
  OpenReader(1, 9600);
  char version[128];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(com_, version), 0);
  EXPECT_EQ(Hex(Sent()), Hex(kVersionRequest));
  EXPECT_STREQ(version, "4B5036303620563241");
  EXPECT_EQ(version[19], 'x');
}

TEST_F(SimReader, BuzzerFrameIsWrittenAsIs) {
  OpenReader(1, 9600);
  EXPECT_EQ(KP_DEV_IC_Voice(com_, 5), 0);
  EXPECT_EQ(Hex(Sent()), Hex(kBuzzerOn));
}

TEST_F(SimReader, RawVersionIsReadFromWhatIsQueued) {
  // The type-61 reader asks with ESC 'e' NUL and takes the bytes queued
  // 30 ms later: the count of the driver's queue must be right.
  control_->Ok("family t61");
  control_->Ok("baud 115200");
  control_->Ok("version KP T61 1.23");
  OpenReader(61, 115200);
  char version[128];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(com_, version), 0);
  EXPECT_EQ(Hex(Sent()), "1B6500");
  EXPECT_STREQ(version, "KP T61 1.23");
  EXPECT_EQ(version[12], 'x');
}

TEST_F(SimReader, SilentDeviceEndsTheReadAtItsTimeoutAndTheLineStaysUsable) {
  OpenReader(1, 9600);
  control_->Ok("fault silent");
  char version[128];
  std::memset(version, 'x', sizeof version);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), -4);
  const ULONGLONG elapsed = GetTickCount64() - start;
  // The header read waits its 800 ms, no longer.
  EXPECT_GE(elapsed, 790u);
  EXPECT_LT(elapsed, 800u + kSlackMs);
  EXPECT_EQ(version[0], 'x');
  // The wait that was given up leaves nothing pending on the line.
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), 0);
  EXPECT_STREQ(version, "4B5036303620563241");
}

TEST_F(SimReader, AnswerDelayedWithinTheTimeoutIsRead) {
  OpenReader(1, 9600);
  control_->Ok("fault delay 500");
  char version[128] = {};
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), 0);
  EXPECT_GE(GetTickCount64() - start, 490u);
  EXPECT_STREQ(version, "4B5036303620563241");
}

TEST_F(SimReader, CutAnswerFailsAfterTheTimeout) {
  OpenReader(1, 9600);
  control_->Ok("fault short");
  char version[128];
  std::memset(version, 'x', sizeof version);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), -4);
  EXPECT_LT(GetTickCount64() - start, 2 * 800u + kSlackMs);
  EXPECT_EQ(version[0], 'x');
}

TEST_F(SimReader, StrayByteBeforeTheAnswerPurgesAndResends) {
  OpenReader(1, 9600);
  control_->Ok("fault nonstx");
  char version[128] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), 0);
  Bytes twice = kVersionRequest;
  twice.insert(twice.end(), kVersionRequest.begin(), kVersionRequest.end());
  EXPECT_EQ(Hex(Sent()), Hex(twice));
  EXPECT_STREQ(version, "4B5036303620563241");
}

TEST_F(SimReader, AnswerNotEndedByEtx) {
  OpenReader(1, 9600);
  control_->Ok("fault badetx");
  char version[128] = {};
  EXPECT_EQ(KP_DEV_GetDeviceVersion(com_, version), -8);
}

TEST_F(SimReader, CloseRestoresTheModuleAndReleasesThePort) {
  OpenReader(1, 9600);
  EXPECT_NE(Status("host_open"), "0");
  // Closing a type-1 reader switches the device back to its default module
  // before the line goes.
  EXPECT_EQ(KP_DEV_CloseDevice(com_), 0);
  EXPECT_EQ(Hex(Sent()), Hex(kSelectIcAt9600));
  EXPECT_EQ(Status("host_open"), "0");
  int module = 5;
  EXPECT_EQ(KP_DEV_CheckIsOpen(com_, &module), -10);
  EXPECT_EQ(module, 5);
  // The port can be opened again at once.
  int handle = 0;
  EXPECT_EQ(KP_DEV_OpenDevice(1, PortText(9600).c_str(), &handle), 0);
  EXPECT_EQ(handle, com_);
}

TEST_F(SimReader, PortWithoutDeviceFailsToOpen) {
  // COM32 is never mapped by the test run.
  int handle = 0;
  EXPECT_EQ(KP_DEV_OpenDevice(0, "COM32:9600:N:8:1", &handle), -1);
  int module = 5;
  EXPECT_EQ(KP_DEV_CheckIsOpen(32, &module), -10);
  // A speed outside the accepted set is refused before the port is touched.
  EXPECT_EQ(KP_DEV_OpenDevice(0, (PortText(14400)).c_str(), &handle), -5);
  EXPECT_EQ(Status("host_open"), "0");
}

}  // namespace
