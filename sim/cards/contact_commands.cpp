// The contact seat commands: seat state (0x3221), card speed (0x3002),
// power on and off (0x3222, 0x3223), APDU exchange (0x3226) and the card
// type of a seat (0x3231, 0x3232); the "cpu" card kind and the "seat"
// control request.
//
// A seat's card type and card speed are settings of the seat, kept whether
// or not a card sits in it.  APDUs go to whatever processor card the seat
// holds, so the contactless processor card answers them on seat 255 once it
// is activated.

#include <array>
#include <memory>

#include "cards/card_status.h"
#include "cards/cpu_cards.h"
#include "cards/sector_card.h"
#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

constexpr std::uint16_t kCmdSpeed = 0x3002;
constexpr std::uint16_t kCmdSeatState = 0x3221;
constexpr std::uint16_t kCmdPowerOn = 0x3222;
constexpr std::uint16_t kCmdPowerOff = 0x3223;
constexpr std::uint16_t kCmdApdu = 0x3226;
constexpr std::uint16_t kCmdSetCardType = 0x3231;
constexpr std::uint16_t kCmdGetCardType = 0x3232;

// The card type a seat reports when none was set: the family of the card
// it finds there (contactless cards report their own type byte).
constexpr std::uint8_t kCardTypeNone = 0x00;
constexpr std::uint8_t kCardTypeCpu = 0x01;

constexpr int kSpeedCodes = 5;  // 9600, 19200, 38400, 57600, 115200

struct SeatSettings {
  std::array<std::uint8_t, SeatTable::kSeats> card_type{};  // 0: not set
  std::array<std::uint8_t, SeatTable::kSeats> speed_code{};
};

std::uint16_t SeatState(VirtualReader& reader, std::uint8_t seat) {
  const Card* card = reader.seats().Get(seat);
  if (card == nullptr) return kSeatEmpty;
  if (const auto* cpu = dynamic_cast<const ContactCpuCard*>(card)) {
    if (cpu->powered()) return kSeatPowered;
    return cpu->failed_reset() ? kSeatMute : kSeatUnpowered;
  }
  if (const auto* rf = dynamic_cast<const RfCard*>(card)) {
    switch (rf->state()) {
      case RfCard::State::kActive:
        return kSeatPowered;
      case RfCard::State::kHalted:
        return kSeatHalted;
      case RfCard::State::kIdle:
        return kSeatUnpowered;
    }
  }
  return kSeatOtherTechnology;
}

std::uint8_t CardTypeOf(VirtualReader& reader, const SeatSettings& settings, std::uint8_t seat) {
  if (settings.card_type[seat] != kCardTypeNone) return settings.card_type[seat];
  const Card* card = reader.seats().Get(seat);
  if (dynamic_cast<const ContactCpuCard*>(card) != nullptr) return kCardTypeCpu;
  if (const auto* rf = dynamic_cast<const RfCard*>(card)) return rf->type();
  return kCardTypeNone;
}

// The contact CPU card of the seat, or the status word that stops a power
// command.
std::uint16_t FindContactCard(VirtualReader& reader, std::uint8_t seat, ContactCpuCard** card) {
  Card* any = reader.seats().Get(seat);
  if (any == nullptr) return kSeatEmpty;
  *card = dynamic_cast<ContactCpuCard*>(any);
  return *card == nullptr ? kStatusWrongCardKind : kStatusOk;
}

std::string SpeedText(std::uint8_t code) {
  static const char* const kBauds[kSpeedCodes] = {"9600", "19200", "38400", "57600", "115200"};
  return code < kSpeedCodes ? kBauds[code] : "?";
}

std::string Hex2(std::uint8_t value) { return ToHex(&value, 1); }

bool ParseSeatNumber(const std::string& text, std::uint8_t* seat) {
  if (text.empty() || text.size() > 3) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value >= SeatTable::kSeats) return false;
  *seat = static_cast<std::uint8_t>(value);
  return true;
}

}  // namespace

