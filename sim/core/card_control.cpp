// Control requests about cards: insert, remove, list, and the magnetic
// swipe that the magnetic head module takes over.

#include <cstdlib>

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

bool ParseSeat(const std::string& text, std::uint8_t* seat) {
  if (text.empty() || text.size() > 3) return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || value < 0 || value > 255) return false;
  *seat = static_cast<std::uint8_t>(value);
  return true;
}

}  // namespace

void InstallCardControl(VirtualReader& reader) {
  ControlVerbs& verbs = reader.control();
  verbs.Register("insert", "SEAT KIND [ARG...]", [](VirtualReader& r, const ControlRequest& request) {
    std::uint8_t seat = 0;
    if (request.words.size() < 2 || !ParseSeat(request.words[0], &seat)) return Err("usage: insert SEAT KIND [ARG...]");
    const std::vector<std::string> args(request.words.begin() + 2, request.words.end());
    std::string error;
    std::unique_ptr<Card> card = r.card_kinds().Make(request.words[1], args, &error);
    if (!card) return Err(error);
    r.seats().Insert(seat, std::move(card));
    return Ok();
  });
  verbs.Register("remove", "SEAT", [](VirtualReader& r, const ControlRequest& request) {
    std::uint8_t seat = 0;
    if (request.words.size() != 1 || !ParseSeat(request.words[0], &seat)) return Err("usage: remove SEAT");
    if (!r.seats().Remove(seat)) return Err("seat " + request.words[0] + " is empty");
    return Ok();
  });
  verbs.Register("cards", "", [](VirtualReader& r, const ControlRequest&) {
    std::string text;
    for (int seat = 0; seat < SeatTable::kSeats; ++seat) {
      const Card* card = r.seats().Get(static_cast<std::uint8_t>(seat));
      if (card == nullptr) continue;
      if (!text.empty()) text += ' ';
      text += std::to_string(seat) + '=' + card->Kind();
      const std::string summary = card->Summary();
      if (!summary.empty()) text += ':' + summary;
    }
    return Ok(text);
  });
  verbs.Register("swipe", "TRACK1HEX|- TRACK2HEX|-",
                 [](VirtualReader&, const ControlRequest&) { return Err("no magnetic head model in this build"); });
}

}  // namespace kpsim
