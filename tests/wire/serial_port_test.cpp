#include "serial/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/trace.h"

namespace kp {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes8 = std::vector<std::uint8_t>;

constexpr int kCom = 7;

std::vector<std::string>& Traces() {
  static std::vector<std::string> traces;
  return traces;
}
void RecordTrace(const char* text) { Traces().emplace_back(text); }

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A pseudo-terminal stands in for the cable: the port opens the slave by
// the path given in KPDEV_COM7, the test plays the device on the master.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
    const char* name = ttyname(slave_);
    ASSERT_NE(nullptr, name);
    setenv(("KPDEV_COM" + std::to_string(kCom)).c_str(), name, 1);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    Traces().clear();
    SetTraceSink(&RecordTrace);
  }
  void TearDown() override {
    port_.Close();
    SetTraceSink(nullptr);
    if (master_ >= 0) close(master_);
    close(slave_);
    unsetenv(("KPDEV_COM" + std::to_string(kCom)).c_str());
  }

  void OpenDefault() { ASSERT_EQ(0, port_.Open(kCom, kp::platform::LineSettings::Plain(9600))); }

  void DeviceSends(const Bytes8& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(master_, bytes.data(), bytes.size()));
  }

  // What the port sent, up to n bytes, collected for at most ms.
  Bytes8 DeviceReceives(std::size_t n, int ms) {
    Bytes8 got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      std::uint8_t chunk[256];
      const ssize_t r = read(master_, chunk, std::min(sizeof chunk, n - got.size()));
      if (r <= 0) break;
      got.insert(got.end(), chunk, chunk + r);
    }
    return got;
  }

  termios SlaveSettings() {
    termios tio{};
    EXPECT_EQ(0, tcgetattr(slave_, &tio));
    return tio;
  }

  bool Traced(const std::string& text) const {
    return std::find(Traces().begin(), Traces().end(), text) != Traces().end();
  }

  int master_ = -1;
  int slave_ = -1;
  CSerialPort port_;
};

TEST_F(SerialPortTest, RefusedOpensLeaveThePortClosed) {
  EXPECT_EQ(-1, port_.Open(33, kp::platform::LineSettings::Plain(9600)));
  EXPECT_EQ(-1, port_.Open(0, kp::platform::LineSettings::Plain(9600)));
  EXPECT_FALSE(port_.IsOpen());
  // An open port is closed before the parameters are looked at.
  OpenDefault();
  EXPECT_EQ(-5, port_.Open(kCom, kp::platform::LineSettings::Plain(14400)));
  EXPECT_FALSE(port_.IsOpen());

  const std::uint8_t b[2] = {1, 2};
  EXPECT_EQ(-3, port_.Write(b, 2));
  EXPECT_TRUE(Traced("Send -0"));
  std::uint8_t buf[2];
  std::uint16_t got = 0xBEEF;
  EXPECT_EQ(-2, port_.ReadWhenAvailable(buf, 2, &got, 50));
  EXPECT_EQ(0xBEEF, got);
  EXPECT_FALSE(port_.HasInput());  // a closed port holds no input
  EXPECT_EQ(0u, port_.InputCount());
  EXPECT_EQ(0, port_.Purge());
  EXPECT_EQ(0, port_.Close());
}

TEST_F(SerialPortTest, OpenConfiguresRawLine) {
  kp::platform::LineSettings evenSevenTwo;
  evenSevenTwo.baud = 19200;
  evenSevenTwo.dataBits = 7;
  evenSevenTwo.parity = 2;
  evenSevenTwo.stopBits = 2;
  ASSERT_EQ(0, port_.Open(kCom, evenSevenTwo));
  termios tio = SlaveSettings();
  EXPECT_EQ(B19200, cfgetospeed(&tio));
  EXPECT_EQ(B19200, cfgetispeed(&tio));
  // A pseudo-terminal forces CS8 and clears PARENB whatever it is given;
  // what it keeps shows the rest: even parity (no PARODD) with parity
  // checking on input, and two stop bits.
  EXPECT_EQ(0u, tio.c_cflag & PARODD);
  EXPECT_NE(0u, tio.c_iflag & INPCK);
  EXPECT_NE(0u, tio.c_cflag & CSTOPB);
  EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD), tio.c_cflag & (CLOCAL | CREAD | CRTSCTS));
  EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_EQ(0u, tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP));
  EXPECT_EQ(0u, tio.c_oflag & OPOST);
  EXPECT_EQ(0, tio.c_cc[VMIN] + tio.c_cc[VTIME]);

  // Open closes first, so new settings apply without an explicit Close.
  ASSERT_EQ(0, port_.Open(kCom, kp::platform::LineSettings::Plain(9600)));
  tio = SlaveSettings();
  EXPECT_EQ(B9600, cfgetospeed(&tio));
  EXPECT_EQ(0u, tio.c_cflag & (PARODD | CSTOPB));
  EXPECT_EQ(0u, tio.c_iflag & INPCK);
  EXPECT_EQ(kCom, port_.port());
}

