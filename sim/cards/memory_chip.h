// Memory chips in the reader's contact seats: SLE4428, SLE4442, AT24Cxx,
// AT88SC102/1604/1608 and AT45DB041.
//
// The reader's memory-card commands carry no chip identifier: the seat byte
// comes first, and the chip in that seat decides how to read the rest.
// Different host programs lay out the same command differently (a zone byte
// before or after the length byte, a mode byte behind the count, a one-byte
// address on the type-0 reader), so every chip accepts each layout that
// makes sense for it and recognises it by the sizes the fields announce.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/card.h"
#include "core/command_registry.h"
#include "core/family.h"
#include "wire/status.h"

namespace kpsim {

// Status words of the memory-card commands.  Each one is a distinct result
// in the host library; the first two are the words every card command of
// this reader uses for an empty seat and for a card of the wrong kind.
constexpr std::uint16_t kMemoryNoCard = kp::wire::status::kNoCard;  // the seat is empty
constexpr std::uint16_t kMemoryWrongCard =
    kp::wire::status::kWrongCard;  // no memory chip there, or the chip has no such operation
constexpr std::uint16_t kMemoryOutOfRange =
    kp::wire::status::kOutOfRange;  // address, length, zone or password number outside the chip
constexpr std::uint16_t kMemoryWrongPassword = kp::wire::status::kWrongKey;  // wrong password, tries remain
constexpr std::uint16_t kMemoryLocked = kp::wire::status::kLocked;           // error counter exhausted
constexpr std::uint16_t kMemoryProtected = kp::wire::status::kProtected;     // protected byte, read-only area
constexpr std::uint16_t kMemoryNeedPassword =
    kp::wire::status::kNotAuthenticated;  // the area needs a password not presented yet
constexpr std::uint16_t kMemoryAuthFailed =
    kp::wire::status::kAuthFailed;                  // AT88SC1608 authentication failed or not done
constexpr std::uint16_t kMemoryAuthFirst = 0x6005;  // AT88SC1608 password refused before authentication

// Command codes the memory chips answer.
constexpr std::uint16_t kMemCmdInitializeKey = 0x3233;
constexpr std::uint16_t kMemCmdVerify = 0x3234;
constexpr std::uint16_t kMemCmdRead = 0x3235;
constexpr std::uint16_t kMemCmdWrite = 0x3236;
constexpr std::uint16_t kMemCmdReadPassword = 0x3237;
constexpr std::uint16_t kMemCmdChangePassword = 0x3238;
constexpr std::uint16_t kMemCmdFuse = 0x3239;
constexpr std::uint16_t kMemCmdReadProtection = 0x323A;
constexpr std::uint16_t kMemCmdWriteProtection = 0x323B;
constexpr std::uint16_t kMemCmdReadCounter = 0x323C;
constexpr std::uint16_t kMemCmdInitAuthentication = 0x323D;
constexpr std::uint16_t kMemCmdAuthenticate = 0x323E;
constexpr std::uint16_t kMemCmdReadFuse = 0x323F;
constexpr std::uint16_t kMemCmdEraseOrConditionalWrite = 0x3240;

// Longest answer data one frame carries to a host (1039 body bytes less the
// status word).
constexpr std::size_t kMaxAnswerData = 1037;

// One command for the chip in a seat: its data after the seat byte.
struct MemoryCommand {
  std::uint16_t code = 0;
  Family family = Family::kT1;
  Bytes data;
};

// A password with its error counter.  Presenting the right value while
// tries remain restores the counter and grants access; a wrong one costs a
// try; with no tries left nothing is compared any more.
class Secret {
 public:
  Secret() = default;
  Secret(Bytes value, int max_tries) : value_(std::move(value)), tries_(max_tries), max_tries_(max_tries) {}

