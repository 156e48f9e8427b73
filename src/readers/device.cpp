#include <cstdio>
#include <cstring>

#include "base/results.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "readers/device.h"

namespace kp {

namespace {

// Raw version request of the readers that answer it with text, and how long
// its answer may take to start; the text then arrives in one burst and ends
// with a NUL or when the line has been idle for kVersionIdleMs.
constexpr std::uint8_t kRawVersionRequest[] = {0x1B, 0x65, 0x00};
constexpr int kVersionFirstByteMs = 30;
constexpr int kVersionIdleMs = 20;
constexpr int kVersionTotalMs = 500;

constexpr int kCmdVersion = 0x3111;
constexpr int kCmdPrepareSwitch = 0xC003;

}  // namespace

int Device::SetBaudRate(int baud) {
  const std::string code = ByteToHex(BaudCode(baud));
  return Command(family_.speedCommand, family_.speedPrefix01 ? "01" + code : code, family_.speedTimeoutMs, nullptr);
}

int Device::GetDeviceVersion(char* version) {
  if (family_.versionByEscape) return ReadRawVersion(version);
  Reply reply;
  const int r = Command(kCmdVersion, ByteToHex(0), kDefaultTimeoutMs, &reply);
  if (r != 0) return r;
  if (reply.data.size() < family_.versionMinBytes) return kErrFrame;
  // No bytes leave the text untouched.
  if (!reply.data.empty() && version) BytesToHexZ(reply.data.data(), reply.data.size(), version);
  return kOk;
}

int Device::ReadRawVersion(char* version) {
  port_.PrepareRequest();
  const int w = port_.Write(kRawVersionRequest, sizeof kRawVersionRequest);
  if (w != 0) return w;
  port_.Expect(Unit::kText, sizeof kRawVersionRequest);
  if (!port_.AwaitAnswer(kVersionFirstByteMs)) return kErrRead;

  // Collect the answer until its NUL, an idle line, or the buffer's end.
  std::uint8_t text[kTextBuffer] = {};
  std::size_t have = 0;
  const std::uint32_t start = platform::TickMs();
  while (have < sizeof text - 1) {
    const std::size_t queued = port_.InputCount();
    if (queued == 0) {
      if (std::memchr(text, 0, have) != nullptr) break;
      const int left = kVersionTotalMs - static_cast<int>(platform::TickMs() - start);
      if (left <= 0 || !port_.WaitForInput(1, left < kVersionIdleMs ? left : kVersionIdleMs)) break;
      continue;
    }
    const std::size_t want = queued < sizeof text - 1 - have ? queued : sizeof text - 1 - have;
    std::uint16_t got = 0;
    const int r = port_.ReadWhenAvailable(text + have, want, &got, kVersionTotalMs);
    if (r != 0) return Broken(r);
    have += got;
  }
  // A text that ended by the line going idle, not by its NUL, may still be
  // coming.
  if (std::memchr(text, 0, have) != nullptr) {
    port_.AnswerComplete();
  } else {
    port_.AnswerBroken();
  }
  if (version) std::snprintf(version, have + 1, "%s", reinterpret_cast<const char*>(text));
  return kOk;
}

int Device::IC_SoftReset(int mode) {
  if (family_.softResetCommand == 0) return kOk;
  if (mode != 0 && mode != 1) return kErrParam;
  // Only the exchange decides: the answer's status word is not looked at.
  return Command(family_.softResetCommand, ByteToHex(mode), kDefaultTimeoutMs, nullptr, false);
}

int Device::PrepareContactSwitch() { return Command(kCmdPrepareSwitch, "", kDefaultTimeoutMs, nullptr, false); }

}  // namespace kp
