#include "cards/sector_card.h"

#include <algorithm>

#include "cards/card_args.h"

namespace kpsim {

namespace {

// Transport configuration: both keys may read and write every block.
constexpr std::uint8_t kAccessBytes[] = {0xFF, 0x07, 0x80, 0x69};
constexpr std::size_t kKeyBOffset = 10;
constexpr std::uint8_t kRandomUidFirstByte = 0x08;

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

}  // namespace

bool SectorCard::ParseKeyType(std::uint8_t byte, KeyType* type) {
  if (byte == 0x60 || byte == 0x00) {
    *type = KeyType::kA;
    return true;
  }
  if (byte == 0x61 || byte == 0x01) {
    *type = KeyType::kB;
    return true;
  }
  return false;
}

Bytes SectorCard::DefaultUid() { return Bytes{0x5A, 0x3C, 0x9E, 0x12}; }

Bytes SectorCard::DefaultKey() { return Bytes(kKeySize, 0xFF); }

SectorCard::SectorCard(Bytes uid, bool random_uid, const Bytes& key_a, const Bytes& key_b, std::uint8_t type,
                       ValueOrder order)
    : RfCard(uid, type), random_uid_(random_uid), current_uid_(std::move(uid)), rng_(0x5EC7), order_(order) {
  if (random_uid_) {
    current_uid_ = {kRandomUidFirstByte, 0, 0, 0};
    for (std::size_t i = 1; i < 4; ++i) current_uid_[i] = static_cast<std::uint8_t>(rng_.Next() >> 32);
  }
  // Manufacturer block: UID, its check byte, type, answer to request, maker data.
  Block& block0 = blocks_[0];
  std::copy(current_uid_.begin(), current_uid_.end(), block0.begin());
  block0[4] = static_cast<std::uint8_t>(current_uid_[0] ^ current_uid_[1] ^ current_uid_[2] ^ current_uid_[3]);
  block0[5] = type;
  block0[6] = 0x04;
  block0[7] = 0x00;
  const char maker[] = "KPDEVSIM";
  std::copy(maker, maker + 8, block0.begin() + 8);
  for (int sector = 0; sector < kSectors; ++sector) {
    Block& trailer = blocks_[static_cast<std::size_t>(sector * kBlocksPerSector + 3)];
    std::copy(key_a.begin(), key_a.end(), trailer.begin());
    std::copy(std::begin(kAccessBytes), std::end(kAccessBytes), trailer.begin() + kKeySize);
    std::copy(key_b.begin(), key_b.end(), trailer.begin() + kKeyBOffset);
  }
}

std::string SectorCard::Summary() const {
  std::string text = RfCard::Summary();
  if (authenticated_sector_ >= 0) text += ",sector" + std::to_string(authenticated_sector_);
  return text;
}

void SectorCard::Activate() {
  RfCard::Activate();
  authenticated_sector_ = -1;
  if (random_uid_) {
    for (std::size_t i = 1; i < 4; ++i) current_uid_[i] = static_cast<std::uint8_t>(rng_.Next() >> 32);
  }
}

void SectorCard::Deactivate(State state) {
  RfCard::Deactivate(state);
  authenticated_sector_ = -1;
}

bool SectorCard::Authenticate(int sector, KeyType type, const Bytes& key) {
  const Block& trailer = blocks_[static_cast<std::size_t>(sector * kBlocksPerSector + 3)];
  const auto stored = trailer.begin() + (type == KeyType::kA ? 0 : static_cast<std::ptrdiff_t>(kKeyBOffset));
  if (key.size() != kKeySize || !std::equal(key.begin(), key.end(), stored)) {
    Deactivate(State::kIdle);
    return false;
  }
  authenticated_sector_ = sector;
  return true;
}

SectorCard::Block SectorCard::Read(int block) const {
  Block data = blocks_[static_cast<std::size_t>(block)];
  if (IsTrailer(block)) std::fill(data.begin(), data.begin() + kKeySize, 0x00);
  return data;
}

bool SectorCard::Write(int block, const Block& data) {
  if (block == 0) return false;
  blocks_[static_cast<std::size_t>(block)] = data;
  return true;
}

bool SectorCard::ReadValue(int block, std::int32_t* value) const {
  const Block& b = blocks_[static_cast<std::size_t>(block)];
  const std::uint32_t plain = GetLe32(&b[0]);
  if (GetLe32(&b[4]) != ~plain || GetLe32(&b[8]) != plain) return false;
  if (b[12] != b[14] || b[13] != b[15] || b[13] != static_cast<std::uint8_t>(~b[12])) return false;
  *value = static_cast<std::int32_t>(plain);
  return true;
}

bool SectorCard::WriteValue(int block, std::int32_t value) {
  if (block == 0 || IsTrailer(block)) return false;
  Block& b = blocks_[static_cast<std::size_t>(block)];
  const auto plain = static_cast<std::uint32_t>(value);
  PutLe32(&b[0], plain);
  PutLe32(&b[4], ~plain);
  PutLe32(&b[8], plain);
  b[12] = b[14] = static_cast<std::uint8_t>(block);
  b[13] = b[15] = static_cast<std::uint8_t>(~block);
  return true;
}

void SectorCard::SetKey(int sector, KeyType type, const Bytes& key) {
  Block& trailer = blocks_[static_cast<std::size_t>(sector * kBlocksPerSector + 3)];
  std::copy(key.begin(), key.end(),
            trailer.begin() + (type == KeyType::kA ? 0 : static_cast<std::ptrdiff_t>(kKeyBOffset)));
}

std::unique_ptr<Card> MakeSectorCard(const std::vector<std::string>& args, std::string* error) {
  Bytes uid = SectorCard::DefaultUid();
  bool random_uid = false;
  Bytes key_a = SectorCard::DefaultKey();
  Bytes key_b = SectorCard::DefaultKey();
  Bytes type{SectorCard::kDefaultType};
  SectorCard::ValueOrder order = SectorCard::ValueOrder::kFamily;
  for (const std::string& word : args) {
    const CardArg arg = SplitCardArg(word);
    if (arg.key == "uid" && arg.value == "random") {
      random_uid = true;
    } else if (arg.key == "uid") {
      if (!ParseHexArg(arg, 4, 4, &uid, error)) return nullptr;
      random_uid = false;
    } else if (arg.key == "keya") {
      if (!ParseHexArg(arg, SectorCard::kKeySize, SectorCard::kKeySize, &key_a, error)) return nullptr;
    } else if (arg.key == "keyb") {
      if (!ParseHexArg(arg, SectorCard::kKeySize, SectorCard::kKeySize, &key_b, error)) return nullptr;
    } else if (arg.key == "type") {
      if (!ParseHexArg(arg, 1, 1, &type, error)) return nullptr;
    } else if (arg.key == "order" && (arg.value == "lsb" || arg.value == "msb" || arg.value == "family")) {
      order = arg.value == "lsb"   ? SectorCard::ValueOrder::kLsbFirst
              : arg.value == "msb" ? SectorCard::ValueOrder::kMsbFirst
                                   : SectorCard::ValueOrder::kFamily;
    } else {
      *error =
          "usage: insert 255 sector [uid=HEX8|random] [keya=HEX12] [keyb=HEX12] [type=HEX2] "
          "[order=family|lsb|msb] ('" +
          word + "'?)";
      return nullptr;
    }
  }
  return std::make_unique<SectorCard>(std::move(uid), random_uid, key_a, key_b, type[0], order);
}

}  // namespace kpsim