TEST_F(SerialPortTest, ReadExactCollectsPiecesAndLeavesTheRestQueued) {
  OpenDefault();
  std::thread device([this] {
    DeviceSends({0x02});
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    DeviceSends({0x30, 0x31, 0x32});
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    DeviceSends({0x33, 0x34, 0x03, 0xAA, 0xBB});
  });
  std::uint8_t buf[9];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  std::size_t got = 0;
  const int result = port_.ReadExact(buf, 7, &got, 2000);
  device.join();
  ASSERT_EQ(0, result);
  EXPECT_EQ(7u, got);
  EXPECT_EQ((Bytes8{0x02, 0x30, 0x31, 0x32, 0x33, 0x34, 0x03, 0xEE}), Bytes8(buf, buf + 8));

  // The two bytes past the count are still there for the next read.
  std::uint16_t n16 = 0;
  ASSERT_EQ(0, port_.Read(buf, 2, &n16, 500));
  EXPECT_EQ(2, n16);
  EXPECT_EQ(0xAA, buf[0]);
  EXPECT_EQ(0xBB, buf[1]);
}

TEST_F(SerialPortTest, PartialAnswerFailsAfterTimeoutWithBytesSoFar) {
  OpenDefault();
  std::uint8_t buf[6];
  // Nothing queued: taking what is there fails at once.
  std::size_t none = 0;
  EXPECT_EQ(-4, port_.ReadSome(buf, sizeof buf, &none));
  EXPECT_TRUE(Traced("GetString -7"));

  DeviceSends({0x02, 0x39, 0x30});
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  std::size_t got = 0;
  const auto start = Clock::now();
  EXPECT_EQ(-4, port_.ReadExact(buf, 5, &got, 800));
  EXPECT_GE(MsSince(start), 800);
  EXPECT_EQ(3u, got);
  EXPECT_EQ((Bytes8{0x02, 0x39, 0x30, 0xEE, 0xEE, 0xEE}), Bytes8(buf, buf + 6));

  // The 16-bit form reports a count only on success.
  DeviceSends({0x41});
  std::uint16_t n16 = 0xBEEF;
  EXPECT_EQ(-4, port_.Read(buf, 2, &n16, 200));
  EXPECT_EQ(0xBEEF, n16);
}

// A device still sending holds a read past its timeout; once it stops for
// longer than the input gap (100 ms at 9600), the read fails.
TEST_F(SerialPortTest, AnswerStillArrivingOutlastsTheTimeoutUntilTheLineGoesQuiet) {
  OpenDefault();
  std::thread device([this] {
    for (std::uint8_t i = 0; i < 40; ++i) {
      DeviceSends({static_cast<std::uint8_t>(0x30 + i % 10)});
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  std::uint8_t buf[40];
  std::size_t got = 0;
  const auto start = Clock::now();
  EXPECT_EQ(0, port_.ReadExact(buf, sizeof buf, &got, 100));
  device.join();
  EXPECT_EQ(40u, got);
  EXPECT_GE(MsSince(start), 300);

  std::thread late([this] {
    DeviceSends({0x02});
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    DeviceSends({0x30});
  });
  const auto again = Clock::now();
  EXPECT_EQ(-4, port_.ReadExact(buf, 5, &got, 100));
  late.join();
  EXPECT_EQ(2u, got);
  EXPECT_GE(MsSince(again), 170);  // the second byte's gap, not the first deadline, ended it
}

// A wait that watches a cancel ends within milliseconds of one made from
// another thread after its mark.  One made before the mark, or made while a
// wait watches nothing, leaves the wait its full time.  Both waits a cancel
// reaches behave alike: the plain wait for input and the listen for the
// head.
TEST_F(SerialPortTest, CancelEndsOnlyTheWaitsThatWatchIt) {
  OpenDefault();
  using Wait = std::function<void(int ms, const CancelWatch* cancel)>;
  const std::pair<const char*, Wait> waits[] = {
      {"WaitForInput", [this](int ms, const CancelWatch* c) { EXPECT_FALSE(port_.WaitForInput(1, ms, c)); }},
      {"Listen", [this](int ms, const CancelWatch* c) { port_.Listen(ms, c); }},
  };
  struct Case {
    const char* what;
    bool watched;
    bool cancelBeforeMark;  // instead of during the wait
    int waitMs;
    long atLeastMs;  // the wait takes at least this long
    long belowMs;    // and ends before this
  };
  const Case cases[] = {
      // Without the wake the wait would run its 3 s.
      {"cancel during a watched wait", true, false, 3000, 40, 1000},
      {"cancel before the mark", true, true, 300, 300, 2000},
      {"cancel during a wait that watches nothing", false, false, 300, 300, 2000},
  };
  for (const auto& [name, wait] : waits) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.what);
      CancelToken token;
      if (c.cancelBeforeMark) token.Cancel();
      const CancelWatch watch{&token, token.Start()};
      std::thread canceller([&token, &c] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!c.cancelBeforeMark) token.Cancel();
      });
      const auto start = Clock::now();
      wait(c.waitMs, c.watched ? &watch : nullptr);
      const long elapsed = MsSince(start);
      canceller.join();
      EXPECT_GE(elapsed, c.atLeastMs);
      EXPECT_LT(elapsed, c.belowMs);
    }
  }
}

