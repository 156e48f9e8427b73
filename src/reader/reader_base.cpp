#include "reader/reader_base.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/results.h"

namespace kp {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEsc = 0x1B;

struct StatusEntry {
  int status;
  int result;
};

constexpr StatusEntry kStatusTable[] = {
    {0x0000, 0},    {0x1001, -305}, {0x1002, -306}, {0x1004, -307}, {0x1005, -308}, {0x1006, -317}, {0x1007, -318},
    {0x2001, -309}, {0x2004, -319}, {0x2005, -310}, {0x2006, -320}, {0x2007, -321}, {0x3001, -311}, {0x3005, -312},
    {0x3006, -313}, {0x3007, -324}, {0x3008, -316}, {0x3009, -314}, {0x6003, -328},
};

// The prebuilt buzzer frames (command 0x3117 on, 0x3116 off, no data).
constexpr std::uint8_t kVoiceOn[] = {0x02, 0x30, 0x30, 0x30, 0x32, 0x33, 0x31, 0x31, 0x37, 0x32, 0x36, 0x03};
constexpr std::uint8_t kVoiceOff[] = {0x02, 0x30, 0x30, 0x30, 0x32, 0x33, 0x31, 0x31, 0x36, 0x32, 0x37, 0x03};

// Leading decimal number as atoi reads it, clamped to the int range.
int LeadingNumber(const char* text) {
  const long v = std::strtol(text, nullptr, 10);
  if (v > 0x7FFFFFFFL) return 0x7FFFFFFF;
  if (v < -0x7FFFFFFFL) return -0x7FFFFFFF;
  return static_cast<int>(v);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int BaudCode(int baud) {
  switch (baud) {
    case 19200:
      return 1;
    case 38400:
      return 2;
    case 57600:
      return 3;
    case 115200:
      return 4;
    default:
      return 0;
  }
}

int MapStatusWord(int status) {
  for (const auto& e : kStatusTable) {
    if (e.status == status) return e.result;
  }
  return kErrStatus;
}

int CReaderBase::BeforeCommand(int value) { return value; }

int CReaderBase::MapStatus(int status) { return MapStatusWord(status); }

int CReaderBase::CheckIsOpen() { return currentModule; }

int CReaderBase::Checksum(const char* hex, int count) {
  // Each byte is two hex digits; a pair that does not parse contributes what
  // "%02X" would have read of it, which for our own texts never happens.
  int acc = 0;
  for (int i = 0; i < count; ++i) {
    int value = 0;
    for (int k = 0; k < 2; ++k) {
      const int d = HexDigit(hex[2 * i + k]);
      if (d < 0) break;
      value = value * 16 + d;
    }
    acc ^= value;
  }
  return acc;
}

int CReaderBase::Exchange(int command, const char* data, int length, char* response, int timeoutMs) {
  return ExchangeInto(command, data, length, response, kTextBuffer, timeoutMs);
}

int CReaderBase::ExchangeInto(int command, const char* data, int length, char* response, std::size_t room,
                              int timeoutMs) {
  if (length < 0 || length > kMaxDataChars || (length > 0 && data == nullptr)) return kErrParam;
  for (int attempt = 0;; ++attempt) {
    const int hook = BeforeCommand(0);
    if (hook != 0) return hook;

    // Frame text: STX, N, command, data, checksum, ETX.
    char text[kTextBuffer] = {};
    const int n = length / 2 + 2;
    int pos = std::snprintf(text, sizeof text, "%c%02X%02X%02X%02X", kStx, (n >> 8) & 0xFF, n & 0xFF,
                            (command >> 8) & 0xFF, command & 0xFF);
    std::memcpy(text + pos, data, static_cast<std::size_t>(length));
    pos += length;
    const int sum = Checksum(text + 5, n);
    pos += std::snprintf(text + pos, sizeof text - static_cast<std::size_t>(pos), "%02X%c", sum & 0xFF, kEtx);

    std::uint8_t wire[kTextBuffer];
    std::size_t wireCount = 0;
    FrameTextToWire(text, static_cast<std::size_t>(pos), wire, &wireCount);
    const int w = port_.Write(wire, static_cast<std::uint16_t>(wireCount));
    if (w != 0) return w;

    std::uint8_t head[5] = {};
    std::uint16_t got = 0;
    // The timeout runs from the moment the request has reached the device.
    int r = port_.Read(head, sizeof head, &got, timeoutMs + port_.WireTimeMs(wireCount));
    if (r != 0) return r;
    if (head[0] != kStx) {
      // Out of step with the device (stale bytes, noise): discard everything
      // and send the command again, a bounded number of times.
      port_.Purge();
      if (attempt >= kMaxNonStxRestarts) return kErrFrame;
      continue;
    }
    const std::size_t bodyLen =
        ((head[1] & 0x0Fu) << 12) | ((head[2] & 0x0Fu) << 8) | ((head[3] & 0x0Fu) << 4) | (head[4] & 0x0Fu);
    const std::size_t bodyChars = 2 * bodyLen;
    if (room == 0 || bodyChars > room - 1) {
      // More than the caller's buffer holds: refuse rather than truncate.
      // The announced rest of the answer is read and dropped (within the
      // timeout) so the next exchange starts in step with the device.
      DiscardInput(bodyChars + 3, timeoutMs);
      return kErrFrame;
    }
    if (bodyChars > 0) {
      r = port_.Read(reinterpret_cast<std::uint8_t*>(response), bodyChars, &got, timeoutMs);
      if (r != 0) return r;
    }
    std::uint8_t tail[3] = {};
    r = port_.Read(tail, sizeof tail, &got, timeoutMs);
    if (r != 0) return r;
    return tail[2] == kEtx ? kOk : kErrFrame;
  }
}

void CReaderBase::DiscardInput(std::size_t count, int timeoutMs) {
  std::uint8_t scratch[256];
  while (count > 0) {
    const std::size_t chunk = count < sizeof scratch ? count : sizeof scratch;
    std::size_t got = 0;
    if (port_.ReadExact(scratch, chunk, &got, timeoutMs) != 0) return;
    count -= chunk;
  }
}

int CReaderBase::Command(int command, const std::string& dataHex, int timeoutMs, Reply* reply, bool mapStatus) {
  if (dataHex.size() > static_cast<std::size_t>(kMaxDataChars)) return kErrParam;
  char response[kTextBuffer] = {};
  const int r = Exchange(command, dataHex.c_str(), static_cast<int>(dataHex.size()), response, timeoutMs);
  if (r != 0) return r;
  const std::size_t n = strnlen(response, sizeof response - 1);
  std::uint8_t bytes[kTextBuffer] = {};
  NibbleTextToBytes(response, n & ~static_cast<std::size_t>(1), bytes);
  const std::size_t count = n / 2;
  Reply local;
  Reply& out = reply ? *reply : local;
  out.text.assign(response, n);
  out.status = bytes[0] * 256 + bytes[1];
  out.data.assign(bytes + (count > 2 ? 2 : count), bytes + count);
  return mapStatus ? MapStatus(out.status) : kOk;
}

int CReaderBase::SendEscape(const std::uint8_t* bytes, std::uint16_t length) {
  const int hook = BeforeCommand(0);
  if (hook != 0) return hook;
  const int w = port_.Write(bytes, length);
  if (w != 0) return w;
  return ReadModuleReply();
}

int CReaderBase::ReadModuleReply() {
  std::uint8_t reply[2] = {};
  std::uint16_t got = 0;
  const int r = port_.ReadWhenAvailable(reply, sizeof reply, &got, 500);
  if (r != 0) return r;
  switch (reply[1]) {
    case '0':
      return kOk;
    case '1':
      return kErrModuleRefused1;
    case '2':
      return kErrModuleRefused2;
    default:
      return kErrStatus;
  }
}

int CReaderBase::SelectModuleB() {
  const std::uint8_t seq[] = {kEsc, '$', 'B'};
  return SendEscape(seq, sizeof seq);
}

int CReaderBase::SelectModuleI(int baudCode) {
  const std::uint8_t digit = (baudCode >= 1 && baudCode <= 4) ? static_cast<std::uint8_t>('0' + baudCode) : '0';
  const std::uint8_t seq[] = {kEsc, '$', 'I', digit};
  return SendEscape(seq, sizeof seq);
}

int CReaderBase::SelectModuleS(int baudCode) {
  const std::uint8_t digit = (baudCode >= 2 && baudCode <= 4) ? static_cast<std::uint8_t>('0' + baudCode) : '1';
  const std::uint8_t seq[] = {kEsc, '$', 'S', digit};
  return SendEscape(seq, sizeof seq);
}

int CReaderBase::SetDeviceModule(int /*module*/) {
  // The argument is accepted for the interface's sake; the module chosen at
  // open decides which sequence is re-sent.
  const int code = BaudCode(baudRate_);
  switch (currentModule) {
    case 1:
      return SelectModuleI(code);
    case 2:
      return SelectModuleB();
    case 3:
      return SelectModuleS(code);
    default:
      return kErrNotSupported;
  }
}

int CReaderBase::IC_Voice(int on) {
  return on ? port_.Write(kVoiceOn, sizeof kVoiceOn) : port_.Write(kVoiceOff, sizeof kVoiceOff);
}

void CReaderBase::ParsePortSpec(int deviceType, const char* portSpec, bool storeType5AsZero) {
  currentModule = (storeType5AsZero && deviceType == 5) ? 0 : deviceType;
  char portText[128] = {};
  if (portSpec) std::snprintf(portText, sizeof portText, "%s", portSpec);
  const std::size_t len = std::strlen(portText);
  portNumber_ = len > 3 ? LeadingNumber(portText + 3) : 0;
  const std::size_t baudAt = portNumber_ < 10 ? 5 : 6;
  baudRate_ = len > baudAt ? LeadingNumber(portText + baudAt) : 0;
}

}  // namespace kp
