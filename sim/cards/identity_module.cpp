// The identity-card security module of the t0 reader.
//
// Commands: AA AA AA 96 69, a 2-byte length (high byte first) of what
// follows, the 2-byte command, a check byte (XOR of the length bytes and
// the command bytes).  Answers: AA AA AA 96 69, a 2-byte length of what
// follows, 3 status bytes 00 00 SW, the payload, a check byte (XOR of the
// length bytes, the status bytes and the payload).
//
//   20 01 find card:   9F + 4 bytes 00 (check byte 97); 80 without a card
//   20 02 select card: 90 + 8 bytes 00 (check byte 9C); 81 unless the card
//                      present was found first
//   30 01 read:        90 + text length, photo length (2 bytes each), the
//                      256-byte text block, the photo; 41 unless the card
//                      present was found and selected
//   any other command: 21; a wrong check byte: 10
// The failure answers carry no payload (11 bytes in all).
//
// The module reads the identity card in the lowest seat that holds one.
// Taking the card away (or a card that leaves by itself, "leave=...")
// forgets the find and the select.

#include <algorithm>
#include <cstdio>
#include <memory>

#include "cards/identity_card.h"
#include "core/modules.h"
#include "core/virtual_reader.h"
#include "wire/id_frame.h"

namespace kpsim {

namespace {

using kp::wire::kIdPreamble;
constexpr std::size_t kHeader = kp::wire::kIdHeader;
// Commands carry two bytes and the check byte; anything announcing much
// more is not a command of this module.
constexpr std::size_t kMaxCommandBody = 32;

constexpr std::uint16_t kFindCard = kp::wire::kIdFindCard;
constexpr std::uint16_t kSelectCard = kp::wire::kIdSelectCard;
constexpr std::uint16_t kReadCard = kp::wire::kIdReadCard;

constexpr std::uint8_t kFound = 0x9F;
constexpr std::uint8_t kDone = 0x90;
constexpr std::uint8_t kNoCard = 0x80;
constexpr std::uint8_t kSelectFailed = 0x81;
constexpr std::uint8_t kReadFailed = 0x41;
constexpr std::uint8_t kUnknownCommand = 0x21;
constexpr std::uint8_t kBadCheck = 0x10;

Bytes ModuleAnswer(std::uint8_t status, const Bytes& payload) {
  // Sized once: the two reserved bytes, the status, then the payload.
  Bytes body(3 + payload.size(), 0x00);
  body[2] = status;
  std::copy(payload.begin(), payload.end(), body.begin() + 3);
  return kp::wire::EncodeIdFrame(body);
}

class IdentityModuleProtocol : public RawProtocol {
 public:
  const char* Name() const override { return "identity module"; }
  bool Serves(const DeviceState& state) const override { return state.family == Family::kT0; }

  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    for (std::size_t i = 0; i < sizeof kIdPreamble; ++i) {
      if (i >= size) return ParseResult::NeedMore();
      if (data[i] != kIdPreamble[i]) return ParseResult::NoMatch();
    }
    if (size < kHeader) return ParseResult::NeedMore();
    const std::size_t body = kp::wire::IdAnnounced(data);
    if (body < 1 || body > kMaxCommandBody) return ParseResult::NoMatch();
    if (size < kHeader + body) return ParseResult::NeedMore();

    if (body >= 3) {
      char key[16];
      std::snprintf(key, sizeof key, "id-%02X%02X", data[kHeader], data[kHeader + 1]);
      reader.UseDeviceTime(key);
    }
    const AnswerPlan plan = reader.PlanAnswer(AnswerKind::kRaw);
    if (!plan.swallowed()) Execute(data, body, plan, reader);
    return ParseResult::Done(kHeader + body);
  }

 private:
  struct Located {
    int seat = -1;
    IdentityCard* card = nullptr;
  };

  static Located FindCard(VirtualReader& reader) {
    for (int seat = 0; seat < SeatTable::kSeats; ++seat) {
      IdentityCard* card = reader.seats().Find<IdentityCard>(static_cast<std::uint8_t>(seat));
      if (card != nullptr) return {seat, card};
    }
    return {};
  }

  void Execute(const std::uint8_t* data, std::size_t body, const AnswerPlan& plan, VirtualReader& reader) {
    if (!kp::wire::IdCheckOk(data, kHeader + body)) {
      reader.SendRaw(plan, ModuleAnswer(kBadCheck, {}));
      return;
    }
    const std::uint16_t command =
        body >= 3 ? static_cast<std::uint16_t>(data[kHeader] << 8 | data[kHeader + 1]) : std::uint16_t{0};

    const Located present = FindCard(reader);
    const unsigned long serial = present.card != nullptr ? present.card->serial() : 0;
    // A card that went away, or another card in its place, was never
    // found or selected.
    if (found_ != serial) found_ = selected_ = 0;

    switch (command) {
      case kFindCard:
        if (present.card == nullptr) {
          reader.SendRaw(plan, ModuleAnswer(kNoCard, {}));
          return;
        }
        found_ = serial;
        selected_ = 0;
        reader.SendRaw(plan, ModuleAnswer(kFound, Bytes(4, 0x00)));
        if (present.card->leave() == IdentityCard::Leave::kAfterFind) Leave(reader, present.seat);
        return;
      case kSelectCard:
        if (present.card == nullptr || found_ != serial) {
          reader.SendRaw(plan, ModuleAnswer(kSelectFailed, {}));
          return;
        }
        selected_ = serial;
        reader.SendRaw(plan, ModuleAnswer(kDone, Bytes(8, 0x00)));
        if (present.card->leave() == IdentityCard::Leave::kAfterSelect) Leave(reader, present.seat);
        return;
      case kReadCard: {
        if (present.card == nullptr || selected_ != serial) {
          reader.SendRaw(plan, ModuleAnswer(kReadFailed, {}));
          return;
        }
        const Bytes text = present.card->TextBlock();
        const Bytes& photo = present.card->photo();
        Bytes payload;
        payload.push_back(static_cast<std::uint8_t>(text.size() >> 8));
        payload.push_back(static_cast<std::uint8_t>(text.size()));
        payload.push_back(static_cast<std::uint8_t>(photo.size() >> 8));
        payload.push_back(static_cast<std::uint8_t>(photo.size()));
        payload.insert(payload.end(), text.begin(), text.end());
        payload.insert(payload.end(), photo.begin(), photo.end());
        reader.SendRaw(plan, ModuleAnswer(kDone, payload));
        return;
      }
      default:
        reader.SendRaw(plan, ModuleAnswer(kUnknownCommand, {}));
        return;
    }
  }

  void Leave(VirtualReader& reader, int seat) {
    reader.seats().Remove(static_cast<std::uint8_t>(seat));
    found_ = selected_ = 0;
  }

  unsigned long found_ = 0;     // serial of the card found last, 0 none
  unsigned long selected_ = 0;  // serial of the card selected, 0 none
};

}  // namespace

void InstallIdentityModule(VirtualReader& reader) {
  reader.stream().Add(std::make_unique<IdentityModuleProtocol>());
  reader.card_kinds().Register("id", IdentityCardUsage(), [](const std::vector<std::string>& args, std::string* error) {
    return std::unique_ptr<Card>(IdentityCard::Make(args, error));
  });
}

}  // namespace kpsim
