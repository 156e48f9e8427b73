#include <cstdio>
#include <cstring>
#include <string>

#include "base/results.h"
#include "readers/store_card.h"

namespace kp {

namespace {

constexpr int kCmdInitializeKey = 0x3233;
constexpr int kCmdVerifyPwd = 0x3234;
constexpr int kCmdReadData = 0x3235;
constexpr int kCmdWriteData = 0x3236;

// Longest read the device answers in one frame.
constexpr unsigned kMaxReadLength = 248;

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

// The seat is one byte on the wire (as for the contact operations).

// The zone travels as one byte taken from the low 16 bits of the argument;
// a zone that needs more digits would shift the address behind it, so it is
// refused instead of sent.
bool ZoneHex(int zone, std::string* out) {
  const unsigned value = static_cast<unsigned>(zone) & 0xFFFFu;
  if (value > 0xFFu) return false;
  *out = ByteToHex(static_cast<int>(value));
  return true;
}

// Address low byte first, then high byte.
std::string AddressHex(int address) { return ByteToHex(address) + ByteToHex(address >> 8); }

// A caller's text, scanned no further than one frame can carry.
bool TextArg(const char* text, std::string* out) {
  if (text == nullptr) return false;
  const std::size_t length = strnlen(text, static_cast<std::size_t>(kMaxDataChars) + 1);
  if (length > static_cast<std::size_t>(kMaxDataChars)) return false;
  out->assign(text, length);
  return true;
}

// Length byte and text of a key or password: the byte count is the text's
// length / 2 rounded down, the text goes out unchanged.  A key of more than
// 255 bytes has no length byte and is refused.
bool SecretFields(const char* secret, std::string* lengthField, std::string* text) {
  if (!TextArg(secret, text)) return false;
  const std::size_t bytes = text->size() / 2;
  if (bytes > 0xFF) return false;
  *lengthField = ByteToHex(static_cast<int>(bytes));
  return true;
}

// The three password checks share one command; the variants insert the
// zone or the selector bytes between the length byte and the password.
int VerifyPwd(CReader& reader, int seat, const std::string& selector, const char* pwdHex) {
  std::string length, pwd;
  if (!SecretFields(pwdHex, &length, &pwd)) return kErrParam;
  return reader.Command(kCmdVerifyPwd, ByteToHex(seat) + length + selector + pwd, kDefaultTimeoutMs, nullptr);
}

// A read asks for `length` bytes at `address` (zonePrefix: the zone byte
// after the seat, or nothing).  The bytes are appended to the text already in
// dataOut, so several reads can fill one text; an answer with another number
// of bytes than asked is not used, and the read still succeeds.
int ReadData(CReader& reader, int seat, const std::string& zonePrefix, int address, int length, char* dataOut) {
  const unsigned count = static_cast<unsigned>(length) & 0xFFFFu;
  if (count > kMaxReadLength) return kErrParam;
  if (dataOut == nullptr) return kErrParam;
  CReader::Reply answer;
  const int r = reader.Command(kCmdReadData, ByteToHex(seat) + zonePrefix + AddressHex(address) + Hex4(count),
                               kDefaultTimeoutMs, &answer);
  if (r != 0) return r;
  if (count != 0 && answer.data.size() == count) {
    BytesToHex(answer.data.data(), answer.data.size(), dataOut + std::strlen(dataOut));
  }
  return kOk;
}

// A write carries its own byte count (the text's length / 2, low 16 bits)
// before the data text, which goes out unchanged.
int WriteData(CReader& reader, int seat, const std::string& zonePrefix, int address, const char* dataHex) {
  std::string data;
  if (!TextArg(dataHex, &data)) return kErrParam;
  const unsigned count = static_cast<unsigned>(data.size() / 2);
  return reader.Command(kCmdWriteData, ByteToHex(seat) + zonePrefix + AddressHex(address) + Hex4(count) + data,
                        kDefaultTimeoutMs, nullptr);
}

}  // namespace

int StoreCard::IC_InitializeKey(int seat, const char* keyHex) {
  std::string length, key;
  if (!SecretFields(keyHex, &length, &key)) return kErrParam;
  return Command(kCmdInitializeKey, ByteToHex(seat) + length + key, kDefaultTimeoutMs, nullptr);
}

int StoreCard::IC_VerifyPwdEXAT1604(int seat, int selectorLow, int selectorHigh, const char* pwdHex) {
  // The export splits a 16-bit selector; anything wider is not a selector.
  if (selectorLow < 0 || selectorLow > 0xFF || selectorHigh < 0 || selectorHigh > 0xFF) return kErrParam;
  return VerifyPwd(reader_, seat, ByteToHex(selectorLow) + ByteToHex(selectorHigh), pwdHex);
}

int StoreCard::IC_VerifyPwdEXAT1608(int seat, int zone, const char* pwdHex) {
  std::string zoneField;
  if (!ZoneHex(zone, &zoneField)) return kErrParam;
  return VerifyPwd(reader_, seat, zoneField, pwdHex);
}

int StoreCard::IC_VerifyPwd(int seat, const char* pwdHex) { return VerifyPwd(reader_, seat, std::string(), pwdHex); }

int StoreCard::IC_ReadStoreDataEXAT1608(int seat, int zone, int address, int length, char* dataOut) {
  // The length limit is checked first, as for the plain read.
  if ((static_cast<unsigned>(length) & 0xFFFFu) > kMaxReadLength) return kErrParam;
  std::string zoneField;
  if (!ZoneHex(zone, &zoneField)) return kErrParam;
  return ReadData(reader_, seat, zoneField, address, length, dataOut);
}

int StoreCard::IC_ReadStoreData(int seat, int address, int length, char* dataOut) {
  return ReadData(reader_, seat, std::string(), address, length, dataOut);
}

int StoreCard::IC_WriteStoreDataEXAT1608(int seat, int zone, int address, const char* dataHex) {
  std::string zoneField;
  if (!ZoneHex(zone, &zoneField)) return kErrParam;
  return WriteData(reader_, seat, zoneField, address, dataHex);
}

int StoreCard::IC_WriteStoreData(int seat, int address, const char* dataHex) {
  return WriteData(reader_, seat, std::string(), address, dataHex);
}

}  // namespace kp
