// The whole library behind a scripted device: every port the library opens
// gets a line whose device answers each write with the next chunk of the
// fuzz input, and a clock that moves only when the library waits.  The
// target opens a reader of some type and drives a sequence of exports (the
// device and card operations, the financial services, the read-any-card
// pass, the magnetic head, memory cards and the identity card), all chosen
// by the input too.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "platform/platform.h"
#include "platform/serial_line.h"
#include "serial/serial_port.h"

namespace {

FuzzedDataProvider* g_input = nullptr;
std::uint32_t g_now = 0;

std::uint32_t FakeTick() { return g_now; }
void FakeSleep(unsigned ms) { g_now += ms; }
const kp::platform::ClockOverride kFakeClock{FakeTick, FakeSleep};

// The device: after each write it has the next chunk of the input to say
// (a length byte, then that many bytes); unasked it says nothing.
class ScriptedLine final : public kp::platform::Line {
 public:
  bool Open(int, const kp::platform::LineSettings&) override {
    open_ = g_input->remaining_bytes() == 0 || g_input->ConsumeIntegralInRange<int>(0, 15) != 0;
    return open_;
  }
  void Close() override {
    open_ = false;
    queue_.clear();
  }
  bool IsOpen() const override { return open_; }
  int Write(const std::uint8_t*, std::size_t) override {
    if (!open_) return -1;
    const std::size_t n = g_input->ConsumeIntegral<std::uint8_t>();
    const std::vector<std::uint8_t> answer = g_input->ConsumeBytes<std::uint8_t>(n);
    queue_.insert(queue_.end(), answer.begin(), answer.end());
    return 0;
  }
  int ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) override {
    *got = 0;
    if (!open_ || queue_.empty()) return -1;
    while (*got < room && !queue_.empty()) {
      buffer[(*got)++] = queue_.front();
      queue_.pop_front();
    }
    return 0;
  }
  bool WaitInput(std::size_t atLeast, int timeoutMs) override {
    if (queue_.size() >= atLeast) return true;
    if (timeoutMs > 0) g_now += static_cast<std::uint32_t>(timeoutMs);
    return false;
  }
  std::size_t InputCount() override { return open_ ? queue_.size() : 0; }
  int Purge() override {
    queue_.clear();
    return open_ ? 1 : 0;
  }

 private:
  bool open_ = false;
  std::deque<std::uint8_t> queue_;
};

std::unique_ptr<kp::platform::Line> MakeScriptedLine() { return std::make_unique<ScriptedLine>(); }

constexpr int kPort = 5;
constexpr int kTypes[] = {0, 1, 2, 5, 61, 62};

struct Buffers {
  char a[8192], b[8192], c[8192];
  int n = 0, m = 0;
  Buffers() { Clear(); }
  void Clear() {
    std::memset(a, 0, sizeof a);
    std::memset(b, 0, sizeof b);
    std::memset(c, 0, sizeof c);
  }
};

