// The whole path through a real device server: the library on a COM
// number that names Debian's ser2net (RFC 2217 or raw TCP, on 127.0.0.1),
// ser2net on the virtual reader's pseudo-terminal, the virtual reader
// answering.  What the reader saw (its speed, its traffic) is read from its
// control interface.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "kp_dev.h"
#include "sim_client.h"
#include "wire/fixture.h"

namespace kptest {
namespace {

using Clock = std::chrono::steady_clock;

const char kDebitTrack2[] = "6200001234567892D30122200000012340000F";  // profile pboc-debit-two-sfi

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Ser2net : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kpsim::DeviceServer::Executable().empty()) {
      GTEST_SKIP() << "ser2net is not installed (Debian package ser2net; scripts/deps.sh installs it)";
    }
  }
  void TearDown() override {
    if (sim_) sim_->Close();  // through the server, while it still runs
    server_.reset();
    sim_.reset();
  }

  // A virtual reader of `family` behind ser2net, reachable as COM<n>.
  void Start(const std::string& family, const std::vector<std::string>& extra = {},
             kpsim::DeviceServer::Protocol protocol = kpsim::DeviceServer::Protocol::kRfc2217, int serverBaud = 9600) {
    sim_ = std::make_unique<SimReader>(family, extra);
    server_ = std::make_unique<kpsim::DeviceServer>(sim_->path(), protocol, serverBaud);
    setenv(("KPDEV_COM" + std::to_string(sim_->com())).c_str(), server_->Url().c_str(), 1);
  }
  int h() const { return sim_->handle(); }
  long long Status(const char* key) { return sim_->control().Status().Number(key); }

  std::unique_ptr<SimReader> sim_;
  std::unique_ptr<kpsim::DeviceServer> server_;
};

TEST_F(Ser2net, VersionPowerOnAndAnApduWhoseAnswerHoldsFF) {
  Start("t1", {"--insert", "0 cpu apdu=00B0000004:FF00FFAA9000"});
  ASSERT_EQ(sim_->Open(1, 9600), 0);
  char version[128] = {};
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, "4B502D54312056322E3130");  // "KP-T1 V2.10"
  char atr[128] = {};
  int atrLen = 60;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr), 0);
  EXPECT_GT(atrLen, 0);
  char answer[128] = {};
  ASSERT_EQ(KP_DEV_IC_SendApdu(h(), 0, 0, "00B0000004", 10, answer), 0);
  EXPECT_STREQ(answer, "FF00FFAA9000");
}

TEST_F(Ser2net, RawAnswerBytesFFCrossTheServerUnchanged) {
  // The type-61 version text travels raw: every 0xFF is doubled by the
  // server and must arrive single.
  Start("t61", {"--device-baud", "115200", "--version-hex", "4B50FF41FFFF42"}, kpsim::DeviceServer::Protocol::kRfc2217,
        115200);
  ASSERT_EQ(sim_->Open(61, 115200), 0);
  char version[128] = {};
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version,
               "KP\xFF"
               "A\xFF\xFF"
               "B");
}

TEST_F(Ser2net, BankCardRead) {
  Start("t1", {"--insert", "0 bank profile=pboc-debit-two-sfi"});
  ASSERT_EQ(sim_->Open(1, 9600), 0);
  char atr[128] = {};
  int atrLen = 60;
  ASSERT_EQ(KP_DEV_IC_PowerOn(h(), 0, &atrLen, atr), 0);
  char track2[128] = {}, panSeq[16] = {}, aid[64] = {};
  ASSERT_EQ(KP_DEV_ReadICCardInfo(h(), 0, 0, track2, panSeq, aid), 0);
  EXPECT_STREQ(track2, kDebitTrack2);
}

TEST_F(Ser2net, MagneticSwipe) {
  const char kTrack1[] = "B6222021234567890^KP^25121010";
  const char kTrack2[] = "6222021234567890=25121010000012345";
  Start("t1");
  ASSERT_EQ(sim_->Open(2, 9600), 0);
  ASSERT_EQ(KP_DEV_Magnetic_Accept(h()), 0);
  char one[128] = {}, two[128] = {};
  EXPECT_EQ(KP_DEV_Magnetic_ReadTrack(h(), one, two), -101);
  sim_->control().Ok(std::string("swipe ") + kTrack1 + " " + kTrack2);
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  int r;
  while ((r = KP_DEV_Magnetic_ReadTrack(h(), one, two)) == -101 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(r, 0);
  EXPECT_STREQ(one, kTrack1);
  EXPECT_STREQ(two, kTrack2);
}

TEST_F(Ser2net, TypeOneOpenSetsTheReadersSpeed) {
  Start("t1");
  ASSERT_EQ(sim_->Open(1, 115200), 0);
  char version[128] = {};
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, "4B502D54312056322E3130");
  // The module switch went at 9600, then the server's port (and so what the
  // reader hears) changed to 115200.
  EXPECT_EQ(Status("device_baud"), 115200);
  EXPECT_EQ(Status("host_baud"), 115200);
  const kpsim::WireTraffic t = sim_->Traffic();
  EXPECT_TRUE(t.host_noise.empty()) << ToHexText(t.host_noise);
  EXPECT_EQ(Status("escapes"), 1);
}

TEST_F(Ser2net, SetBaudRateThenReopen) {
  Start("t61");
  ASSERT_EQ(sim_->Open(61, 9600), 0);
  ASSERT_EQ(KP_DEV_SetBaudRate(h(), 115200), 0);
  EXPECT_EQ(Status("device_baud"), 115200);
  EXPECT_EQ(Status("host_baud"), 9600);  // only the device changed
  // The reopen on the kept connection does not wait for the server: the
  // new speed reaches the line before the next request does.
  ASSERT_EQ(sim_->Open(61, 115200), 0);
  char version[128] = {};
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, "KP-T61 V1.05");
  EXPECT_EQ(Status("host_baud"), 115200);
  EXPECT_TRUE(sim_->Traffic().host_noise.empty());
}

TEST_F(Ser2net, RawTcpAtTheServersFixedSpeed) {
  Start("t61", {"--device-baud", "115200"}, kpsim::DeviceServer::Protocol::kRawTcp, 115200);
  ASSERT_EQ(sim_->Open(61, 115200), 0);
  char version[128] = {};
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, "KP-T61 V1.05");
}

TEST_F(Ser2net, KilledDuringAnExchangeFailsFastAndTheNextOpenReconnects) {
  Start("t1");
  ASSERT_EQ(sim_->Open(1, 9600), 0);
  sim_->control().Fault("silent");  // the version request stays unanswered
  std::thread killer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server_->Kill();
  });
  char version[128] = {};
  const double cpu = CpuMs();
  const auto start = Clock::now();
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h(), version), -4);
  const double took = MsSince(start);
  const double spent = CpuMs() - cpu;
  killer.join();
  EXPECT_LT(took, 600);  // its timeout is 800 ms; the end of the connection ends it
  EXPECT_LT(spent, 30) << "processor time while waiting: " << spent << " ms of " << took;
  EXPECT_EQ(KP_DEV_GetDeviceVersion(h(), version), -3);  // nothing more can be sent

  server_->Start();  // the same port
  ASSERT_EQ(sim_->Open(1, 9600), 0);
  ASSERT_EQ(KP_DEV_GetDeviceVersion(h(), version), 0);
  EXPECT_STREQ(version, "4B502D54312056322E3130");
}

}  // namespace
}  // namespace kptest
