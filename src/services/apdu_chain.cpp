// APDU exchange with response chaining: a card that answers 61xx, 6Cxx,
// 6283 or 63xx gets the one follow-up command that fetches its real answer
// (GET RESPONSE) or repeats the command with the length it asked for.  There
// is exactly one level of follow-up; what its status word says is the
// caller's business.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/convert.h"
#include "base/results.h"
#include "log/log.h"
#include "log/mask.h"
#include "readers/contact.h"
#include "services/emv.h"

namespace kp {

namespace {

std::string GetResponse(std::uint8_t le) {
  char text[16];
  std::snprintf(text, sizeof text, "00C00000%02X", le);
  return text;
}

int Send(const CardChannel& card, const std::string& command, Bytes* answer, const AnswerSink& afterEach) {
  answer->clear();
  if (card.reader == nullptr) return kOk;
  Use<ContactCard> contact(*card.reader);
  if (!contact) return contact.refusal();
  const int r = contact->Transceive(card.seat, command.c_str(), answer);
  if (afterEach) afterEach(r, *answer);
  return r;
}

}  // namespace

int ExchangeChained(const CardChannel& card, std::string_view command, Bytes* answer, const AnswerSink& afterEach) {
  const std::string text(command.substr(0, kMaxCommandScan));
  const int r = Send(card, text, answer, afterEach);
  const std::string shown = ToHex(*answer);
  if (CurrentLogMode() == LogMode::kFull) {
    WriteLog("SendApdu %s-->%s", text.c_str(), shown.c_str());
  } else {
    WriteLog("SendApdu %s-->%s", MaskApduCommand(text).c_str(), MaskCardData(shown).c_str());
  }
  if (r != 0) return r;

  // An answer too short to carry a status word asks for nothing: it stands
  // as it is, with result 0.
  const std::optional<std::uint16_t> sw = StatusWordOf(*answer);
  if (!sw) return kOk;
  const auto sw1 = static_cast<std::uint8_t>(*sw >> 8);
  const auto sw2 = static_cast<std::uint8_t>(*sw);

  switch (sw1) {
    case 0x61:  // SW2 bytes are waiting
      return Send(card, GetResponse(sw2), answer, afterEach);
    case 0x6C: {  // wrong Le: repeat with the length the card names
      // A command without a Le byte to correct is left as answered.
      if (text.size() < 2) return kOk;
      std::string again = text;
      again.replace(again.size() - 2, 2, ByteToHex(sw2));
      return Send(card, again, answer, afterEach);
    }
    case 0x62:  // 6283: selected file invalidated, its data still to fetch
      if (sw2 != 0x83) return kOk;
      return Send(card, GetResponse(0), answer, afterEach);
    case 0x63:  // a warning with data to fetch
      return Send(card, GetResponse(0), answer, afterEach);
    default:
      return kOk;
  }
}

}  // namespace kp