std::string HexText(FuzzedDataProvider& in, std::size_t most) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, most));
  for (char& c : text) c = kDigits[static_cast<unsigned char>(c) % 16];
  if (text.size() % 2) text.pop_back();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kp::platform::SetLineFactoryOverride(MakeScriptedLine);
  kp::platform::SetClockOverride(&kFakeClock);
  setenv("KPDEV_LOG", "off", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  g_input = &in;
  // What one input left owed or kept on the port must not steer the next.
  kp::ForgetLineStates();
  static Buffers buf;
  buf.Clear();
  int handle = 0;
  const int type = in.PickValueInArray(kTypes);
  const std::string target = "COM5:" + std::string(in.ConsumeBool() ? "115200" : "9600") + ":N:8:1";
  (void)KP_DEV_OpenDevice(type, target.c_str(), &handle);
  for (int step = 0; step < 12 && in.remaining_bytes() > 0; ++step) {
    const int seat = in.ConsumeBool() ? 0 : 255;
    buf.n = 256;
    buf.m = 256;
    switch (in.ConsumeIntegralInRange<int>(0, 21)) {
      case 0:
        (void)KP_DEV_GetDeviceVersion(kPort, buf.a);
        break;
      case 1:
        (void)KP_DEV_IC_PowerOn(kPort, seat, &buf.n, buf.a);
        break;
      case 2: {
        const std::string apdu = HexText(in, 40);
        (void)KP_DEV_IC_SendApdu(kPort, seat, 0, apdu.c_str(), static_cast<int>(apdu.size()), buf.a);
        break;
      }
      case 3:
        (void)KP_DEV_ReadICCardInfo(kPort, seat, 0, buf.a, buf.b, buf.c);
        break;
      case 4:
        (void)KP_DEV_ReadFinanceICTrack2(kPort, seat, 0, buf.a);
        break;
      case 5:
        (void)KP_DEV_ReadICCardGPOData(kPort, seat, 0, buf.a, 4096);
        break;
      case 6:
        (void)KP_DEV_GetICTraceInfo(kPort, seat, 0, "A000000333010101", "00", "000000000100", buf.a);
        break;
      case 7:
        (void)KP_DEV_Magnetic_Accept(kPort);
        break;
      case 8:
        (void)KP_DEV_Magnetic_ReadTrack(kPort, buf.a, buf.b);
        break;
      case 9:
        (void)KP_DEV_Magnetic_ConfirmWriteTrack(kPort);
        break;
      case 10:
        (void)KP_DEV_Magnetic_WaitForWriteTrack(kPort, "", "1234567890");
        break;
      case 11:
        (void)KP_DEV_IC_ConnectlessActive(kPort, &buf.n, &buf.m, buf.a, &buf.n, buf.b);
        break;
      case 12:
        (void)KP_DEV_IC_ConnectlessReadBlock(kPort, in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), &buf.n,
                                             buf.a);
        break;
      case 13:
        (void)KP_DEV_SLE4442_ReadDataForUser(kPort, seat, in.ConsumeIntegralInRange<int>(-2, 300),
                                             in.ConsumeIntegralInRange<int>(-2, 300), buf.a);
        break;
      case 14:
        (void)KP_DEV_AT24CXX_ReadData(kPort, seat, in.ConsumeIntegralInRange<int>(-2, 70000),
                                      in.ConsumeIntegralInRange<int>(-2, 1100), buf.a);
        break;
      case 15: {
        char* fields[9];
        static char text[9][1024];
        for (int i = 0; i < 9; ++i) fields[i] = text[i];
        (void)KP_DEV_ID_Read(kPort, in.ConsumeIntegralInRange<int>(0, 1000), fields);
        break;
      }
      case 16:
        (void)KP_DEV_ID_GetData(kPort, in.ConsumeIntegralInRange<int>(0, 10), buf.a);
        break;
      case 17: {
        int kind = 0;
        (void)KP_DEV_ReadAll(kPort, 0, in.ConsumeIntegralInRange<unsigned>(300, 2000), in.ConsumeBool(), 1, 0, 0x60,
                             "FFFFFFFFFFFF", in.ConsumeBool(), in.ConsumeBool(), 0, &kind, buf.a);
        break;
      }
      case 18: {
        int kind = 0;
        (void)KP_DEV_ReadAll_A(kPort, 0, 0, in.ConsumeBool(), 1, 0, 0x60, "FFFFFFFFFFFF", in.ConsumeBool(),
                               in.ConsumeBool(), 0, &kind, buf.a);
        break;
      }
      case 19:
        (void)KP_DEV_SetDeviceModule(kPort, 1);
        break;
      case 20:
        (void)KP_DEV_IC_GetStatus(kPort, seat, &buf.n);
        break;
      default: {
        const std::string apdu = HexText(in, 40);
        (void)KP_DEV_IC_SendApdu_A(kPort, seat, 0, apdu.c_str(), static_cast<int>(apdu.size()), buf.a);
        break;
      }
    }
  }
  (void)KP_DEV_CloseDevice(kPort);
  (void)KP_DEV_CloseDevice(handle);
  g_input = nullptr;
  return 0;
}
