// The reader's card seats 0 to 255 (0 the contact seat, 255 the contactless
// processor card by the host's convention; the memory-card and SAM seats in
// between).  A seat is empty or holds one card.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/card.h"

namespace kpsim {

class SeatTable {
 public:
  static constexpr int kSeats = 256;

  // Puts the card in the seat, replacing any card there.
  void Insert(std::uint8_t seat, std::unique_ptr<Card> card) { seats_[seat] = std::move(card); }
  // Takes the card out; nullptr when the seat was empty.
  std::unique_ptr<Card> Remove(std::uint8_t seat) { return std::move(seats_[seat]); }
  Card* Get(std::uint8_t seat) const { return seats_[seat].get(); }
  template <typename T>
  T* Find(std::uint8_t seat) const {
    return dynamic_cast<T*>(seats_[seat].get());
  }
  int Occupied() const {
    int count = 0;
    for (const auto& card : seats_) count += card != nullptr;
    return count;
  }
  void ResetAll() {
    for (const auto& card : seats_) {
      if (card) card->OnModuleReset();
    }
  }

 private:
  std::array<std::unique_ptr<Card>, kSeats> seats_;
};

}  // namespace kpsim
