// Automatic open against virtual readers: the listed ports are the COM
// numbers whose KPDEV_COM<n> variable is set, in ascending order, and each
// virtual reader hears only what the host sends at its own line speed, so
// the traffic logs show which candidates reached which reader.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <string>

#include "integration/card_wire.h"
#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::Hex;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

constexpr char kMissingDevice[] = "/nonexistent/kpdev-auto-open";

// Clears every KPDEV_COM<n> variable for the test and puts them back
// afterwards, so that only the test's ports are listed.  The machine's own
// serial ports (a ttyS device with a known UART type) are redirected to a
// device that does not exist: they are listed, fail at once, and are never
// opened.
class PortVariables {
 public:
  PortVariables() {
    for (int n = 1; n <= 32; ++n) {
      const std::string name = "KPDEV_COM" + std::to_string(n);
      if (const char* value = getenv(name.c_str())) saved_[name] = value;
      unsetenv(name.c_str());
    }
    for (int k = 0; k < 32; ++k) {
      std::ifstream type("/sys/class/tty/ttyS" + std::to_string(k) + "/type");
      int uart = 0;
      if (type >> uart && uart != 0) setenv(("KPDEV_COM" + std::to_string(k + 1)).c_str(), kMissingDevice, 1);
    }
  }
  ~PortVariables() {
    for (int n = 1; n <= 32; ++n) unsetenv(("KPDEV_COM" + std::to_string(n)).c_str());
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
};

// A COM number that names a device that does not exist: every open fails.
constexpr int kMissingCom = 5;

TEST(AutoOpen, TypeOneReaderOnTheThirdListedPortAt38400) {
  PortVariables variables;
  // COM numbers are handed out from 32 down: the reader is listed last.
  SimReader reader("t1", {"--device-baud", "38400"});
  SimReader wrongFamily("t61", {"--device-baud", "115200"});
  setenv(("KPDEV_COM" + std::to_string(kMissingCom)).c_str(), kMissingDevice, 1);
  ASSERT_LT(wrongFamily.com(), reader.com());

  int port = 0, baud = 0, handle = -77;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port, &baud, &handle, 1), 0);
  EXPECT_EQ(port, reader.com());
  EXPECT_EQ(baud, 38400);
  EXPECT_EQ(handle, reader.com());
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(handle, &module), 0);
  EXPECT_EQ(module, 1);

  // The second listed port was tried at every speed before the third (the
  // exact series is checked against the scripted device in the unit tests).
  EXPECT_FALSE(wrongFamily.Traffic().host_to_device.empty());
  const Bytes version = CommandFrame(0x3111, HexBytes("00"));
  // The reader heard its version request at 38400 (the fourth speed) and
  // nothing before it.
  EXPECT_EQ(Hex(reader.Traffic().host_to_device), Hex(version));
  EXPECT_EQ(reader.Status("host_baud"), "38400");

  // Nothing else stayed open.
  EXPECT_EQ(KP_DEV_CheckIsOpen(wrongFamily.com(), &module), -10);
  EXPECT_EQ(KP_DEV_CheckIsOpen(kMissingCom, &module), -10);
  EXPECT_EQ(KP_DEV_CloseDevice(handle), 0);
}

TEST(AutoOpen, TypeSixtyOneSuggestedPortTriedFirstThenAgainInTheList) {
  PortVariables variables;
  SimReader reader("t61", {"--device-baud", "19200"});
  SimReader wrongFamily("t1", {"--device-baud", "115200"});
  ASSERT_LT(wrongFamily.com(), reader.com());

  // The suggestion: the reader's port with no speed, which becomes 115200
  // for type 61.  It fails there, and the list is searched from its start.
  int port = reader.com(), baud = 0, handle = -77;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port, &baud, &handle, 61), 0);
  EXPECT_EQ(port, reader.com());
  EXPECT_EQ(baud, 19200);
  EXPECT_EQ(handle, reader.com());
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(handle, &module), 0);
  EXPECT_EQ(module, 61);

  // The type-61 version request (ESC e NUL) reached the other reader only
  // at 115200; the reader heard it at 19200.
  EXPECT_EQ(Hex(wrongFamily.Traffic().host_to_device), "1B6500");
  const kpsim::WireTraffic found = reader.Traffic();
  EXPECT_EQ(Hex(found.host_to_device), "1B6500");
  // Its first two requests (the suggestion and the list's first speed, both
  // 115200) were noise to it.
  EXPECT_EQ(Hex(found.host_noise), "1B65001B6500");
  EXPECT_EQ(KP_DEV_CloseDevice(handle), 0);
}

TEST(AutoOpen, NoReaderAnywhereReportsTheLastAttempt) {
  PortVariables variables;
  setenv(("KPDEV_COM" + std::to_string(kMissingCom)).c_str(), kMissingDevice, 1);
  SimReader silent("t61", {"--device-baud", "9600"});
  // Type 61 never tries 9600: every version request is noise, the last one
  // (57600) fails with -4 after its open.
  int port = 0, baud = 0, handle = -77;
  EXPECT_EQ(KP_DEV_AutoOpenDevice(&port, &baud, &handle, 61), -4);
  EXPECT_EQ(port, silent.com());
  EXPECT_EQ(baud, 57600);
  EXPECT_EQ(handle, silent.com());  // written by the last open, closed again
  int module = -1;
  EXPECT_EQ(KP_DEV_CheckIsOpen(silent.com(), &module), -10);
  EXPECT_EQ(Hex(silent.Traffic().host_noise),
            "1B6500"
            "1B6500"
            "1B6500"
            "1B6500");
}

}  // namespace
