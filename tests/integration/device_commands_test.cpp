// Device speed, module re-selection and the buzzer through the exported
// interface against the virtual reader: the exact frames and escape
// sequences each family puts on the line, and what the device makes of them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kp_dev.h"
#include "support/sim_reader.h"
#include "support/wait.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::Hex;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

TEST(SetBaudRate, TypeOneSendsCommand3001AndOnlyTheDeviceChangesSpeed) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(1, 9600), 0);
  sim.ClearTraffic();

  // 38400 is code 2: data 01 02, checksum 30 ^ 01 ^ 01 ^ 02 = 32.
  ASSERT_EQ(KP_DEV_SetBaudRate(sim.handle(), 38400), 0);
  EXPECT_EQ(Hex(sim.Traffic().host_to_device),
            "023030303433303031303130323332"
            "03");
  EXPECT_EQ(sim.Status("device_baud"), "38400");
  EXPECT_EQ(sim.Status("host_baud"), "9600");

  // The host kept its speed, so the device no longer understands it.
  sim.ClearTraffic();
  char version[64] = "keep";
  EXPECT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), -4);
  EXPECT_STREQ(version, "keep");
  EXPECT_EQ(sim.Traffic().host_noise, HexBytes("02 30 30 30 33 33 31 31 31 30 30 32 30 03"));

  // Reopening at the new speed brings both ends together again; the module
  // switch at 9600 goes unheard and does not stop the open.
  sim.ClearTraffic();
  ASSERT_EQ(sim.Open(1, 38400), 0);
  EXPECT_EQ(Hex(sim.Traffic().host_noise), "1B244932");
  sim.control().SetVersionBytes({0xA1, 0xB2});
  ASSERT_EQ(KP_DEV_GetDeviceVersion(sim.handle(), version), 0);
  EXPECT_STREQ(version, "A1B2");
}

TEST(SetBaudRate, FramesOfEveryFamily) {
  struct Case {
    const char* family;
    int type;
    int baud;
    const char* wire;        // the request on the line
    const char* deviceBaud;  // the device's speed afterwards
  };
  const Case cases[] = {
      // 14400 has no code of its own: code 0, the device stays at 9600.
      {"t1", 1, 14400, "02 30 30 30 34 33 30 30 31 30 31 30 30 33 30 03", "9600"},
      {"t1", 5, 19200, "02 30 30 30 34 33 30 30 31 30 31 30 31 33 31 03", "19200"},
      // The type-61 reader sends the same command as type 1.
      {"t61", 61, 57600, "02 30 30 30 34 33 30 30 31 30 31 30 33 33 33 03", "57600"},
      // The type-0 reader sends 0x3003 with the code alone: 30 ^ 03 ^ 04 = 37.
      {"t0", 0, 115200, "02 30 30 30 33 33 30 30 33 30 34 33 37 03", "115200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.family) + " " + std::to_string(c.baud));
    SimReader sim(c.family);
    ASSERT_EQ(sim.Open(c.type, 9600), 0);
    sim.ClearTraffic();
    EXPECT_EQ(KP_DEV_SetBaudRate(sim.handle(), c.baud), 0);
    EXPECT_EQ(Hex(sim.Traffic().host_to_device), Hex(HexBytes(c.wire)));
    EXPECT_EQ(sim.Status("device_baud"), c.deviceBaud);
    EXPECT_EQ(sim.Status("host_baud"), "9600");
  }
}

TEST(SetDeviceModule, ResendsTheSequenceOfTheOpenModuleAndMapsTheReply) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(1, 19200), 0);
  ASSERT_EQ(sim.Status("device_baud"), "19200");
  sim.ClearTraffic();

  // The argument is not consulted: module 1 re-sends ESC $ I with the digit
  // of the speed the reader was opened at.
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 3), 0);
  kpsim::WireTraffic t = sim.Traffic();
  EXPECT_EQ(Hex(t.host_to_device), "1B244931");
  EXPECT_EQ(Hex(t.device_to_host), "1B30");

  sim.control().Fault("modreply 1");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 1), -301);
  sim.control().Fault("modreply 2");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 1), -302);
  sim.control().Fault("modreply 7");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 1), -9);
  // No reply at all: the wait for the two reply bytes runs out.
  sim.control().Fault("silent");
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 1), -2);
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 1), 0);
}

TEST(SetDeviceModule, TypeTwoResendsMagneticSelection) {
  SimReader sim("t1");
  ASSERT_EQ(sim.Open(2, 9600), 0);
  sim.ClearTraffic();
  EXPECT_EQ(KP_DEV_SetDeviceModule(sim.handle(), 0), 0);
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), "1B2442");
}

TEST(Voice, PrebuiltFramesOnEveryFamilyWithoutWaitingForAnAnswer) {
  struct Case {
    const char* family;
    int type;
  };
  const Bytes on = HexBytes("02 30 30 30 32 33 31 31 37 32 36 03");
  const Bytes off = HexBytes("02 30 30 30 32 33 31 31 36 32 37 03");
  for (const Case& c : {Case{"t1", 1}, Case{"t61", 61}, Case{"t0", 0}}) {
    SCOPED_TRACE(c.family);
    SimReader sim(c.family);
    ASSERT_EQ(sim.Open(c.type, 9600), 0);
    sim.ClearTraffic();

    // Any non-zero argument means on.
    EXPECT_EQ(KP_DEV_IC_Voice(sim.handle(), 5), 0);
    EXPECT_TRUE(kptest::WaitUntil([&] { return sim.Traffic().host_to_device == on; }));
    EXPECT_EQ(sim.Status("buzzer"), "on");

    sim.ClearTraffic();
    EXPECT_EQ(KP_DEV_IC_Voice(sim.handle(), 0), 0);
    EXPECT_TRUE(kptest::WaitUntil([&] { return sim.Traffic().host_to_device == off; }));
    EXPECT_EQ(sim.Status("buzzer"), "off");
    EXPECT_TRUE(sim.Traffic().device_to_host.empty());
  }
}

TEST(FrameHelper, BuildsTheFramesOfTheProtocolExamples) {
  // Later integration tests compare the line with frames built by this
  // helper; it must agree with the worked examples of the frame rule.
  EXPECT_EQ(CommandFrame(0x3117), HexBytes("02 30 30 30 32 33 31 31 37 32 36 03"));
  EXPECT_EQ(CommandFrame(0x3111, {0x00}), HexBytes("02 30 30 30 33 33 31 31 31 30 30 32 30 03"));
  EXPECT_EQ(CommandFrame(0x3003, {0x02}), HexBytes("02 30 30 30 33 33 30 30 33 30 32 33 31 03"));
  // 12 ^ 34 ^ AB = 8D; the data byte AB travels as 3A 3B.
  EXPECT_EQ(CommandFrame(0x1234, {0xAB}), HexBytes("02 30 30 30 33 31 32 33 34 3A 3B 38 3D 03"));
}

}  // namespace
