// The whole library behind a scripted device: every port the library opens
// gets a line whose device answers each write with the next chunk of the
// fuzz input, and a clock that moves only when the library waits.  The
// target opens a reader of some type and drives a sequence of exports (the
// device and card operations, the financial services, the read-any-card
// pass, the magnetic head, memory cards and the identity card), all chosen
// by the input too.  Each output has exactly its documented room and a
// guard behind it (export_rooms.h), so an overrun shows.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "export_rooms.h"
#include "kp_dev.h"
#include "platform/platform.h"
#include "platform/serial_line.h"
#include "serial/serial_port.h"
#include "wire/bytes.h"

namespace {

using kpfuzz::Output;

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
  bool WaitInput(std::size_t atLeast, int timeoutMs, const kp::CancelWatch*) override {
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
// The contact seat, a seat whose answer to reset a type-0 reader replays,
// and the contactless card.
constexpr int kSeats[] = {0, 16, 255};

std::string HexText(FuzzedDataProvider& in, std::size_t most) {
  std::string text = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, most));
  for (char& c : text) c = kp::wire::HexDigit(static_cast<unsigned char>(c));
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
  int handle = 0;
  const int type = in.PickValueInArray(kTypes);
  const std::string target = "COM5:" + std::string(in.ConsumeBool() ? "115200" : "9600") + ":N:8:1";
  (void)KP_DEV_OpenDevice(type, target.c_str(), &handle);
  // Every output gets exactly the room kp_dev.h gives it (kpfuzz::Output).
  for (int step = 0; step < 12 && in.remaining_bytes() > 0; ++step) {
    const int seat = in.PickValueInArray(kSeats);
    const int operation = in.ConsumeIntegralInRange<int>(0, 29);
    switch (operation) {
      case 0: {
        Output version("KP_DEV_GetDeviceVersion", "version");
        (void)KP_DEV_GetDeviceVersion(kPort, version.get());
        break;
      }
      case 1: {
        int atrLen = in.ConsumeIntegralInRange<int>(-1, 70);
        Output atr("KP_DEV_IC_PowerOn", "atr", {{"atrLen", atrLen}});
        (void)KP_DEV_IC_PowerOn(kPort, seat, &atrLen, atr.get());
        break;
      }
      case 2: {
        const std::string apdu = HexText(in, 40);
        Output response("KP_DEV_IC_SendApdu", "response");
        (void)KP_DEV_IC_SendApdu(kPort, seat, 0, apdu.c_str(), static_cast<int>(apdu.size()), response.get());
        break;
      }
      case 3: {
        Output track2("KP_DEV_ReadICCardInfo", "track2");
        Output panSeq("KP_DEV_ReadICCardInfo", "panSeq");
        Output aid("KP_DEV_ReadICCardInfo", "aid");
        (void)KP_DEV_ReadICCardInfo(kPort, seat, 0, track2.get(), panSeq.get(), aid.get());
        break;
      }
      case 4: {
        Output track2("KP_DEV_ReadFinanceICTrack2", "track2");
        (void)KP_DEV_ReadFinanceICTrack2(kPort, seat, 0, track2.get());
        break;
      }
      case 5: {
        const int capacity = in.ConsumeIntegralInRange<int>(0, 4096);
        Output records("KP_DEV_ReadICCardGPOData", "records", {{"capacity", capacity}});
        (void)KP_DEV_ReadICCardGPOData(kPort, seat, 0, records.get(), capacity);
        break;
      }
      case 6: {
        Output chipData("KP_DEV_GetICTraceInfo", "chipData");
        (void)KP_DEV_GetICTraceInfo(kPort, seat, 0, "A000000333010101", "00", "000000000100", chipData.get());
        break;
      }
      case 7:
        (void)KP_DEV_Magnetic_Accept(kPort);
        break;
      case 8: {
        Output track1("KP_DEV_Magnetic_ReadTrack", "track1");
        Output track2("KP_DEV_Magnetic_ReadTrack", "track2");
        (void)KP_DEV_Magnetic_ReadTrack(kPort, track1.get(), track2.get());
        break;
      }
      case 9:
        (void)KP_DEV_Magnetic_ConfirmWriteTrack(kPort);
        break;
      case 10:
        (void)KP_DEV_Magnetic_WaitForWriteTrack(kPort, "", "1234567890");
        break;
      case 11:
      case 22: {
        // The processor card's activation, or the sector card's (22).
        const char* name = operation == 22 ? "KP_DEV_IC_ConnectlessActiveStoreCard" : "KP_DEV_IC_ConnectlessActive";
        int cardType = 0;
        int uidLen = in.ConsumeIntegralInRange<int>(0, 12);
        int atsLen = in.ConsumeIntegralInRange<int>(0, 40);
        Output uid(name, "uid", {{"uidLen", uidLen}});
        Output ats(name, "ats", {{"atsLen", atsLen}});
        if (std::strcmp(name, "KP_DEV_IC_ConnectlessActive") == 0) {
          (void)KP_DEV_IC_ConnectlessActive(kPort, &cardType, &uidLen, uid.get(), &atsLen, ats.get());
        } else {
          (void)KP_DEV_IC_ConnectlessActiveStoreCard(kPort, &cardType, &uidLen, uid.get(), &atsLen, ats.get());
        }
        break;
      }
      case 12: {
        int dataLen = in.ConsumeIntegralInRange<int>(0, 40);
        Output block("KP_DEV_IC_ConnectlessReadBlock", "dataOut", {{"dataLen", dataLen}});
        (void)KP_DEV_IC_ConnectlessReadBlock(kPort, in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), &dataLen,
                                             block.get());
        break;
      }
      case 13: {
        const int address = in.ConsumeIntegralInRange<int>(-2, 300);
        const int length = in.ConsumeIntegralInRange<int>(0, 300);
        Output memory("KP_DEV_SLE4442_ReadDataForUser", "dataOut", {{"dataOut", 0}, {"length", length}});
        (void)KP_DEV_SLE4442_ReadDataForUser(kPort, seat, address, length, memory.get());
        break;
      }
      case 14: {
        const int address = in.ConsumeIntegralInRange<int>(-2, 70000);
        const int length = in.ConsumeIntegralInRange<int>(0, 1100);
        Output memory("KP_DEV_AT24CXX_ReadData", "dataOut", {{"dataOut", 0}, {"length", length}});
        (void)KP_DEV_AT24CXX_ReadData(kPort, seat, address, length, memory.get());
        break;
      }
      case 15: {
        Output field[9] = {{"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"},
                           {"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"},
                           {"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"}, {"KP_DEV_ID_Read", "fields"}};
        char* fields[9];
        for (int i = 0; i < 9; ++i) fields[i] = field[i].get();
        (void)KP_DEV_ID_Read(kPort, in.ConsumeIntegralInRange<int>(0, 1000), fields);
        break;
      }
      case 16: {
        Output out("KP_DEV_ID_GetData", "out");
        (void)KP_DEV_ID_GetData(kPort, in.ConsumeIntegralInRange<int>(0, 10), out.get());
        break;
      }
      case 17: {
        int kind = 0;
        Output result("KP_DEV_ReadAll", "result");
        (void)KP_DEV_ReadAll(kPort, 0, in.ConsumeIntegralInRange<unsigned>(300, 2000), in.ConsumeBool(), 1, 0, 0x60,
                             "FFFFFFFFFFFF", in.ConsumeBool(), in.ConsumeBool(), 0, &kind, result.get());
        break;
      }
      case 18: {
        int kind = 0;
        Output result("KP_DEV_ReadAll_A", "result");
        (void)KP_DEV_ReadAll_A(kPort, 0, 0, in.ConsumeBool(), 1, 0, 0x60, "FFFFFFFFFFFF", in.ConsumeBool(),
                               in.ConsumeBool(), 0, &kind, result.get());
        break;
      }
      case 19:
        (void)KP_DEV_SetDeviceModule(kPort, 1);
        break;
      case 20: {
        int state = 0;
        (void)KP_DEV_IC_GetStatus(kPort, seat, &state);
        break;
      }
      case 21: {
        const std::string apdu = HexText(in, 40);
        Output response("KP_DEV_IC_SendApdu_A", "response");
        (void)KP_DEV_IC_SendApdu_A(kPort, seat, 0, apdu.c_str(), static_cast<int>(apdu.size()), response.get());
        break;
      }
      case 23: {
        const int mode = in.ConsumeIntegralInRange<int>(0, 1);
        const int address = in.ConsumeIntegralInRange<int>(0, 1030);
        const int length = in.ConsumeIntegralInRange<int>(0, 40);
        Output memory("KP_DEV_SLE4428_ReadData", "dataOut", {{"dataOut", 0}, {"length", length}});
        Output flags("KP_DEV_SLE4428_ReadData", "protectOut", {{"length", length}});
        (void)KP_DEV_SLE4428_ReadData(kPort, seat, mode, address, length, memory.get(), flags.get());
        break;
      }
      case 24: {
        const int length = in.ConsumeIntegralInRange<int>(0, 260);
        Output memory("KP_DEV_IC_ReadStoreData", "dataOut", {{"dataOut", 0}, {"length", length}});
        (void)KP_DEV_IC_ReadStoreData(kPort, seat, in.ConsumeIntegralInRange<int>(0, 300), length, memory.get());
        break;
      }
      case 25: {
        Output pwd("KP_DEV_SLE4442_ReadPwd", "pwdOut");
        (void)KP_DEV_SLE4442_ReadPwd(kPort, seat, pwd.get());
        break;
      }
      case 26: {
        Output pwd("KP_DEV_AT88SC1608_ReadPwd", "pwdOut");
        (void)KP_DEV_AT88SC1608_ReadPwd(kPort, seat, in.ConsumeIntegralInRange<int>(0, 1),
                                        in.ConsumeIntegralInRange<int>(0, 7), pwd.get());
        break;
      }
      case 27: {
        const std::string text = in.ConsumeRandomLengthString(64);
        Output hex("KP_AscToBcd", "hexOut", {{"text", static_cast<long long>(std::strlen(text.c_str()))}});
        (void)KP_AscToBcd(text.c_str(), hex.get());
        const std::string hexText = in.ConsumeRandomLengthString(64);
        Output bytes("KP_BcdToAsc", "bytesOut", {{"hexText", static_cast<long long>(std::strlen(hexText.c_str()))}});
        (void)KP_BcdToAsc(hexText.c_str(), bytes.get());
        break;
      }
      case 28: {
        const std::string response = HexText(in, 80);
        const std::string tag = HexText(in, 4);
        Output value("ICCardFindSubStr", "valueOut", {{"response", static_cast<long long>(response.size())}});
        (void)ICCardFindSubStr(response.c_str(), tag.c_str(), value.get());
        break;
      }
      default: {
        const int zone = in.ConsumeIntegralInRange<int>(0, 3);
        const int length = in.ConsumeIntegralInRange<int>(0, 260);
        Output memory("KP_DEV_AT45DB041_ReadData", "dataOut", {{"dataOut", 0}, {"length", length}});
        (void)KP_DEV_AT45DB041_ReadData(kPort, seat, zone, in.ConsumeIntegralInRange<int>(0, 300), length,
                                        memory.get());
        break;
      }
    }
  }
  (void)KP_DEV_CloseDevice(kPort);
  (void)KP_DEV_CloseDevice(handle);
  g_input = nullptr;
  return 0;
}
