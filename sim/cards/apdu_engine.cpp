#include "cards/apdu_engine.h"

#include <algorithm>
#include <functional>

#include "wire/tlv.h"

namespace kpsim {

namespace {

constexpr std::uint16_t kMfFid = 0x3F00;

// File descriptor bytes of the control parameters (tag 82).
constexpr std::uint8_t kDescriptorTransparent = 0x01;
constexpr std::uint8_t kDescriptorLinearFixed = 0x02;
constexpr std::uint8_t kDescriptorDf = 0x38;

Bytes Sw(std::uint16_t sw) { return Bytes{static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw)}; }

Bytes WithSw(Bytes data, std::uint16_t sw) {
  data.push_back(static_cast<std::uint8_t>(sw >> 8));
  data.push_back(static_cast<std::uint8_t>(sw));
  return data;
}

using kp::wire::AppendTlv;

Bytes Fid(std::uint16_t fid) { return Bytes{static_cast<std::uint8_t>(fid >> 8), static_cast<std::uint8_t>(fid)}; }

std::size_t EfSize(const CardFile& file) {
  if (file.type == CardFile::Type::kTransparent) return file.data.size();
  std::size_t size = 0;
  for (const Bytes& record : file.records) size += record.size();
  return size;
}

// The file's description under `tag`: 6F (file control information) or 62
// (control parameters), with size (80), descriptor (82), identifier (83),
// DF name (84) and short identifier (88) where the file has them.
Bytes Describe(const CardFile& file, std::uint8_t tag) {
  Bytes inner;
  if (!file.IsDf()) {
    const std::size_t size = EfSize(file);
    AppendTlv(&inner, 0x80, Bytes{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
  }
  const std::uint8_t descriptor = file.IsDf()                                 ? kDescriptorDf
                                  : file.type == CardFile::Type::kTransparent ? kDescriptorTransparent
                                                                              : kDescriptorLinearFixed;
  AppendTlv(&inner, 0x82, Bytes{descriptor});
  AppendTlv(&inner, 0x83, Fid(file.fid));
  if (!file.name.empty()) AppendTlv(&inner, 0x84, file.name);
  if (file.sfi != 0) AppendTlv(&inner, 0x88, Bytes{file.sfi});
  Bytes out;
  AppendTlv(&out, tag, inner);
  return out;
}

std::unique_ptr<CardFile> MakeDf(std::uint16_t fid, Bytes name) {
  auto file = std::make_unique<CardFile>();
  file->type = CardFile::Type::kDf;
  file->fid = fid;
  file->name = std::move(name);
  return file;
}

std::unique_ptr<CardFile> MakeTransparent(std::uint16_t fid, std::uint8_t sfi, Bytes data) {
  auto file = std::make_unique<CardFile>();
  file->type = CardFile::Type::kTransparent;
  file->fid = fid;
  file->sfi = sfi;
  file->data = std::move(data);
  return file;
}

std::unique_ptr<CardFile> MakeRecords(std::uint16_t fid, std::uint8_t sfi, std::vector<Bytes> records) {
  auto file = std::make_unique<CardFile>();
  file->type = CardFile::Type::kRecords;
  file->fid = fid;
  file->sfi = sfi;
  file->records = std::move(records);
  return file;
}

}  // namespace

CardFile* CardFile::Add(std::unique_ptr<CardFile> child) {
  child->parent = this;
  children.push_back(std::move(child));
  return children.back().get();
}

std::unique_ptr<CardFile> DefaultFileSystem() {
  std::unique_ptr<CardFile> mf = MakeDf(kMfFid, {});
  const std::string serial = "KPDEV-CPU-000001";
  mf->Add(MakeTransparent(0x0001, 1, Bytes(serial.begin(), serial.end())));
  mf->Add(MakeRecords(0x0002, 2, {{0x11, 0x12, 0x13, 0x14}, {0x21, 0x22, 0x23, 0x24}, {0x31, 0x32, 0x33, 0x34}}));
  CardFile* app = mf->Add(MakeDf(0x1001, {0xF0, 0x4B, 0x50, 0x44, 0x45, 0x56, 0x01}));
  Bytes counting(32);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
  app->Add(MakeTransparent(0x0101, 1, counting));
  app->Add(MakeRecords(
      0x0102, 2, {{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8}, {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8}}));
  return mf;
}

bool ParseScriptedApdu(const std::string& text, ScriptedApdu* out, std::string* error) {
  const std::size_t colon = text.find(':');
  ScriptedApdu entry;
  if (colon == std::string::npos || !FromHex(text.substr(0, colon), &entry.command) ||
      !FromHex(text.substr(colon + 1), &entry.response) || entry.command.empty() || entry.response.size() < 2) {
    *error = "apdu= needs COMMANDHEX:RESPONSEHEX (the response with its two status bytes), got '" + text + "'";
    return false;
  }
  *out = std::move(entry);
  return true;
}

ApduEngine::ApduEngine(std::vector<ScriptedApdu> script, bool get_response)
    : script_(std::move(script)), get_response_(get_response), root_(DefaultFileSystem()) {
  Reset();
}

void ApduEngine::Reset() {
  current_df_ = root_.get();
  current_ef_ = nullptr;
  pending_.clear();
}

const ScriptedApdu* ApduEngine::FindScripted(const Bytes& apdu) const {
  // The longest matching command wins, so a full APDU can override a
  // shorter prefix given for a whole family of commands.
  const ScriptedApdu* best = nullptr;
  for (const ScriptedApdu& entry : script_) {
    if (entry.command.size() > apdu.size()) continue;
    if (!std::equal(entry.command.begin(), entry.command.end(), apdu.begin())) continue;
    if (best == nullptr || entry.command.size() > best->command.size()) best = &entry;
  }
  return best;
}

Bytes ApduEngine::Transmit(const Bytes& apdu, Rng& rng) {
  if (const ScriptedApdu* scripted = FindScripted(apdu)) {
    pending_.clear();
    return scripted->response;
  }
  // Short APDUs only: CLA INS P1 P2, then nothing, Le, Lc data, or Lc data Le.
  Command command;
  if (apdu.size() < 4) return Sw(kSwWrongLength);
  command.cla = apdu[0];
  command.ins = apdu[1];
  command.p1 = apdu[2];
  command.p2 = apdu[3];
  if (apdu.size() == 5) {
    command.le = apdu[4] == 0 ? 256 : apdu[4];
  } else if (apdu.size() > 5) {
    const std::size_t lc = apdu[4];
    if (lc == 0 || (apdu.size() != 5 + lc && apdu.size() != 6 + lc)) return Sw(kSwWrongLength);
    command.data.assign(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (apdu.size() == 6 + lc) command.le = apdu.back() == 0 ? 256 : apdu.back();
  }
  if (command.ins != 0xC0) pending_.clear();
  Bytes answer = Execute(command, rng);
  // A T=0 card cannot answer data to a command that carried data: it keeps
  // the data and says how much is waiting.
  if (get_response_ && !command.data.empty() && answer.size() > 2 && answer[answer.size() - 2] == 0x90 &&
      answer.back() == 0x00) {
    pending_.assign(answer.begin(), answer.end() - 2);
    return Bytes{0x61, static_cast<std::uint8_t>(pending_.size() & 0xFF)};
  }
  return answer;
}

Bytes ApduEngine::Execute(const Command& command, Rng& rng) {
  // Inter-industry classes only; logical channel and secure messaging bits
  // are not looked at.
  if ((command.cla & 0xF0) != 0x00) return Sw(kSwClaNotSupported);
  switch (command.ins) {
    case 0xA4:
      return Select(command);
    case 0xB0:
      return ReadBinary(command);
    case 0xB2:
      return ReadRecord(command);
    case 0x84:
      return GetChallenge(command, rng);
    case 0xC0:
      return GetResponse(command);
    default:
      return Sw(kSwInsNotSupported);
  }
}

CardFile* ApduEngine::FindByFid(std::uint16_t fid) const {
  if (fid == kMfFid) return root_.get();
  for (const auto& child : current_df_->children) {
    if (child->fid == fid) return child.get();
  }
  CardFile* parent = current_df_->parent;
  if (parent == nullptr) return nullptr;
  if (parent->fid == fid) return parent;
  for (const auto& sibling : parent->children) {
    if (sibling->IsDf() && sibling->fid == fid) return sibling.get();
  }
  return nullptr;
}

CardFile* ApduEngine::FindEfBySfi(std::uint8_t sfi) const {
  for (const auto& child : current_df_->children) {
    if (!child->IsDf() && child->sfi == sfi) return child.get();
  }
  return nullptr;
}

Bytes ApduEngine::Select(const Command& command) {
  std::uint8_t tag = 0;
  switch (command.p2) {
    case 0x00:
      tag = 0x6F;
      break;
    case 0x04:
      tag = 0x62;
      break;
    case 0x0C:
      break;
    default:
      return Sw(kSwWrongP1P2);
  }
  CardFile* found = nullptr;
  const bool fid_given = command.data.size() == 2;
  const std::uint16_t fid = fid_given ? static_cast<std::uint16_t>(command.data[0] << 8 | command.data[1]) : 0;
  switch (command.p1) {
    case 0x00:  // MF, DF or EF by identifier; no data selects the MF
      if (command.data.empty()) {
        found = root_.get();
      } else if (fid_given) {
        found = FindByFid(fid);
      } else {
        return Sw(kSwWrongLength);
      }
      break;
    case 0x01:  // DF under the current DF
    case 0x02:  // EF under the current DF
      if (!fid_given) return Sw(kSwWrongLength);
      for (const auto& child : current_df_->children) {
        if (child->fid == fid && child->IsDf() == (command.p1 == 0x01)) found = child.get();
      }
      break;
    case 0x03:  // parent of the current DF
      if (!command.data.empty()) return Sw(kSwWrongLength);
      found = current_df_->parent;
      break;
    case 0x04: {  // DF name, also by its first bytes
      if (command.data.empty() || command.data.size() > 16) return Sw(kSwWrongLength);
      std::function<CardFile*(CardFile*)> search = [&](CardFile* df) -> CardFile* {
        if (df->name.size() >= command.data.size() &&
            std::equal(command.data.begin(), command.data.end(), df->name.begin())) {
          return df;
        }
        for (const auto& child : df->children) {
          if (!child->IsDf()) continue;
          if (CardFile* hit = search(child.get())) return hit;
        }
        return nullptr;
      };
      found = search(root_.get());
      break;
    }
    default:
      return Sw(kSwWrongP1P2);
  }
  if (found == nullptr) return Sw(kSwFileNotFound);
  if (found->IsDf()) {
    current_df_ = found;
    current_ef_ = nullptr;
  } else {
    current_ef_ = found;
  }
  return tag == 0 ? Sw(kSwOk) : WithSw(Describe(*found, tag), kSwOk);
}

Bytes ApduEngine::ReadBinary(const Command& command) {
  if (command.le < 0 || !command.data.empty()) return Sw(kSwWrongLength);
  CardFile* file = current_ef_;
  std::size_t offset = 0;
  if (command.p1 & 0x80) {  // short EF identifier in P1, offset in P2
    if (command.p1 & 0x60) return Sw(kSwWrongP1P2);
    file = FindEfBySfi(command.p1 & 0x1F);
    if (file == nullptr) return Sw(kSwFileNotFound);
    offset = command.p2;
  } else {
    if (file == nullptr) return Sw(kSwNoCurrentEf);
    offset = static_cast<std::size_t>(command.p1) << 8 | command.p2;
  }
  if (file->type != CardFile::Type::kTransparent) return Sw(kSwIncompatibleFile);
  current_ef_ = file;
  if (offset >= file->data.size()) return Sw(kSwWrongOffset);
  const std::size_t left = file->data.size() - offset;
  const std::size_t wanted = static_cast<std::size_t>(command.le);
  const std::size_t count = std::min(left, wanted);
  const auto from = file->data.begin() + static_cast<std::ptrdiff_t>(offset);
  // Le 00 asks for whatever is there; a larger explicit Le is told that the
  // file ended first.
  const std::uint16_t sw = (wanted > left && command.le != 256) ? kSwEndOfFile : kSwOk;
  return WithSw(Bytes(from, from + static_cast<std::ptrdiff_t>(count)), sw);
}

Bytes ApduEngine::ReadRecord(const Command& command) {
  if (command.le < 0 || !command.data.empty()) return Sw(kSwWrongLength);
  // Only "record number P1" (P2 bits 3..1 = 100) is supported.
  if ((command.p2 & 0x07) != 0x04 || command.p1 == 0) return Sw(kSwWrongP1P2);
  const std::uint8_t sfi = command.p2 >> 3;
  CardFile* file = current_ef_;
  if (sfi != 0) {
    file = FindEfBySfi(sfi);
    if (file == nullptr) return Sw(kSwFileNotFound);
  } else if (file == nullptr) {
    return Sw(kSwNoCurrentEf);
  }
  if (file->type != CardFile::Type::kRecords) return Sw(kSwIncompatibleFile);
  current_ef_ = file;
  if (command.p1 > file->records.size()) return Sw(kSwRecordNotFound);
  const Bytes& record = file->records[command.p1 - 1u];
  // A wrong Le is answered with the right one, as T=0 cards do (6Cxx).
  if (command.le != 256 && static_cast<std::size_t>(command.le) != record.size()) {
    return Bytes{0x6C, static_cast<std::uint8_t>(record.size())};
  }
  return WithSw(record, kSwOk);
}

Bytes ApduEngine::GetChallenge(const Command& command, Rng& rng) {
  if (command.p1 != 0 || command.p2 != 0) return Sw(kSwWrongP1P2);
  if (!command.data.empty() || (command.le != 4 && command.le != 8)) return Sw(kSwWrongLength);
  Bytes challenge;
  for (int i = 0; i < command.le; ++i) challenge.push_back(static_cast<std::uint8_t>(rng.Next() >> 24));
  return WithSw(challenge, kSwOk);
}

Bytes ApduEngine::GetResponse(const Command& command) {
  if (command.p1 != 0 || command.p2 != 0) return Sw(kSwWrongP1P2);
  if (command.le < 0 || !command.data.empty()) return Sw(kSwWrongLength);
  if (pending_.empty()) return Sw(kSwNoPendingData);
  const std::size_t wanted = static_cast<std::size_t>(command.le);
  if (command.le != 256 && wanted > pending_.size()) {
    return Bytes{0x6C, static_cast<std::uint8_t>(pending_.size())};
  }
  const std::size_t count = std::min(wanted, pending_.size());
  Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
  if (pending_.empty()) return WithSw(out, kSwOk);
  return WithSw(out, static_cast<std::uint16_t>(0x6100 | (pending_.size() & 0xFF)));
}

}  // namespace kpsim
