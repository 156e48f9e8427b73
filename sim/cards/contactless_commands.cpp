// The contactless field commands: activation of a processor card (0x3224)
// and of a sector card (0x3241), halt (0x3225), sector authentication
// (0x3242), blocks (0x3243, 0x3244), value blocks (0x3245 to 0x3248) and
// sector keys (0x3249); the "rf-cpu" and "sector" card kinds and the
// "rf-block" control request.
//
// The field is seat 255; a card there that these commands do not know (the
// identity card, read through the identity module) answers none of them, so
// it counts as no card.  Parameters are checked first (a malformed or
// out-of-range field is refused with 2005 whatever lies in the field), then
// the card: none (1001), not a sector card (2006), not activated (1002),
// then the sector's authentication.

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "cards/card_status.h"
#include "cards/cpu_cards.h"
#include "cards/sector_card.h"
#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

constexpr std::uint16_t kCmdActivate = 0x3224;
constexpr std::uint16_t kCmdHalt = 0x3225;
constexpr std::uint16_t kCmdActivateSectorCard = 0x3241;
constexpr std::uint16_t kCmdAuthenticate = 0x3242;
constexpr std::uint16_t kCmdReadBlock = 0x3243;
constexpr std::uint16_t kCmdWriteBlock = 0x3244;
constexpr std::uint16_t kCmdReadValue = 0x3245;
constexpr std::uint16_t kCmdWriteValue = 0x3246;
constexpr std::uint16_t kCmdIncrement = 0x3247;
constexpr std::uint16_t kCmdDecrement = 0x3248;
constexpr std::uint16_t kCmdWriteKey = 0x3249;

// Activation data: two bytes (the host sends 0001).
constexpr std::size_t kActivationData = 2;

// The sector card in the field, or the status word that stops a sector
// command: no card, or a card of another kind.
std::uint16_t FindSectorCard(VirtualReader& reader, SectorCard** card) {
  RfCard* any = reader.seats().Find<RfCard>(kFieldSeat);
  if (any == nullptr) return kSeatEmpty;
  *card = dynamic_cast<SectorCard*>(any);
  return *card != nullptr ? kStatusOk : kStatusWrongCardKind;
}

// As above, and the card must be activated.
std::uint16_t FindActiveSectorCard(VirtualReader& reader, SectorCard** card) {
  const std::uint16_t found = FindSectorCard(reader, card);
  if (found != kStatusOk) return found;
  return (*card)->active() ? kStatusOk : kSeatUnpowered;
}

// A command naming a sector and a key: sector, key type and a 6-byte key,
// checked before the activated sector card is looked for; `action` then
// runs on the card.
template <typename Action>
Reply OnSectorKey(VirtualReader& r, const Bytes& data, Action action) {
  SectorCard::KeyType type = SectorCard::KeyType::kA;
  if (data.size() != 2 + SectorCard::kKeySize || data[0] >= SectorCard::kSectors ||
      !SectorCard::ParseKeyType(data[1], &type)) {
    return Reply::Status(kStatusBadParameter);
  }
  SectorCard* card = nullptr;
  const std::uint16_t found = FindActiveSectorCard(r, &card);
  if (found != kStatusOk) return Reply::Status(found);
  return action(*card, data[0], type, Bytes(data.begin() + 2, data.end()));
}

// A command on one block: the block number and `size - 1` more bytes,
// checked before the activated sector card is looked for, and the block
// must lie in the authenticated sector; `action` then runs on the card.
template <typename Action>
Reply OnAuthorisedBlock(VirtualReader& r, const Bytes& data, std::size_t size, Action action) {
  if (data.size() != size || data[0] >= SectorCard::kBlocks) return Reply::Status(kStatusBadParameter);
  SectorCard* card = nullptr;
  const std::uint16_t found = FindActiveSectorCard(r, &card);
  if (found != kStatusOk) return Reply::Status(found);
  if (!card->Authorised(data[0])) return Reply::Status(kStatusNotAuthenticated);
  return action(*card);
}