  // 0000, kMemoryWrongPassword, or kMemoryLocked (also for the try that
  // used up the counter).
  std::uint16_t Present(const Bytes& candidate);
  const Bytes& value() const { return value_; }
  void set_value(Bytes value) { value_ = std::move(value); }
  int tries() const { return tries_; }
  void set_tries(int tries) { tries_ = tries; }
  int max_tries() const { return max_tries_; }
  bool granted() const { return granted_; }
  bool locked() const { return tries_ == 0; }
  void Forget() { granted_ = false; }
  // "VALUE:tries:granted" for dumps.
  std::string Describe() const;

 private:
  Bytes value_;
  int tries_ = 0;
  int max_tries_ = 0;
  bool granted_ = false;
};

// How a password command lays out its fields after the seat byte.
enum class SecretLayout {
  kLengthSecret,           // L, secret                      (password number 0)
  kSecretOnly,             // secret                         (password number 0)
  kNumberLengthSecret,     // n, L, secret
  kLengthNumberSecret,     // L, n, secret
  kNumberSecret,           // n, secret
  kLengthWordSecret,       // L, n low, n high, secret
  kLengthSelectSetSecret,  // L, select, set, secret      (n = select + 2 x set)
};

struct SecretRequest {
  unsigned number = 0;
  Bytes secret;
};

// Finds the first layout in `layouts` whose fields agree with the data's size
// and whose secret has the length `length_of` gives for its number
// (length_of returns 0 for a number the chip does not have).  Returns 0000,
// kMemoryOutOfRange when the fields fit but name no password of the chip,
// or kStatusBadParameter.
std::uint16_t ParseSecret(const Bytes& data, std::initializer_list<SecretLayout> layouts,
                          const std::function<std::size_t(unsigned)>& length_of, SecretRequest* out);

// Address fields after the seat byte.
struct Span {
  unsigned prefix = 0;   // zone, page offset or mode byte, where the layout has one
  unsigned address = 0;  // 16 bits, sent low byte first
  unsigned count = 0;
  Bytes data;  // writes
};

// Read layouts: "low, high, count(2)" (4 bytes) and the same with one byte
// before it ("prefix, low, high, count(2)") or after it ("low, high,
// count(2), suffix").  false when the size does not match.
bool ParseRead(const Bytes& d, Span* out);
bool ParsePrefixedRead(const Bytes& d, Span* out);
bool ParseSuffixedRead(const Bytes& d, Span* out);
// Write layouts: the read layouts followed by `count` data bytes.
bool ParseWrite(const Bytes& d, Span* out);
bool ParsePrefixedWrite(const Bytes& d, Span* out);
bool ParseSuffixedWrite(const Bytes& d, Span* out);
// A write that may carry a zone or page byte before the address.  The
// type-0 reader sends that byte; the others send it only from the zoned
// store-card command, so when both readings fit, the family decides.
enum class WriteLayout { kNone, kPlain, kPrefixed };
WriteLayout ParseEitherWrite(const Bytes& d, Family family, Span* out);

// A memory chip in a seat.
class MemoryChip : public Card {
 public:
  virtual Reply Execute(const MemoryCommand& command) = 0;
  // "key=value ..." of the chip's state for the control "dump" request.
  virtual std::string Describe() const = 0;
  // The named area ("memory", "protection", ...) as bytes; false when the
  // chip has no such area.
  virtual bool Area(const std::string& name, Bytes* out) const = 0;
  // Names of the areas, comma-separated.
  virtual std::string Areas() const = 0;
};

// The words of "insert SEAT KIND WORD..." as key=value pairs.
class CardArgs {
 public:
  // false with a reason for a word without '=' or a repeated key.
  bool Parse(const std::vector<std::string>& words, std::string* error);
  bool Has(const std::string& key) const { return values_.count(key) != 0; }
  // Each getter: true when the key is absent (out untouched) or valid.
  bool Hex(const std::string& key, Bytes* out, std::string* error) const;
  bool Number(const std::string& key, long low, long high, long* out, std::string* error) const;
  // "0-3,7": addresses below `limit`; "none" for the empty set.
  bool AddressList(const std::string& key, unsigned limit, std::vector<bool>* marks, std::string* error) const;
  // The first key not in `known`; "" when all are known.
  std::string Unknown(const std::vector<std::string>& known) const;
  std::string Unknown(std::initializer_list<const char*> known) const {
    return Unknown(std::vector<std::string>(known.begin(), known.end()));
  }

