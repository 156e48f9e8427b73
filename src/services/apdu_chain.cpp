// APDU exchange with response chaining: a card that answers 61xx, 6Cxx,
// 6283 or 63xx gets the one follow-up command that fetches its real answer
// (GET RESPONSE) or repeats the command with the length it asked for.  There
// is exactly one level of follow-up; what its status word says is the
// caller's business.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/convert.h"
#include "base/results.h"
#include "log/log.h"
#include "log/mask.h"
#include "readers/contact.h"
#include "services/emv.h"

namespace kp {

namespace {

// Longest command text looked at; the reader refuses anything longer than
// one frame carries long before this.
constexpr std::size_t kMaxCommandScan = 4096;

std::string GetResponse(std::uint8_t le) {
  char text[16];
  std::snprintf(text, sizeof text, "00C00000%02X", le);
  return text;
}

int Send(const CardChannel& card, const std::string& command, char* response) {
  if (card.reader == nullptr) return kOk;
  Use<ContactCard> contact(*card.reader);
  if (!contact) return contact.refusal();
  return contact->IC_SendApdu(card.seat, card.reserved, command.c_str(), static_cast<int>(command.size()), response);
}

}  // namespace

int SendApduChained(const CardChannel& card, const char* command, char* response) {
  if (command == nullptr || response == nullptr) return kErrParam;
  // The response never keeps an earlier answer: a card without a reader
  // leaves the text as the exchange found it, and that must be empty rather
  // than whatever the caller's buffer held (the log line and the status
  // word below read it).
  response[0] = '\0';
  const std::string text(command, strnlen(command, kMaxCommandScan));

  const int r = Send(card, text, response);
  if (CurrentLogMode() == LogMode::kFull) {
    WriteLog("SendApdu %s-->%s", text.c_str(), response);
  } else {
    WriteLog("SendApdu %s-->%s", MaskApduCommand(text).c_str(), MaskCardData(response).c_str());
  }
  if (r != 0) return r;

  // The status word is the last four characters.  An answer too short to
  // carry one asks for nothing: it stands as it is, with result 0.
  const std::size_t n = std::strlen(response);
  if (n < 4) return kOk;
  std::uint8_t sw[3] = {};
  HexTextToBytes(response + n - 4, 4, sw);
  const std::uint8_t sw1 = sw[0];
  const std::uint8_t sw2 = sw[1];

  switch (sw1) {
    case 0x61:  // SW2 bytes are waiting
      return Send(card, GetResponse(sw2), response);
    case 0x6C: {  // wrong Le: repeat with the length the card names
      // A command without a Le byte to correct is left as answered.
      if (text.size() < 2) return kOk;
      char le[4];
      std::snprintf(le, sizeof le, "%02X", sw2);
      std::string again = text;
      again.replace(again.size() - 2, 2, le);
      return Send(card, again, response);
    }
    case 0x62:  // 6283: selected file invalidated, its data still to fetch
      if (sw2 != 0x83) return kOk;
      return Send(card, GetResponse(0), response);
    case 0x63:  // a warning with data to fetch
      return Send(card, GetResponse(0), response);
    default:
      return kOk;
  }
}

}  // namespace kp