std::int32_t CountFromWire(const Bytes& data, bool lsb_first) {
  std::uint32_t raw = 0;
  for (int i = 0; i < 4; ++i) raw = raw << 8 | data[static_cast<std::size_t>(1 + (lsb_first ? 3 - i : i))];
  return static_cast<std::int32_t>(raw);
}

Bytes CountToWire(std::int32_t count, bool lsb_first) {
  const auto raw = static_cast<std::uint32_t>(count);
  Bytes out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(raw >> (lsb_first ? 8 * i : 8 * (3 - i))));
  return out;
}

// Increment (sign +1) or decrement (-1) of a value block in place.
Reply ChangeValue(VirtualReader& r, const Bytes& data, int sign) {
  return OnAuthorisedBlock(r, data, 5, [&](SectorCard& card) {
    std::int32_t value = 0;
    if (!card.ReadValue(data[0], &value)) return Reply::Status(kStatusNotValueBlock);
    const std::int64_t amount = CountFromWire(data, card.LsbFirst(r.state().family));
    const std::int64_t result = static_cast<std::int64_t>(value) + sign * amount;
    if (result < std::numeric_limits<std::int32_t>::min() || result > std::numeric_limits<std::int32_t>::max())
      return Reply::Status(kStatusValueOutOfRange);
    if (!card.WriteValue(data[0], static_cast<std::int32_t>(result))) return Reply::Status(kStatusBlockNotWritable);
    return Reply::Ok();
  });
}

bool ParseBlockNumber(const std::string& text, int* block) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value >= SectorCard::kBlocks) return false;
  *block = static_cast<int>(value);
  return true;
}

}  // namespace

