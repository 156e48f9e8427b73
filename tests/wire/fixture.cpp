#include "wire/fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "kp_dev.h"
#include "wire/bytes.h"
#include "wire/frame.h"

namespace kptest {

namespace {

constexpr int kIdleGapMs = 15;

void WriteAll(int fd, const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

}  // namespace

Bytes ResponseFrame(std::uint16_t status, const Bytes& data) { return kp::wire::EncodeFrame(status, data); }

Bytes FromHex(const std::string& hex) {
  Bytes out;
  int nibble = -1;
  for (char c : hex) {
    const int v = kp::wire::HexDigitValue(c);
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(nibble * 16 + v));
      nibble = -1;
    }
  }
  return out;
}

std::string ToHexText(const Bytes& bytes) { return kp::wire::ToHex(bytes); }

FakeDevice::FakeDevice(int com) : com_(com) {
  if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  termios t{};
  ::tcgetattr(master_, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(master_, TCSANOW, &t);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
  const std::string name = "KPDEV_COM" + std::to_string(com);
  ::setenv(name.c_str(), ::ttyname(slave_), 1);
  thread_ = std::thread([this] { Run(); });
}

FakeDevice::~FakeDevice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  const char c = 'x';
  (void)!::write(wake_[1], &c, 1);
  thread_.join();
  const std::string name = "KPDEV_COM" + std::to_string(com_);
  ::unsetenv(name.c_str());
  ::close(master_);
  ::close(slave_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::string FakeDevice::PortSpec(int baud) const {
  return "COM" + std::to_string(com_) + ":" + std::to_string(baud) + ":N:8:1";
}

void FakeDevice::Reply(const Bytes& bytes, std::size_t rawLength) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back({bytes, rawLength});
}

void FakeDevice::Push(const Bytes& bytes) { WriteAll(master_, bytes); }

bool FakeDevice::WaitQueued(std::size_t n, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int queued = 0;
    if (::ioctl(slave_, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) >= n) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // The pseudo-terminal hands the bytes over on its own schedule and
    // tells nobody; ask again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::vector<Bytes> FakeDevice::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

Bytes FakeDevice::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void FakeDevice::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  requests_.clear();
}

Bytes FakeDevice::ReceivedSettled(std::size_t n) {
  // Waits for the bytes the test expects (a loaded machine may take long to
  // pass them), then a little longer so that a stray extra one shows.
  constexpr int kArriveMs = 2000;
  constexpr int kStrayMs = 40;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(kArriveMs), [&] { return received_.size() >= n; });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(kStrayMs));
  return Received();
}

bool FakeDevice::WaitRequests(std::size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
}

void FakeDevice::Complete(Bytes& pending) {
  Bytes reply;
  bool have = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(pending);
    if (!replies_.empty()) {
      reply = replies_.front().reply;
      replies_.pop_front();
      have = true;
    }
  }
  cv_.notify_all();
  pending.clear();
  if (have && !reply.empty()) WriteAll(master_, reply);
}

void FakeDevice::Run() {
  Bytes pending;
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    // A raw (non-frame) request ends when the line goes quiet.
    const int timeout = pending.empty() ? -1 : kIdleGapMs;
    const int n = ::poll(fds, 2, timeout);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    if (n == 0) {
      Complete(pending);
      continue;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    std::uint8_t buf[4096];
    const ssize_t got = ::read(master_, buf, sizeof buf);
    if (got <= 0) continue;
    for (ssize_t i = 0; i < got; ++i) {
      const std::uint8_t b = buf[i];
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(b);
      }
      cv_.notify_all();
      pending.push_back(b);
      bool whole = b == 0x03 && pending.front() == 0x02;
      if (!whole && pending.front() != 0x02) {
        std::lock_guard<std::mutex> lock(mutex_);
        whole = !replies_.empty() && replies_.front().rawLength == pending.size();
      }
      if (whole) Complete(pending);
    }
  }
}

const Bytes kEscOk = {0x1B, '0'};

Frames SentBy(FakeDevice& dev) {
  const Frames sent = dev.Requests();
  dev.ClearReceived();
  return sent;
}

int ReaderTest::Open(int type, int baud) {
  Close();
  if (type == 1 || type == 2) dev_.Reply(kEscOk);
  EXPECT_EQ(KP_DEV_OpenDevice(type, dev_.PortSpec(baud).c_str(), &h_), 0);
  type_ = type;
  dev_.ClearReceived();
  return h_;
}

void ReaderTest::Close() {
  if (type_ == 1) dev_.Reply(kEscOk);  // closing puts the IC module back to 9600 baud
  if (type_ >= 0) KP_DEV_CloseDevice(h_);
  type_ = -1;
  dev_.ClearReceived();
}

Bytes ReaderTest::OnlyRequest() {
  const Frames sent = Sent();
  return sent.size() == 1 ? sent[0] : Bytes{};
}

void ReaderTest::ExpectFrames(const std::vector<Call>& calls) {
  for (const Call& c : calls) {
    SCOPED_TRACE(c.data);
    dev_.ClearReceived();
    Ok();
    EXPECT_EQ(c.call(h_), 0);
    EXPECT_EQ(OnlyRequest(), CommandFrame(c.command, FromHex(c.data)));
  }
}

}  // namespace kptest
