#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/results.h"
#include "platform/platform.h"
#include "readers/contactless.h"
#include "readers/device.h"

namespace kp {

namespace {

constexpr int kCmdActivate = 0x3224;
constexpr int kCmdHalt = 0x3225;
constexpr int kCmdActivateStoreCard = 0x3241;
constexpr int kCmdCertifySector = 0x3242;
constexpr int kCmdReadBlock = 0x3243;
constexpr int kCmdWriteBlock = 0x3244;
constexpr int kCmdReadValue = 0x3245;
constexpr int kCmdWriteValue = 0x3246;
constexpr int kCmdWriteKey = 0x3249;

constexpr int kActivateTimeoutMs = 500;

// A store card is activated twice this far apart; a different UID the second
// time means two cards (or a card moving) in the field.
constexpr unsigned kStoreCardRecheckMs = 50;
constexpr std::size_t kStoreCardUidBytes = 4;

constexpr std::size_t kBlockChars = 32;  // 16 bytes of block data

// Two activations reporting different UIDs: the same code as the device's own
// status word for a changed card (0x3009).
constexpr int kErrCardChanged = -314;

// Block numbers, sectors and key types travel as one byte each; a wider
// value would shift the fields behind it (for a block write: the data onto
// another block), so it is refused before anything is sent.
bool FitsByte(int value) { return value >= 0 && value <= 0xFF; }

// Sector authentication and key change: sector, key type, key text as is.
int SectorKeyCommand(CReader& reader, int command, int sector, int keyType, const char* keyHex) {
  if (!FitsByte(sector) || !FitsByte(keyType) || keyHex == nullptr) return kErrParam;
  const std::size_t length = strnlen(keyHex, static_cast<std::size_t>(kMaxDataChars) + 1);
  if (length > static_cast<std::size_t>(kMaxDataChars)) return kErrParam;
  return reader.Command(command, ByteToHex(sector) + ByteToHex(keyType) + std::string(keyHex, length),
                        kDefaultTimeoutMs, nullptr);
}

}  // namespace

// Activation of a processor card.  Answer layout after the status word: card
// type, UID length u, u UID bytes, ATS length a, a ATS bytes.  uidLen and
// atsLen give the room in bytes on entry and the byte counts on return.
int Contactless::IC_ConnectlessActive(int* cardType, int* uidLen, char* uid, int* atsLen, char* ats) {
  if (cardType == nullptr || uidLen == nullptr || uid == nullptr || atsLen == nullptr || ats == nullptr) {
    return kErrParam;
  }
  Reply answer;
  const int r = Command(kCmdActivate, "0001", kActivateTimeoutMs, &answer);
  if (r != 0) return r;
  // An answer whose lengths run past its end is unusable; nothing is taken
  // from it.  A missing ATS length byte counts as no ATS.
  const Bytes& d = answer.data;
  if (d.size() < 2) return kErrFrame;
  const std::size_t u = d[1];
  if (d.size() < 2 + u) return kErrFrame;
  const std::size_t a = d.size() > 2 + u ? d[2 + u] : 0;
  if (a > 0 && d.size() < 3 + u + a) return kErrFrame;

  *cardType = d[0];
  if (*uidLen < static_cast<int>(u)) return kErrRoom;
  *uidLen = static_cast<int>(u);
  BytesToHex(d.data() + 2, u, uid);  // nothing at all for an empty UID
  if (*atsLen < static_cast<int>(a)) return kErrRoom;
  *atsLen = static_cast<int>(a);
  BytesToHex(d.data() + 3 + u, a, ats);
  return kOk;
}

// Halt of the card; command 0xC003 follows whatever the halt gave, so the
// device leaves the card state also after a failed halt.
int Contactless::IC_ConnectlessHalt() {
  const int r = Command(kCmdHalt, "0000", family_.haltTimeoutMs, nullptr);
  Along<Device>(this).PrepareContactSwitch();
  return r;
}

// Activation of a store card: card type and a 4-byte UID.  The UID is
// reported (length 4, no ATS) after the first activation and confirmed by a
// second one; ats itself is never written.
int Contactless::IC_ConnectlessActiveStoreCard(int* cardType, int* uidLen, char* uid, int* atsLen, char* /*ats*/) {
  if (cardType == nullptr || uidLen == nullptr || uid == nullptr || atsLen == nullptr) return kErrParam;
  Reply first;
  int r = Command(kCmdActivateStoreCard, "0001", family_.storeCardTimeoutMs, &first);
  if (r != 0) return r;
  if (first.data.size() < 1 + kStoreCardUidBytes) return kErrFrame;
  *cardType = first.data[0];
  *uidLen = static_cast<int>(kStoreCardUidBytes);
  BytesToHex(first.data.data() + 1, kStoreCardUidBytes, uid);
  *atsLen = 0;

  platform::SleepMs(kStoreCardRecheckMs);
  Reply second;
  r = Command(kCmdActivateStoreCard, "0001", family_.storeCardTimeoutMs, &second);
  if (r != 0) return r;
  if (second.data.size() < 1 + kStoreCardUidBytes) return kErrFrame;
  if (std::memcmp(first.data.data() + 1, second.data.data() + 1, kStoreCardUidBytes) != 0) {
    return kErrCardChanged;
  }
  return kOk;
}

int Contactless::IC_ConnectlessCertifySector(int sector, int keyType, const char* keyHex) {
  return SectorKeyCommand(reader_, kCmdCertifySector, sector, keyType, keyHex);
}

// *dataLen gives the room of dataOut in characters (its NUL not counted) on
// entry and the number of bytes read on return.
int Contactless::IC_ConnectlessReadBlock(int block, int* dataLen, char* dataOut) {
  if (!FitsByte(block) || dataLen == nullptr || dataOut == nullptr) return kErrParam;
  Reply answer;
  const int r = Command(kCmdReadBlock, ByteToHex(block), kDefaultTimeoutMs, &answer);
  if (r != 0) return r;
  const int count = static_cast<int>(answer.data.size());
  if (*dataLen < 2 * count) return kErrRoom;
  BytesToHex(answer.data.data(), answer.data.size(), dataOut);
  *dataLen = count;
  return kOk;
}

// The block always receives 32 characters: a longer text is cut after them,
// a shorter one is filled up with '0'.
int Contactless::IC_ConnectlessWriteBlock(int block, const char* dataHex) {
  if (!FitsByte(block) || dataHex == nullptr) return kErrParam;
  std::string data(dataHex, strnlen(dataHex, kBlockChars));
  data.resize(kBlockChars, '0');
  return Command(kCmdWriteBlock, ByteToHex(block) + data, kDefaultTimeoutMs, nullptr);
}

// A value block holds a signed count of hundredths; the interface shows it
// as a float in units.
int Contactless::IC_ConnectlessReadValueBlock(int block, float* value) {
  if (!FitsByte(block) || value == nullptr) return kErrParam;
  Reply answer;
  const int r = Command(kCmdReadValue, ByteToHex(block), kDefaultTimeoutMs, &answer);
  if (r != 0) return r;
  if (answer.data.size() < 4) return kErrFrame;  // no count to convert
  std::uint32_t raw = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t b = answer.data[static_cast<std::size_t>(reader_.opened().valueLsbFirst ? 3 - i : i)];
    raw = (raw << 8) | b;
  }
  const std::int32_t count = static_cast<std::int32_t>(raw);
  // In double first, then rounded once to float: 12345 reads as 123.45f.
  *value = static_cast<float>(static_cast<double>(count) * 0.01);
  return kOk;
}

