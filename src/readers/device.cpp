// Device-level operations: opening with the module switch, device speed,
// closing, version, soft reset and command 0xC003, for the three classes.
#include <cstdio>
#include <cstring>

#include "base/results.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "readers/reader_t0.h"
#include "readers/reader_t1.h"
#include "readers/reader_t61.h"

namespace kp {

namespace {

// Pause between the module switch at 9600 baud and the reopen at the
// requested speed, so the device has changed its own speed by then.
constexpr unsigned kModuleSwitchPauseMs = 100;

// Raw version request of the type-61 family and how long its answer may
// take to start; the text then arrives in one burst and ends with a NUL or
// when the line has been idle for kVersionIdleMs.
constexpr std::uint8_t kT61VersionRequest[] = {0x1B, 0x65, 0x00};
constexpr int kVersionFirstByteMs = 30;
constexpr int kVersionIdleMs = 20;
constexpr int kVersionTotalMs = 500;

std::string TwoHex(int a, int b) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", a & 0xFF, b & 0xFF);
  return text;
}

// Writes version bytes as hex text; no bytes leave the text untouched.
void WriteVersionHex(const Bytes& data, char* version) {
  if (!data.empty() && version) BytesToHexZ(data.data(), data.size(), version);
}

// Module restore on close, shared by the type-1 and type-0 readers: the IC
// and S modules are put back to their 9600-baud default.
void RestoreDefaultModule(CReaderBase& reader) {
  if (reader.openedType == 1) {
    reader.SelectModuleI(0);
  } else if (reader.openedType == 3) {
    reader.SelectModuleS(0);
  }
}

}  // namespace

// ---------------------------------------------------------------- type 1

int CReaderT1::OpenDevice(int deviceType, const PortSpec& target) {
  SetOpenTarget(deviceType, target, true);
  port_.Close();
  if (deviceType > 0) {
    const int r = port_.Open(portNumber_, platform::LineSettings::Plain(9600));
    if (r != 0) return r;
    platform::SleepMs(kModuleSwitchPauseMs);
    SetDeviceModule(0);  // a refused or missing module reply does not stop the open
  }
  return port_.Open(portNumber_, platform::LineSettings::Plain(baudRate_));
}

int CReaderT1::SetBaudRate(int baud) {
  if (!CardModuleOk()) return kErrNotSupported;
  return Command(0x3001, TwoHex(1, BaudCode(baud)), kDefaultTimeoutMs, nullptr);
}

int CReaderT1::CloseDevice() {
  RestoreDefaultModule(*this);
  port_.Close();
  return kOk;
}

int CReaderT1::GetDeviceVersion(char* version) {
  if (!CardModuleOk()) return kErrNotSupported;
  Reply reply;
  const int r = Command(0x3111, ByteToHex(0), kDefaultTimeoutMs, &reply);
  if (r != 0) return r;
  WriteVersionHex(reply.data, version);
  return kOk;
}

int CReaderT1::IC_SoftReset(int /*mode*/) { return CardModuleOk() ? kOk : kErrNotSupported; }

int CReaderT1::PrepareContactSwitch() {
  if (!CardModuleOk()) return kErrNotSupported;
  char response[kTextBuffer] = {};
  return Exchange(0xC003, "", 0, response, kDefaultTimeoutMs);
}

// --------------------------------------------------------------- type 61

int CReaderT61::OpenDevice(int deviceType, const PortSpec& target) {
  SetOpenTarget(deviceType, target, false);
  port_.Close();
  return port_.Open(portNumber_, platform::LineSettings::Plain(baudRate_));
}

int CReaderT61::SetBaudRate(int baud) { return Command(0x3001, TwoHex(1, BaudCode(baud)), 1000, nullptr); }

int CReaderT61::CloseDevice() {
  port_.Close();
  return kOk;
}

int CReaderT61::GetDeviceVersion(char* version) {
  DropStaleInput(TraceEnabled());
  const int w = port_.Write(kT61VersionRequest, sizeof kT61VersionRequest);
  if (w != 0) return w;
  if (!port_.WaitForInput(1, kVersionFirstByteMs)) return kErrRead;

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
    if (r != 0) return r;
    have += got;
  }
  if (version) std::snprintf(version, have + 1, "%s", reinterpret_cast<const char*>(text));
  return kOk;
}

int CReaderT61::IC_SoftReset(int mode) {
  if (mode != 0 && mode != 1) return kErrParam;
  const std::string data = ByteToHex(mode);
  char response[kTextBuffer] = {};
  return Exchange(0x3112, data.c_str(), static_cast<int>(data.size()), response, kDefaultTimeoutMs);
}

int CReaderT61::PrepareContactSwitch() {
  char response[kTextBuffer] = {};
  return Exchange(0xC003, "", 0, response, kDefaultTimeoutMs);
}

// ---------------------------------------------------------------- type 0

int CReaderT0::OpenDevice(int deviceType, const PortSpec& target) {
  SetOpenTarget(deviceType, target, true);
  port_.Close();
  return port_.Open(portNumber_, platform::LineSettings::Plain(baudRate_));
}

int CReaderT0::SetBaudRate(int baud) { return Command(0x3003, ByteToHex(BaudCode(baud)), 1000, nullptr); }

int CReaderT0::GetDeviceVersion(char* version) {
  Reply reply;
  const int r = Command(0x3111, ByteToHex(0), kDefaultTimeoutMs, &reply);
  if (r != 0) return r;
  if (reply.data.size() < 6) return kErrFrame;
  WriteVersionHex(reply.data, version);
  return kOk;
}

int CReaderT0::IC_SoftReset(int /*mode*/) { return kOk; }

}  // namespace kp
