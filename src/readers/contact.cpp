#include <cstdio>
#include <cstring>
#include <string>

#include "base/results.h"
#include "log/log.h"
#include "log/mask.h"
#include "readers/contact.h"
#include "readers/device.h"

namespace kp {

namespace {

constexpr int kCmdGetStatus = 0x3221;
constexpr int kCmdPowerOn = 0x3222;
constexpr int kCmdPowerOff = 0x3223;
constexpr int kCmdSendApdu = 0x3226;
constexpr int kCmdSetBaudRate = 0x3002;
constexpr int kCmdSetCardType = 0x3231;
constexpr int kCmdGetCardType = 0x3232;

constexpr int kSpeedTimeoutMs = 500;

// Seats up to this number sit behind the device's contact switch, which
// command 0xC003 prepares before a power-on or a speed change.
constexpr int kLastSwitchedSeat = 4;

// The seat travels as one byte and no range is enforced on it, so only its
// low byte is sent (seat -1 and seat 255 name the same seat on the wire).

// Seat states named by the status word of a status request; every other
// word (0x0000 included) leaves the caller's state as it was.
struct SeatState {
  int status;
  int state;
};
constexpr SeatState kSeatStates[] = {
    {0x1001, 1}, {0x1002, 2},  {0x1003, 3},  {0x1004, 4},  {0x2001, 8},
    {0x2003, 9}, {0x2004, 10}, {0x3001, 20}, {0x3003, 18}, {0x3004, 19},
};

// Power-on of a seat by the device.  *atrLen holds the room of atr in
// answer-to-reset bytes on entry and the byte count on return; answerOut
// (optional) receives the bytes of a successful power-on.
int PowerOn(CReader& reader, int seat, int* atrLen, char* atr, Bytes* answerOut) {
  CReader::Reply answer;
  const int r = reader.Command(kCmdPowerOn, "000A" + ByteToHex(seat), kDefaultTimeoutMs, &answer);
  if (r != 0) return r;
  const int count = static_cast<int>(answer.data.size());
  if (*atrLen < count) return kErrRoom;
  *atrLen = count;
  BytesToHex(answer.data.data(), answer.data.size(), atr);  // nothing at all for an empty answer
  if (answerOut) *answerOut = answer.data;
  return kOk;
}

int SendApduBody(CReader& reader, int seat, const char* apdu, Bytes* answer) {
  if (apdu == nullptr) return kErrParam;
  // Bounded scan: a text longer than one frame holds is refused anyway.
  const std::size_t length = strnlen(apdu, static_cast<std::size_t>(kMaxDataChars) + 1);
  if (length > static_cast<std::size_t>(kMaxDataChars)) return kErrParam;
  CReader::Reply reply;
  const int r = reader.Command(kCmdSendApdu, ByteToHex(seat) + std::string(apdu, length), kDefaultTimeoutMs, &reply);
  if (r != 0) return r;
  *answer = std::move(reply.data);
  return kOk;
}

}  // namespace

// The comparison is signed: negative seat numbers are prepared as well.  The
// answer to 0xC003 does not decide anything, so its result is dropped.
void ContactCard::PrepareSwitchedSeat(int seat) {
  if (seat <= kLastSwitchedSeat) Along<Device>(this).PrepareContactSwitch();
}

int ContactCard::IC_GetStatus(int seat, int* state) {
  if (state == nullptr) return kErrParam;
  Reply answer;
  const int r = Command(kCmdGetStatus, ByteToHex(seat), kDefaultTimeoutMs, &answer, false);
  if (r != 0) return r;
  // The status word is the seat's state here, not an error.
  for (const SeatState& s : kSeatStates) {
    if (s.status == answer.status) *state = s.state;
  }
  return kOk;
}

int ContactCard::IC_SetBaudRate(int seat, int baud) {
  PrepareSwitchedSeat(seat);
  return Command(kCmdSetBaudRate, ByteToHex(seat) + ByteToHex(BaudCode(baud)), kSpeedTimeoutMs, nullptr);
}

// The cards of the family's cached seats are powered on by the device once
// per reader object: later power-ons replay the first answer to reset and
// power-offs are ignored, so such a card stays in the session of its first
// reset.
int ContactCard::IC_PowerOn(int seat, int* atrLen, char* atr) {
  if (atrLen == nullptr || atr == nullptr) return kErrParam;
  if (seat < family_.cachedAtrFirst || seat > family_.cachedAtrLast) {
    PrepareSwitchedSeat(seat);
    return PowerOn(reader_, seat, atrLen, atr, nullptr);
  }
  const int slot = seat - family_.cachedAtrFirst;
  ContactState& state = reader_.State<ContactState>();
  char* const cached = state.atrCache[slot];
  if (state.atrCached[slot]) {
    // The replay stands for the device's answer and, like the first one
    // after a successful power-on, is not compared with the room given.  An
    // empty answer leaves atr as the first power-on left it.
    const std::size_t length = strnlen(cached, sizeof state.atrCache[slot] - 1);
    if (length > 0) std::memcpy(atr, cached, length + 1);
    *atrLen = static_cast<int>(length / 2);
    return kOk;
  }
  Bytes answer;
  PrepareSwitchedSeat(seat);
  const int r = PowerOn(reader_, seat, atrLen, atr, &answer);
  if (r != 0) return r;
  // An answer too long for its cache entry is not cached (rather than
  // replayed cut short): the seat is then powered on by the device again.
  const std::string text = ToHex(answer);
  if (text.size() < sizeof state.atrCache[slot]) {
    std::memcpy(cached, text.c_str(), text.size() + 1);
    state.atrCached[slot] = 1;
  }
  return kOk;
}

int ContactCard::IC_PowerOff(int seat) {
  // A cached seat stays powered for the life of the reader.
  if (seat >= family_.cachedAtrFirst && seat <= family_.cachedAtrLast) return kOk;
  return Command(kCmdPowerOff, ByteToHex(seat), kDefaultTimeoutMs, nullptr);
}

int ContactCard::IC_SendApdu(int seat, int /*reserved*/, const char* apdu, int /*apduLen*/, char* response) {
  if (response == nullptr) return kErrParam;
  std::memset(response, 0, 4);
  Bytes answer;
  const int r = Transceive(seat, apdu, &answer);
  if (r == 0) BytesToHex(answer.data(), answer.size(), response);  // nothing at all for an empty answer
  return r;
}

int ContactCard::Transceive(int seat, const char* apdu, Bytes* answer) {
  answer->clear();
  if (!family_.apduFailureLogged) return SendApduBody(reader_, seat, apdu, answer);
  // Whatever goes wrong while composing, exchanging or decoding is logged
  // with the APDU and reported as a failure, never thrown at the caller.
  try {
    return SendApduBody(reader_, seat, apdu, answer);
  } catch (...) {
    answer->clear();
    const char* text = apdu ? apdu : "";
    const std::string shown = CurrentLogMode() == LogMode::kFull ? std::string(text) : MaskApduCommand(text);
    WriteLog("!!! \xD2\xEC\xB3\xA3 %s", shown.c_str());
    return kErrOpen;
  }
}

int ContactCard::IC_SetCardType(int seat, int cardType) {
  // The card type is one byte; a wider value would shift the command data.
  if (cardType < 0 || cardType > 0xFF) return kErrParam;
  return Command(kCmdSetCardType, ByteToHex(seat) + ByteToHex(cardType), kDefaultTimeoutMs, nullptr);
}

int ContactCard::IC_GetCardType(int seat, int* cardType) {
  if (cardType == nullptr) return kErrParam;
  Reply answer;
  const int r = Command(kCmdGetCardType, ByteToHex(seat), family_.cardTypeTimeoutMs, &answer);
  if (r != 0) return r;
  // Type 0 means the device knows no card family for the seat; the value is
  // reported all the same.
  *cardType = answer.data.empty() ? 0 : answer.data[0];
  return *cardType < 1 ? kErrNoCardType : kOk;
}

}  // namespace kp
