// What a processor card does with a command APDU: a script of fixed answers
// first, then a small ISO 7816-4 file system (SELECT, READ BINARY, READ
// RECORD, GET CHALLENGE, GET RESPONSE).  Shared by the contact CPU card and
// the contactless processor card.
//
// Answers always end in the status bytes SW1 SW2.  Only short APDUs exist
// here (Lc and Le one byte each; Le 00 stands for 256).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/rng.h"

namespace kpsim {

// Status words the card answers with.
constexpr std::uint16_t kSwOk = 0x9000;
constexpr std::uint16_t kSwEndOfFile = 0x6282;         // fewer bytes than Le before the end
constexpr std::uint16_t kSwWrongLength = 0x6700;       // Lc/Le do not fit the command
constexpr std::uint16_t kSwIncompatibleFile = 0x6981;  // record command on a transparent EF or the reverse
constexpr std::uint16_t kSwNoPendingData = 0x6985;     // GET RESPONSE with nothing to fetch
constexpr std::uint16_t kSwNoCurrentEf = 0x6986;       // READ without a selected EF
constexpr std::uint16_t kSwFileNotFound = 0x6A82;
constexpr std::uint16_t kSwRecordNotFound = 0x6A83;
constexpr std::uint16_t kSwWrongP1P2 = 0x6A86;
constexpr std::uint16_t kSwWrongOffset = 0x6B00;  // READ BINARY offset at or past the end
constexpr std::uint16_t kSwInsNotSupported = 0x6D00;
constexpr std::uint16_t kSwClaNotSupported = 0x6E00;

// One node of the card's file tree.
struct CardFile {
  enum class Type { kDf, kTransparent, kRecords };

  Type type = Type::kDf;
  std::uint16_t fid = 0;
  Bytes name;                  // DF name (application identifier); may be empty
  std::uint8_t sfi = 0;        // EFs: short file identifier 1..30, 0 for none
  Bytes data;                  // transparent EF
  std::vector<Bytes> records;  // linear fixed EF, record 1 first
  std::vector<std::unique_ptr<CardFile>> children;
  CardFile* parent = nullptr;

  bool IsDf() const { return type == Type::kDf; }
  CardFile* Add(std::unique_ptr<CardFile> child);
};

// The file system every processor card starts with (listed in sim/README.md):
// MF 3F00 with EF 0001 (transparent), EF 0002 (records) and DF 1001, whose
// name is F04B5044455601, with EF 0101 (transparent) and EF 0102 (records).
std::unique_ptr<CardFile> DefaultFileSystem();

// A scripted answer: an APDU that begins with `command` gets `response`
// (data and status bytes) and nothing else happens.
struct ScriptedApdu {
  Bytes command;
  Bytes response;
};

// Parses "CMDHEX:RESPHEX"; the response needs its two status bytes.
bool ParseScriptedApdu(const std::string& text, ScriptedApdu* out, std::string* error);

class ApduEngine {
 public:
  // get_response: answer like a T=0 card, which cannot send data in reply
  // to a command that carried data: such answers are announced with 61xx
  // and fetched with GET RESPONSE.
  ApduEngine(std::vector<ScriptedApdu> script, bool get_response);

  // Power-on or activation: the MF is the current DF, no EF is current, and
  // an answer waiting for GET RESPONSE is dropped.
  void Reset();
  Bytes Transmit(const Bytes& apdu, Rng& rng);

  const CardFile& root() const { return *root_; }
  const CardFile* current_df() const { return current_df_; }
  const CardFile* current_ef() const { return current_ef_; }

 private:
  struct Command {
    std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;
    int le = -1;  // -1 absent, else 1..256
  };

  const ScriptedApdu* FindScripted(const Bytes& apdu) const;
  Bytes Execute(const Command& command, Rng& rng);
  Bytes Select(const Command& command);
  Bytes ReadBinary(const Command& command);
  Bytes ReadRecord(const Command& command);
  Bytes GetChallenge(const Command& command, Rng& rng);
  Bytes GetResponse(const Command& command);
  CardFile* FindByFid(std::uint16_t fid) const;
  CardFile* FindEfBySfi(std::uint8_t sfi) const;

  std::vector<ScriptedApdu> script_;
  bool get_response_ = false;
  std::unique_ptr<CardFile> root_;
  CardFile* current_df_ = nullptr;
  CardFile* current_ef_ = nullptr;
  Bytes pending_;  // answer data waiting for GET RESPONSE
};

}  // namespace kpsim
