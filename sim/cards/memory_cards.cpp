// The memory-card module: the reader's memory-card commands, handed to the
// chip in the addressed seat, the chip kinds for "insert", and the "dump"
// request that shows a chip's memory and counters.
//
// Every command starts with the seat byte.  An empty seat answers 1001, a
// seat holding a card that is no memory chip (a processor card) 2006, as
// does a chip asked for an operation it does not have.  The
// commands only the type-0 firmware has (password read-back, the AT88SC1608
// authentication and fuse read, the AT88SC102 erase) are unknown to the
// other families.

#include <cstdlib>
#include <string>

#include "cards/memory_chip.h"
#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

Reply RunMemoryCommand(VirtualReader& reader, std::uint16_t code, const Bytes& data) {
  if (data.empty()) return Reply::Status(kStatusBadParameter);
  Card* card = reader.seats().Get(data[0]);
  if (card == nullptr) return Reply::Status(kMemoryNoCard);
  auto* chip = dynamic_cast<MemoryChip*>(card);
  if (chip == nullptr) return Reply::Status(kMemoryWrongCard);
  return chip->Execute(MemoryCommand{code, reader.state().family, Bytes(data.begin() + 1, data.end())});
}

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || value > limit || text[0] == '-') return false;
  *out = value;
  return true;
}

// dump SEAT                      ok kind=... (state) areas=...
// dump SEAT AREA [ADDR LENGTH]   ok HEX
std::string Dump(VirtualReader& reader, const ControlRequest& request) {
  const char* usage = "usage: dump SEAT [AREA [ADDRESS LENGTH]]";
  unsigned long seat = 0;
  if (request.words.empty() || request.words.size() == 3 || request.words.size() > 4 ||
      !ParseNumber(request.words[0], 255, &seat)) {
    return Err(usage);
  }
  const auto* chip = dynamic_cast<const MemoryChip*>(reader.seats().Get(static_cast<std::uint8_t>(seat)));
  if (chip == nullptr) return Err("seat " + request.words[0] + " holds no memory chip");
  if (request.words.size() == 1) return Ok(chip->Describe() + " areas=" + chip->Areas());
  Bytes area;
  if (!chip->Area(request.words[1], &area)) {
    return Err("no area '" + request.words[1] + "' (" + chip->Areas() + ")");
  }
  unsigned long address = 0;
  unsigned long length = area.size();
  if (request.words.size() == 4) {
    if (!ParseNumber(request.words[2], area.size(), &address) ||
        !ParseNumber(request.words[3], area.size() - address, &length)) {
      return Err("the area holds " + std::to_string(area.size()) + " bytes");
    }
  }
  return Ok(ToHex(area.data() + address, length));
}

}  // namespace

void InstallMemoryCards(VirtualReader& reader) {
  struct Code {
    std::uint16_t code;
    const char* name;
    FamilyMask families;
  };
  static constexpr Code kCodes[] = {
      {kMemCmdInitializeKey, "memory initialise key", kAllFamilies},
      {kMemCmdVerify, "memory verify password", kAllFamilies},
      {kMemCmdRead, "memory read", kAllFamilies},
      {kMemCmdWrite, "memory write", kAllFamilies},
      {kMemCmdReadPassword, "memory read password", kFamilyT0},
      {kMemCmdChangePassword, "memory change password", kAllFamilies},
      {kMemCmdFuse, "memory fuse", kAllFamilies},
      {kMemCmdReadProtection, "memory read protection", kAllFamilies},
      {kMemCmdWriteProtection, "memory write protection", kAllFamilies},
      {kMemCmdReadCounter, "memory read error counter", kAllFamilies},
      {kMemCmdInitAuthentication, "memory init authentication", kFamilyT0},
      {kMemCmdAuthenticate, "memory authenticate", kFamilyT0},
      {kMemCmdReadFuse, "memory read fuse", kFamilyT0},
      {kMemCmdEraseOrConditionalWrite, "memory erase or conditional write", kFamilyT0},
  };
  for (const Code& c : kCodes) {
    const std::uint16_t code = c.code;
    reader.commands().Register({code, c.name, c.families, true, [code](VirtualReader& r, const Bytes& data) {
                                  return RunMemoryCommand(r, code, data);
                                }});
  }

  for (const auto& kinds :
       {Sle4442Kinds(), Sle4428Kinds(), At24cxxKinds(), At88scKinds(), At88sc1608Kinds(), At45db041Kinds()}) {
    for (const ChipKind& kind : kinds) {
      const ChipMaker maker = kind.maker;
      reader.card_kinds().Register(kind.kind, kind.usage,
                                   [maker](const std::vector<std::string>& words, std::string* error) {
                                     CardArgs args;
                                     if (!args.Parse(words, error)) return std::unique_ptr<Card>();
                                     return std::unique_ptr<Card>(maker(args, error));
                                   });
    }
  }

  reader.control().Register("dump", "SEAT [AREA [ADDRESS LENGTH]]", Dump);
}

}  // namespace kpsim
