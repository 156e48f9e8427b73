// Opening, reporting and closing readers of the three families through the
// exported interface, against the virtual reader on a real pseudo-terminal:
// the bytes each open and close puts on the line, at which speed, and what
// CheckIsOpen reports before, during and after.  What each family refuses
// without sending is the unit tests' (scripted device).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "kp_dev.h"
#include "support/sim_reader.h"
#include "support/wait.h"

using kptest::Bytes;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

// ESC '0': the device's acknowledgement of a module escape sequence.
const Bytes kEscOk = {0x1B, 0x30};
// Version request (command 0x3111, data 00) as it must appear on the line.
const Bytes kVersionFrame = HexBytes("02 30 30 30 33 33 31 31 31 30 30 32 30 03");

TEST(OpenClose, TypeOneAt115200SwitchesModuleAt9600ThenWorksAt115200) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(1, 115200), 0);
  EXPECT_EQ(sim.handle(), sim.com());

  kpsim::WireTraffic open = sim.Traffic();
  // The escape sequence was heard at the device's start-up speed (9600), so
  // nothing went out at a speed the device could not follow.
  EXPECT_EQ(kptest::Hex(open.host_to_device), "1B244934");
  EXPECT_EQ(kptest::Hex(open.device_to_host), kptest::Hex(kEscOk));
  EXPECT_TRUE(open.host_noise.empty());
  EXPECT_TRUE(open.device_lost.empty());
  EXPECT_EQ(sim.Status("device_baud"), "115200");
  EXPECT_EQ(sim.Status("host_baud"), "115200");
  EXPECT_EQ(sim.Status("module"), "I");

  int module = -77;
  EXPECT_EQ(KP_DEV_CheckIsOpen(sim.handle(), &module), 0);
  EXPECT_EQ(module, 1);

  sim.ClearTraffic();
  sim.control().SetVersionBytes({0x4B, 0x50, 0x00, 0xFF, 0x31, 0x0A});
  char version[64];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), 0);
  EXPECT_STREQ(version, "4B5000FF310A");
  EXPECT_EQ(version[13], 'x');  // 12 characters and a NUL, nothing more
  EXPECT_EQ(sim.Traffic().host_to_device, kVersionFrame);

  // Closing puts the IC module back to its 9600-baud default, at the speed
  // the line runs at now.
  sim.ClearTraffic();
  EXPECT_EQ(sim.Close(), 0);
  kpsim::WireTraffic close = sim.Traffic();
  EXPECT_EQ(kptest::Hex(close.host_to_device), "1B244930");
  EXPECT_EQ(close.device_to_host, kEscOk);
  EXPECT_EQ(sim.Status("device_baud"), "9600");

  module = -77;
  EXPECT_EQ(KP_DEV_CheckIsOpen(sim.com(), &module), -10);
  EXPECT_EQ(module, -77);
  EXPECT_EQ(KP_DEV_CloseDevice(sim.com()), 0);
}

TEST(OpenClose, WhatEachOtherTypeSendsAndReports) {
  struct Case {
    const char* family;
    int type;
    const char* openSequence;  // what the open puts on the line
    int module;                // what CheckIsOpen reports
  };
  // Type 2 selects the magnetic head; the others open quietly.  None of
  // them has anything to restore when closed.
  const Case cases[] = {{"t1", 2, "1B2442", 2}, {"t1", 5, "", 0}, {"t0", 0, "", 0}, {"t61", 61, "", 61}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    SimReader sim(c.family);
    ASSERT_EQ(sim.Open(c.type, 9600), 0);
    EXPECT_EQ(kptest::Hex(sim.Traffic().host_to_device), c.openSequence);
    int module = -77;
    EXPECT_EQ(KP_DEV_CheckIsOpen(sim.handle(), &module), 0);
    EXPECT_EQ(module, c.module);
    sim.ClearTraffic();
    EXPECT_EQ(sim.Close(), 0);
    EXPECT_TRUE(sim.Traffic().segments.empty());
  }
}

TEST(OpenClose, TypeSixtyOneReadsRawVersionText) {
  SimReader sim("t61");
  ASSERT_EQ(sim.Open(61, 9600), 0);
  sim.control().SetVersion("KP T61 TEST 1.0");
  char version[64];
  std::memset(version, 'x', sizeof version);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), 0);
  // The raw text up to the device's NUL, not hexadecimal.
  EXPECT_STREQ(version, "KP T61 TEST 1.0");
  EXPECT_EQ(kptest::Hex(sim.Traffic().host_to_device), "1B6500");
}

TEST(OpenClose, SecondOpenOfARegisteredPortTakesTheNewSpeed) {
  SimReader sim("t0");
  ASSERT_EQ(sim.Open(0, 9600), 0);
  ASSERT_EQ(sim.Status("host_baud"), "9600");
  // Reopening the handle reopens the port at the speed of the new text.
  ASSERT_EQ(sim.Open(0, 57600), 0);
  EXPECT_EQ(sim.Status("host_baud"), "57600");
}

TEST(OpenClose, MissingDevice) {
  // A COM number whose device does not exist cannot be opened.
  const int unused = kptest::ReserveComNumber();
  const std::string variable = "KPDEV_COM" + std::to_string(unused);
  setenv(variable.c_str(), "/nonexistent/kpdev-test-port", 1);
  int handle = -77;
  const std::string portText = "COM" + std::to_string(unused) + ":9600:N:8:1";
  EXPECT_EQ(KP_DEV_OpenDevice(0, portText.c_str(), &handle), -1);
  EXPECT_EQ(handle, -77);
  int module = -77;
  EXPECT_EQ(KP_DEV_CheckIsOpen(unused, &module), -10);
  unsetenv(variable.c_str());
  kptest::ReleaseComNumber(unused);
}

}  // namespace