 private:
  std::map<std::string, std::string> values_;
};

// Fills memory from address 0 with the bytes of "data=HEX"; false with a
// reason when the text is not hex or longer than the memory.
bool FillFromArgs(const CardArgs& args, Bytes* memory, std::string* error);

using ChipMaker = std::function<std::unique_ptr<MemoryChip>(const CardArgs& args, std::string* error)>;

// The maker of a kind whose chip, built as delivered, takes its settings
// from the insert request.
template <typename Chip>
ChipMaker ConfiguredChip() {
  return [](const CardArgs& args, std::string* error) -> std::unique_ptr<MemoryChip> {
    auto chip = std::make_unique<Chip>();
    if (!chip->Configure(args, error)) return nullptr;
    return chip;
  };
}

struct ChipKind {
  std::string kind;
  std::string usage;
  ChipMaker maker;
};

// The chip kinds each model file provides.
std::vector<ChipKind> Sle4442Kinds();
std::vector<ChipKind> Sle4428Kinds();
std::vector<ChipKind> At24cxxKinds();
std::vector<ChipKind> At88scKinds();
std::vector<ChipKind> At88sc1608Kinds();
std::vector<ChipKind> At45db041Kinds();

inline unsigned Word(std::uint8_t high, std::uint8_t low) { return static_cast<unsigned>(high) << 8 | low; }

// Whether address .. address + count - 1 lies below `size`.
inline bool Within(const Span& span, std::size_t size) {
  return span.address <= size && span.count <= size - span.address;
}
inline Bytes Slice(const Bytes& memory, const Span& span) {
  return Bytes(memory.begin() + span.address, memory.begin() + span.address + span.count);
}

// A counter read: the tries left as one byte, with the locked status once
// none are left (the host still gets the count).
Reply CounterReply(const Secret& secret);
// "tries=N" with ",granted" or ",locked", for the "cards" listing.
std::string SecretSummary(const Secret& secret);
// Marked addresses as "0-3,7", or "none".
std::string AddressRanges(const std::vector<bool>& marks);

// The SLE44x8 chips: main memory whose first `protectable` bytes each have
// a protection bit (read as 1 while writable, 0 once burnt), and one
// programmable security code (PSC) with its error counter that every write
// needs presented since the card was inserted or the module reset.  The
// kinds differ in their sizes and in the memory commands they take.
class PscChip : public MemoryChip {
 public:
  PscChip(std::string kind, std::size_t size, std::size_t protectable, std::size_t psc_size, int tries);

  // psc=, data=, tries= and protect= of the insert request.
  bool Configure(const CardArgs& args, std::string* error);
  // The settings Configure takes, for the list of kinds.
  std::string Settings() const;

  std::string Kind() const override { return kind_; }
  std::string Summary() const override { return SecretSummary(psc_); }
  void OnModuleReset() override { psc_.Forget(); }
  std::string Describe() const override;
  bool Area(const std::string& name, Bytes* out) const override;
  std::string Areas() const override { return "memory,protection"; }

 protected:
  // Answers the PSC commands: present, change, read back (the chip shows
  // its PSC only to whoever presented it) and the counter.  false for any
  // other command.
  bool ExecutePsc(const MemoryCommand& command, Reply* reply);

  Bytes memory_;
  std::vector<bool> protected_;
  Secret psc_;

 private:
  std::string kind_;
  std::size_t psc_size_;
  int max_tries_;
};

}  // namespace kpsim
