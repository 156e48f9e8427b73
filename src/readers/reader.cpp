// The reader core: open and close with the module switch, the frame
// exchange every device operation uses, the module escape sequences, the
// status word map, the buzzer and the gate.
#include "readers/reader.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/results.h"
#include "base/trace.h"
#include "platform/platform.h"
#include "serial/frame.h"
#include "wire/frame.h"
#include "wire/status.h"

namespace kp {

namespace {

using wire::kEsc;

// The buzzer: a frame like any command (0x3117 on, 0x3116 off, no data),
// which the device does not answer.
constexpr std::uint16_t kVoiceOn = 0x3117;
constexpr std::uint16_t kVoiceOff = 0x3116;

// Pause between the module switch at 9600 baud and the reopen at the
// requested speed, so the device has changed its own speed by then.
constexpr unsigned kModuleSwitchPauseMs = 100;

}  // namespace

int RemainingMs(std::uint32_t start, int timeoutMs) {
  const auto spent = static_cast<std::int64_t>(platform::TickMs() - start);
  return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
}

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

int MapStatusWord(int status) { return wire::StatusResult(status); }

int CReader::Exchange(int command, std::string_view data, std::string* body, int timeoutMs) {
  body->clear();
  if (data.size() > static_cast<std::size_t>(kMaxDataChars)) return kErrParam;
  std::uint8_t wire[kTextBuffer];
  const std::size_t wireCount = frame::EncodeText(command, data.data(), data.size(), wire);
  const bool tracing = TraceEnabled();
  const auto started = platform::TickMs();
  for (int attempt = 0;; ++attempt) {
    port_.PrepareRequest();
    if (tracing) DebugTrace(frame::DescribeCommand(command, wire, wireCount).c_str());
    const int w = port_.Write(wire, static_cast<std::uint16_t>(wireCount));
    if (w != 0) return w;
    port_.Expect(Unit::kFrame, wireCount);

    // The timeout runs from the moment the request has reached the device.
    // Nothing at all by then: the answer is still owed, and the next
    // request waits for it.
    const int headMs = timeoutMs + port_.WireTimeMs(wireCount);
    const std::uint32_t headStart = platform::TickMs();
    if (!port_.AwaitAnswer(headMs)) return kErrRead;
    std::uint8_t head[frame::kHeadBytes] = {};
    std::uint16_t got = 0;
    int r = port_.Read(head, sizeof head, &got, RemainingMs(headStart, headMs));
    if (r != 0) return Broken(r);
    if (head[0] != frame::kStx) {
      // Out of step with the device (stale bytes, noise): discard everything
      // and send the command again, a bounded number of times.
      port_.Purge();
      port_.AnswerBroken();
      if (attempt >= kMaxNonStxRestarts) return kErrFrame;
      continue;
    }
    const std::size_t bodyChars = 2 * frame::BodyLength(head);
    if (bodyChars > kMaxBodyChars) {
      // More than any answer of the firmware holds: refuse rather than take.
      // The announced rest of the answer is read and dropped (within the
      // timeout) so the next exchange starts in step with the device.
      if (DiscardInput(bodyChars + frame::kTailBytes, timeoutMs)) {
        port_.AnswerComplete();
      } else {
        port_.AnswerBroken();
      }
      return kErrFrame;
    }
    body->assign(bodyChars, '\0');
    if (bodyChars > 0) {
      r = port_.Read(reinterpret_cast<std::uint8_t*>(&(*body)[0]), bodyChars, &got, timeoutMs);
      if (r != 0) return Broken(r);
    }
    std::uint8_t tail[frame::kTailBytes] = {};
    r = port_.Read(tail, sizeof tail, &got, timeoutMs);
    if (r != 0) return Broken(r);
    if (tracing) {
      const frame::Response decoded = frame::Decode(body->c_str(), bodyChars);
      DebugTrace(frame::DescribeResponse(command, decoded, static_cast<long>(platform::TickMs() - started)).c_str());
    }
    // A frame that does not end where its length says is out of step too.
    if (tail[2] != frame::kEtx) return Broken(kErrFrame);
    port_.AnswerComplete();
    return kOk;
  }
}

int CReader::Broken(int result) {
  port_.AnswerBroken();
  return result;
}

bool CReader::DiscardInput(std::size_t count, int timeoutMs) {
  std::uint8_t scratch[256];
  while (count > 0) {
    const std::size_t chunk = count < sizeof scratch ? count : sizeof scratch;
    std::size_t got = 0;
    if (port_.ReadExact(scratch, chunk, &got, timeoutMs) != 0) return false;
    count -= chunk;
  }
  return true;
}

int CReader::Command(int command, const std::string& dataHex, int timeoutMs, Reply* reply, bool mapStatus) {
  std::string body;
  const int r = Exchange(command, dataHex, &body, timeoutMs);
  if (r != 0) return r;
  // The body ends at its first NUL, as the device's texts always have.
  frame::Response decoded = frame::Decode(body.c_str(), strnlen(body.c_str(), body.size()));
  Reply local;
  Reply& out = reply ? *reply : local;
  out.status = decoded.status;
  out.data = std::move(decoded.data);
  return mapStatus ? MapStatusWord(out.status) : kOk;
}

int CReader::SendEscape(const std::uint8_t* bytes, std::uint16_t length) {
  // A late reply to an earlier sequence or frame must not be read as the
  // reply to this one.
  port_.PrepareRequest();
  const int w = port_.Write(bytes, length);
  if (w != 0) return w;
  port_.Expect(Unit::kModuleReply, length);
  return ReadModuleReply();
}

int CReader::ReadModuleReply() {
  constexpr int kReplyMs = 500;
  std::uint8_t reply[2] = {};
  std::uint16_t got = 0;
  // Nothing of the reply came: it is still owed.
  const std::uint32_t start = platform::TickMs();
  if (!port_.AwaitAnswer(kReplyMs)) return kErrWaitTimeout;
  const int r = port_.ReadWhenAvailable(reply, sizeof reply, &got, RemainingMs(start, kReplyMs));
  if (r != 0) return Broken(r);
  port_.AnswerComplete();
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

int CReader::SelectModuleB() {
  const std::uint8_t seq[] = {kEsc, '$', 'B'};
  return SendEscape(seq, sizeof seq);
}

int CReader::SelectModuleI(int baudCode) {
  const std::uint8_t digit = (baudCode >= 1 && baudCode <= 4) ? static_cast<std::uint8_t>('0' + baudCode) : '0';
  const std::uint8_t seq[] = {kEsc, '$', 'I', digit};
  return SendEscape(seq, sizeof seq);
}

int CReader::SelectModuleS(int baudCode) {
  const std::uint8_t digit = (baudCode >= 2 && baudCode <= 4) ? static_cast<std::uint8_t>('0' + baudCode) : '1';
  const std::uint8_t seq[] = {kEsc, '$', 'S', digit};
  return SendEscape(seq, sizeof seq);
}

int CReader::SetDeviceModule(int /*module*/) {
  // The argument is accepted for the interface's sake; the module chosen at
  // open decides which sequence is re-sent.
  return SelectModule(opened_->selectEscape, BaudCode(baudRate_));
}

int CReader::SelectModule(char escape, int baudCode) {
  switch (escape) {
    case 'I':
      return SelectModuleI(baudCode);
    case 'B':
      return SelectModuleB();
    case 'S':
      return SelectModuleS(baudCode);
    default:
      return kErrNotSupported;
  }
}

int CReader::OpenDevice(int deviceType, const PortSpec& target) {
  openedType = (family_.type5AsZero && deviceType == 5) ? 0 : deviceType;
  opened_ = &OpenedModuleOf(openedType);
  portNumber_ = target.port;
  baudRate_ = target.baud;
  port_.Close();
  if (family_.switchesModuleOnOpen && deviceType > 0) {
    const int r = port_.Open(portNumber_, platform::LineSettings::Plain(9600));
    if (r != 0) return r;
    platform::SleepMs(kModuleSwitchPauseMs);
    SetDeviceModule(0);  // a refused or missing module reply does not stop the open
  }
  return port_.Open(portNumber_, platform::LineSettings::Plain(baudRate_));
}

int CReader::CloseDevice() {
  // The IC and S modules are put back to their 9600-baud default.
  if (family_.restoresModuleOnClose && opened_->restoredOnClose) SelectModule(opened_->selectEscape, 0);
  port_.Close();
  return kOk;
}

int CReader::IC_Voice(int on) {
  // The device does not answer the buzzer: nothing is owed.
  port_.PrepareRequest();
  const Bytes frame = wire::EncodeFrame(on ? kVoiceOn : kVoiceOff);
  return port_.Write(frame.data(), static_cast<std::uint16_t>(frame.size()));
}

int CReader::Gate(Tech tech, unsigned feature) const {
  if ((family_.refuses & feature) != 0) return kErrNotSupported;
  const Serves serves = tech == Tech::kCard       ? family_.card
                        : tech == Tech::kMagnetic ? family_.magnetic
                                                  : family_.identity;
  switch (serves) {
    case Serves::kAlways:
      return kOk;
    case Serves::kIcModule:
      return opened_->icModule ? kOk : kErrNotSupported;
    case Serves::kMagneticModule:
      return opened_->headModule ? kOk : kErrNotSupported;
    case Serves::kNever:
    default:
      return kErrNotSupported;
  }
}

std::size_t CReader::NextStateSlot() {
  static std::atomic<std::size_t> next{0};
  return next++;
}

}  // namespace kp