// Input already queued is the answer even with a cancel pending; and a
// cancel at any moment, also at the very start of the wait, is never lost.
TEST_F(SerialPortTest, QueuedInputWinsAndNoCancelIsLost) {
  OpenDefault();
  CancelToken token;
  const CancelWatch watch{&token, token.Start()};
  token.Cancel();
  DeviceSends({0x41});
  EXPECT_TRUE(port_.WaitForInput(1, 1000, &watch));
  std::uint8_t b = 0;
  std::size_t got = 0;
  ASSERT_EQ(0, port_.ReadExact(&b, 1, &got, 100));

  // A lost cancel would hold a wait its full 5 s.
  std::mt19937 random(12345);
  for (int i = 0; i < 60; ++i) {
    const CancelWatch fresh{&token, token.Start()};
    const int delayUs = std::uniform_int_distribution<int>(0, 3000)(random);
    std::thread canceller([&token, delayUs] {
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      token.Cancel();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(port_.WaitForInput(1, 5000, &fresh));
    const long elapsed = MsSince(start);
    canceller.join();
    ASSERT_LT(elapsed, 1000) << "cancel " << i << " after " << delayUs << " us";
  }
}

// A cancel cuts only the quiet between units: track data under way when it
// comes is still read to its end and kept whole for the next magnetic read.
TEST_F(SerialPortTest, CancelledListenStillKeepsASwipeUnderWay) {
  OpenDefault();
  const Bytes8 swipe = {0x1B, 0x73, 0x3B, 0x31, 0x32, 0x3F, 0x41, 0x3B, 0x35, 0x36, 0x3F, 0x1C};
  CancelToken token;
  const CancelWatch watch{&token, token.Start()};
  std::thread device([&] {
    DeviceSends(Bytes8(swipe.begin(), swipe.begin() + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    token.Cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    DeviceSends(Bytes8(swipe.begin() + 4, swipe.end()));
  });
  const auto start = Clock::now();
  port_.Listen(3000, &watch);
  const long elapsed = MsSince(start);
  device.join();
  EXPECT_LT(elapsed, 1000);
  std::vector<std::uint8_t> kept;
  ASSERT_TRUE(port_.TakeKept(Unit::kSwipe, &kept));
  EXPECT_EQ(kept, swipe);
  EXPECT_EQ(port_.InputCount(), 0u);
}

TEST_F(SerialPortTest, PortIsExclusive) {
  OpenDefault();
  CSerialPort second;
  EXPECT_EQ(-1, second.Open(kCom, kp::platform::LineSettings::Plain(9600)));
  EXPECT_FALSE(second.IsOpen());

  // The loser's attempt did not disturb the owner.
  const std::uint8_t b[2] = {0x55, 0xAA};
  ASSERT_EQ(0, port_.Write(b, 2));
  EXPECT_EQ((Bytes8{0x55, 0xAA}), DeviceReceives(2, 300));

  port_.Close();
  EXPECT_EQ(0, second.Open(kCom, kp::platform::LineSettings::Plain(9600)));
  EXPECT_EQ(-1, port_.Open(kCom, kp::platform::LineSettings::Plain(9600)));
}

// COM n is the device KPDEV_COM<n> names, else the system's ttyS<n-1>.
TEST(SerialDevicePath, VariableElseTheSystemsPort) {
  unsetenv("KPDEV_COM5");
  EXPECT_EQ(platform::SerialDevicePath(5), "/dev/ttyS4");
  setenv("KPDEV_COM5", "/tmp/kpdev-line", 1);
  EXPECT_EQ(platform::SerialDevicePath(5), "/tmp/kpdev-line");
  unsetenv("KPDEV_COM5");
}

}  // namespace
}  // namespace kp
