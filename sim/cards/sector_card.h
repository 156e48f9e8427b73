// The contactless sector card ("sector"): 16 sectors of 4 blocks of 16
// bytes.  Block 0 is the manufacturer block (UID, check byte, type, ...),
// read-only.  The last block of every sector is its trailer: key A (6
// bytes), access bytes (4), key B (6).  Reading a trailer shows key A as
// zeros.  A block is read or written only while its sector is the one last
// authenticated since the card's activation.
//
// Value blocks hold a signed 32-bit count three times (plain, inverted,
// plain; least significant byte first) and their block number four times
// (plain, inverted, plain, inverted).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cards/cpu_cards.h"
#include "core/family.h"

namespace kpsim {

class SectorCard : public RfCard {
 public:
  static constexpr int kSectors = 16;
  static constexpr int kBlocksPerSector = 4;
  static constexpr int kBlocks = kSectors * kBlocksPerSector;
  static constexpr std::size_t kBlockSize = 16;
  static constexpr std::size_t kKeySize = 6;
  static constexpr std::uint8_t kDefaultType = 0x08;

  using Block = std::array<std::uint8_t, kBlockSize>;

  // Which key a key-type byte names: 0x60 or 0x00 key A, 0x61 or 0x01 key B.
  enum class KeyType { kA, kB };
  static bool ParseKeyType(std::uint8_t byte, KeyType* type);

  // Byte order of counts on the wire: follows the firmware family unless
  // fixed by the card's order= argument.
  enum class ValueOrder { kFamily, kLsbFirst, kMsbFirst };

  static Bytes DefaultUid();
  static Bytes DefaultKey();

  // An empty uid with random_uid: a card that draws a new identifier
  // (first byte 08) at every activation.
  SectorCard(Bytes uid, bool random_uid, const Bytes& key_a, const Bytes& key_b, std::uint8_t type, ValueOrder order);

  std::string Kind() const override { return "sector"; }
  std::string Summary() const override;
  void Activate() override;
  const Bytes& uid() const override { return current_uid_; }

  // false when the key does not open the sector; the card then falls back
  // to idle and must be activated again.
  bool Authenticate(int sector, KeyType type, const Bytes& key);
  int authenticated_sector() const { return authenticated_sector_; }
  bool Authorised(int block) const {
    return authenticated_sector_ >= 0 && block / kBlocksPerSector == authenticated_sector_;
  }

  static bool IsTrailer(int block) { return block % kBlocksPerSector == kBlocksPerSector - 1; }
  // What a read shows (key A hidden in trailers).
  Block Read(int block) const;
  // Plain block write: false for the manufacturer block.
  bool Write(int block, const Block& data);
  // The count of a value block; false when the block fails the check.
  bool ReadValue(int block, std::int32_t* value) const;
  // Formats a value block; false for the manufacturer block and trailers.
  bool WriteValue(int block, std::int32_t value);
  void SetKey(int sector, KeyType type, const Bytes& key);

  // The stored bytes, keys included, for the control interface.
  const Block& Raw(int block) const { return blocks_[static_cast<std::size_t>(block)]; }
  void SetRaw(int block, const Block& data) { blocks_[static_cast<std::size_t>(block)] = data; }

  bool LsbFirst(Family family) const {
    return order_ == ValueOrder::kFamily ? family == Family::kT1 : order_ == ValueOrder::kLsbFirst;
  }

 protected:
  void Deactivate(State state) override;

 private:
  bool random_uid_ = false;
  Bytes current_uid_;
  Rng rng_;
  ValueOrder order_;
  int authenticated_sector_ = -1;
  std::array<Block, kBlocks> blocks_{};
};

std::unique_ptr<Card> MakeSectorCard(const std::vector<std::string>& args, std::string* error);

}  // namespace kpsim