void InstallContactlessCards(VirtualReader& reader) {
  reader.card_kinds().Register("rf-cpu", "[uid=HEX] [ats=HEX] [type=HEX] [getresponse] [apdu=CMD:RESP ...]",
                               MakeContactlessCpuCard);
  reader.card_kinds().Register("sector", "[uid=HEX8|random] [keya=HEX12] [keyb=HEX12] [type=HEX2] [order=...]",
                               MakeSectorCard);

  CommandRegistry& commands = reader.commands();
  // Any card in the field: type, UID length, UID, ATS length, ATS (none for
  // a sector card, which does not speak the block protocol).
  commands.Register({kCmdActivate, "activate", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != kActivationData) return Reply::Status(kStatusBadParameter);
                       auto* card = r.seats().Find<RfCard>(kFieldSeat);
                       if (card == nullptr) return Reply::Status(kSeatEmpty);
                       card->Activate();
                       Bytes out{card->type(), static_cast<std::uint8_t>(card->uid().size())};
                       out.insert(out.end(), card->uid().begin(), card->uid().end());
                       const auto* cpu = dynamic_cast<const ContactlessCpuCard*>(card);
                       const Bytes ats = cpu != nullptr ? cpu->ats() : Bytes{};
                       out.push_back(static_cast<std::uint8_t>(ats.size()));
                       out.insert(out.end(), ats.begin(), ats.end());
                       return Reply::Ok(out);
                     }});
  commands.Register({kCmdHalt, "halt", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       if (data.size() != 2) return Reply::Status(kStatusBadParameter);
                       auto* card = r.seats().Find<RfCard>(kFieldSeat);
                       if (card == nullptr) return Reply::Status(kSeatEmpty);
                       card->Halt();
                       return Reply::Ok();
                     }});
  // Sector cards only: type and the 4-byte UID.
  commands.Register(
      {kCmdActivateSectorCard, "activate sector card", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
         if (data.size() != kActivationData) return Reply::Status(kStatusBadParameter);
         SectorCard* card = nullptr;
         const std::uint16_t found = FindSectorCard(r, &card);
         if (found != kStatusOk) return Reply::Status(found);
         card->Activate();
         Bytes out{card->type()};
         out.insert(out.end(), card->uid().begin(), card->uid().end());
         return Reply::Ok(out);
       }});
  commands.Register({kCmdAuthenticate, "authenticate", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnSectorKey(
                           r, data, [](SectorCard& card, int sector, SectorCard::KeyType type, const Bytes& key) {
                             return Reply::Status(card.Authenticate(sector, type, key) ? kStatusOk : kStatusAuthFailed);
                           });
                     }});
  commands.Register({kCmdReadBlock, "read block", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnAuthorisedBlock(r, data, 1, [&](SectorCard& card) {
                         const SectorCard::Block block = card.Read(data[0]);
                         return Reply::Ok(Bytes(block.begin(), block.end()));
                       });
                     }});
  commands.Register({kCmdWriteBlock, "write block", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnAuthorisedBlock(r, data, 1 + SectorCard::kBlockSize, [&](SectorCard& card) {
                         SectorCard::Block block{};
                         std::copy(data.begin() + 1, data.end(), block.begin());
                         return Reply::Status(card.Write(data[0], block) ? kStatusOk : kStatusBlockNotWritable);
                       });
                     }});
  commands.Register({kCmdReadValue, "read value", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnAuthorisedBlock(r, data, 1, [&](SectorCard& card) {
                         std::int32_t value = 0;
                         if (!card.ReadValue(data[0], &value)) return Reply::Status(kStatusNotValueBlock);
                         return Reply::Ok(CountToWire(value, card.LsbFirst(r.state().family)));
                       });
                     }});
  commands.Register({kCmdWriteValue, "write value", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnAuthorisedBlock(r, data, 5, [&](SectorCard& card) {
                         const std::int32_t value = CountFromWire(data, card.LsbFirst(r.state().family));
                         return Reply::Status(card.WriteValue(data[0], value) ? kStatusOk : kStatusBlockNotWritable);
                       });
                     }});
  commands.Register({kCmdIncrement, "increment", kAllFamilies, true,
                     [](VirtualReader& r, const Bytes& data) { return ChangeValue(r, data, +1); }});
  commands.Register({kCmdDecrement, "decrement", kAllFamilies, true,
                     [](VirtualReader& r, const Bytes& data) { return ChangeValue(r, data, -1); }});
  commands.Register({kCmdWriteKey, "write key", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                       return OnSectorKey(r, data,
                                          [](SectorCard& card, int sector, SectorCard::KeyType type, const Bytes& key) {
                                            if (card.authenticated_sector() != sector)
                                              return Reply::Status(kStatusNotAuthenticated);
                                            card.SetKey(sector, type, key);
                                            return Reply::Ok();
                                          });
                     }});

  // The stored bytes of a block of the field's sector card, keys included;
  // with HEX, the block is overwritten as it is (no check, no
  // authentication), to prepare a card.
  reader.control().Register("rf-block", "BLOCK [HEX32]", [](VirtualReader& r, const ControlRequest& request) {
    int block = 0;
    if (request.words.empty() || request.words.size() > 2 || !ParseBlockNumber(request.words[0], &block)) {
      return Err("usage: rf-block BLOCK(0-63) [HEX32]");
    }
    auto* card = r.seats().Find<SectorCard>(kFieldSeat);
    if (card == nullptr) return Err("no sector card in the field (seat 255)");
    if (request.words.size() == 2) {
      Bytes data;
      if (!FromHex(request.words[1], &data) || data.size() != SectorCard::kBlockSize) {
        return Err("a block is 16 bytes of hex");
      }
      SectorCard::Block raw{};
      std::copy(data.begin(), data.end(), raw.begin());
      card->SetRaw(block, raw);
      return Ok();
    }
    const SectorCard::Block& raw = card->Raw(block);
    return Ok(ToHex(raw.data(), raw.size()));
  });
}

}  // namespace kpsim