// Writes an amount in units as a count of hundredths.  The count is
// truncated toward zero, so 0.29f (0.28999999...) is 28 hundredths.
int Contactless::IC_ConnectlessWriteValueBlock(int block, float value) {
  if (!FitsByte(block)) return kErrParam;
  const double scaled = static_cast<double>(value) * 100.0;
  // A count beyond 32 bits (or not a number) has no representation on the
  // card; it is refused rather than wrapped.
  if (!(scaled > -2147483649.0 && scaled < 2147483648.0)) return kErrParam;
  const std::uint32_t raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled));
  std::string data = ByteToHex(block);
  for (int i = 0; i < 4; ++i) {
    const int shift = reader_.opened().valueLsbFirst ? 8 * i : 8 * (3 - i);
    data += ByteToHex(static_cast<int>((raw >> shift) & 0xFFu));
  }
  return Command(kCmdWriteValue, data, kDefaultTimeoutMs, nullptr);
}

int Contactless::IC_ConnectlessWriteKey(int sector, int keyType, const char* keyHex) {
  return SectorKeyCommand(reader_, kCmdWriteKey, sector, keyType, keyHex);
}

int Contactless::AdjustValueBlock(int block, float amount, bool increase) {
  float value = 0;
  const int r = IC_ConnectlessReadValueBlock(block, &value);
  if (r != 0) return r;
  // The sum is formed in double and rounded once to float, so 123.45f + 1.00
  // is written as 124.45f; a decrease below zero writes a negative value.
  const double current = static_cast<double>(value);
  const double change = static_cast<double>(amount);
  const float updated = static_cast<float>(increase ? current + change : current - change);
  return IC_ConnectlessWriteValueBlock(block, updated);
}

}  // namespace kp