void InstallCpuCards(VirtualReader& reader) {
  auto settings = std::make_shared<SeatSettings>();
  reader.card_kinds().Register("cpu", "[atr=HEX] [mute] [getresponse] [apdu=CMD:RESP ...]", MakeContactCpuCard);

  CommandRegistry& commands = reader.commands();
  commands.Register({kCmdSeatState, "seat state", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 1) return Reply::Status(kStatusBadParameter);
                       return Reply::Status(SeatState(r, data[0]));
                     }});
  commands.Register({kCmdSpeed, "card speed", kAllFamilies, true, [settings](VirtualReader&, const Bytes& data) {
                       if (data.size() != 2 || data[1] >= kSpeedCodes) return Reply::Status(kStatusBadParameter);
                       settings->speed_code[data[0]] = data[1];
                       return Reply::Ok();
                     }});
  // Data: a 16-bit value the host always sends as 000A, then the seat.
  commands.Register({kCmdPowerOn, "power on", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 3) return Reply::Status(kStatusBadParameter);
                       ContactCpuCard* card = nullptr;
                       const std::uint16_t found = FindContactCard(r, data[2], &card);
                       if (found != kStatusOk) return Reply::Status(found);
                       if (!card->PowerOn()) return Reply::Status(kSeatMute);
                       return Reply::Ok(card->atr());
                     }});
  commands.Register({kCmdPowerOff, "power off", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 1) return Reply::Status(kStatusBadParameter);
                       ContactCpuCard* card = nullptr;
                       const std::uint16_t found = FindContactCard(r, data[0], &card);
                       if (found != kStatusOk) return Reply::Status(found);
                       card->PowerOff();
                       return Reply::Ok();
                     }});
  commands.Register({kCmdApdu, "apdu", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() < 2) return Reply::Status(kStatusBadParameter);
                       Card* any = r.seats().Get(data[0]);
                       if (any == nullptr) return Reply::Status(kSeatEmpty);
                       auto* card = dynamic_cast<ApduCard*>(any);
                       if (card == nullptr) return Reply::Status(kStatusWrongCardKind);
                       if (!card->ReadyForApdus()) return Reply::Status(kSeatUnpowered);
                       return Reply::Ok(card->Transmit(Bytes(data.begin() + 1, data.end()), r.rng()));
                     }});
  commands.Register(
      {kCmdSetCardType, "set card type", kAllFamilies, true, [settings](VirtualReader&, const Bytes& data) {
         if (data.size() != 2) return Reply::Status(kStatusBadParameter);
         settings->card_type[data[0]] = data[1];
         return Reply::Ok();
       }});
  commands.Register(
      {kCmdGetCardType, "get card type", kAllFamilies, true, [settings](VirtualReader& r, const Bytes& data) {
         if (data.size() != 1) return Reply::Status(kStatusBadParameter);
         return Reply::Ok(Bytes{CardTypeOf(r, *settings, data[0])});
       }});

  reader.control().Register("seat", "SEAT", [settings](VirtualReader& r, const ControlRequest& request) {
    std::uint8_t at = 0;
    if (request.words.size() != 1 || !ParseSeatNumber(request.words[0], &at)) return Err("usage: seat SEAT (0-255)");
    const Card* card = r.seats().Get(at);
    const std::uint16_t state = SeatState(r, at);
    return Ok("card=" + (card ? card->Kind() : std::string("-")) +
              " state=" + ToHex(Bytes{static_cast<std::uint8_t>(state >> 8), static_cast<std::uint8_t>(state)}) +
              " type=" + Hex2(CardTypeOf(r, *settings, at)) + " speed=" + SpeedText(settings->speed_code[at]));
  });
}

std::uint8_t SeatCardType(VirtualReader& reader, std::uint8_t seat) {
  const CommandEntry* entry = reader.commands().Find(kCmdGetCardType);
  if (entry == nullptr) return kCardTypeNone;
  const Reply reply = entry->handler(reader, Bytes{seat});
  return reply.data.empty() ? kCardTypeNone : reply.data[0];
}

}  // namespace kpsim
