// What the reader hands back, taken apart for people and scripts: seat
// states, answers to reset, BER-TLV data with EMV tag names, magnetic and
// Track 2 data, identity-card dates.  Pure functions over texts and bytes;
// nothing here talks to a reader.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "wire/bytes.h"

namespace kpdev::tool {

using kp::wire::Bytes;

// Hex text (either case) to bytes; false when it is not whole bytes of hex.
bool HexToBytes(const std::string& hex, Bytes* out);
std::string BytesToHex(const std::uint8_t* data, std::size_t size);
inline std::string BytesToHex(const Bytes& bytes) { return BytesToHex(bytes.data(), bytes.size()); }

// ---- seat states reported by the seat-status command

// "empty", "card present, not powered", ...; the device word for the
// states the reader passes on without a fixed meaning.
std::string CardStateName(int state);

// ---- answer to reset

struct AtrField {
  std::string name;  // TS, T0, TA1, TD1, ..., TCK
  std::uint8_t value = 0;
  std::string meaning;
};

struct Atr {
  bool ok = false;
  std::string error;             // why the bytes are not a complete answer to reset
  std::vector<AtrField> fields;  // in the order they came
  std::vector<int> protocols;    // T=... offered (T=0 when no TD1)
  Bytes historical;
  bool hasTck = false;
  bool tckOk = false;
};

Atr ParseAtr(const Bytes& atr);
nlohmann::json AtrJson(const Atr& atr);
// One line per field, indented by `indent`.
std::vector<std::string> AtrLines(const Atr& atr, const std::string& indent);

// ---- BER-TLV

struct Tlv {
  std::string tag;  // hex, e.g. "9F26"
  bool constructed = false;
  Bytes value;
  std::vector<Tlv> children;  // of a constructed object whose value parses
};

// Parses a run of data objects; 00 and FF bytes between objects are
// padding.  false with `error` (and the objects before the fault kept)
// when the data does not parse to its end.
bool ParseTlv(const Bytes& data, std::vector<Tlv>* out, std::string* error);
// The EMV name of a tag; empty when it has none here.
const char* EmvTagName(const std::string& tag);
nlohmann::json TlvJson(const std::vector<Tlv>& objects);
// The objects as an indented tree: "  9F26 application cryptogram (8) 0102...".
std::vector<std::string> TlvLines(const std::vector<Tlv>& objects, int depth = 0);

// ---- Track 2 and the magnetic tracks

struct Track {
  bool ok = false;  // the fields below were found
  std::string pan;
  std::string name;     // track 1 only
  std::string expiry;   // YYMM
  std::string service;  // three digits
  std::string discretionary;
  bool padded = false;  // Track 2 equivalent data ended in F
};

// Track 2 equivalent data of a chip card (hex digits, separator D, maybe
// a trailing F) or a magnetic track 2 (";PAN=YYMMSSS...?").
Track ParseTrack2(const std::string& text);
// A magnetic track 1 of format B ("%BPAN^NAME^YYMMSSS...?").
Track ParseTrack1(const std::string& text);
nlohmann::json TrackJson(const Track& track);
// "pan", "expiry", ... as label/value pairs for the text output.
std::vector<std::pair<std::string, std::string>> TrackFields(const Track& track);
// "international, IC; normal; no restrictions" for a service code.
std::string ServiceCodeMeaning(const std::string& code);

// ---- amounts

// Decimal text with at most two decimals ("12", "12.3", "-0.05") as a
// count of hundredths; false for anything else (exponents, a third
// decimal, more than 15 digits, blanks).
bool ParseAmount(const std::string& text, long long* cents, bool allowNegative = false);
// Hundredths as decimal text: 1234 is "12.34", -5 is "-0.05".
std::string FormatAmount(long long cents);
// The single-precision value that the library's conversion (the value
// times 100 in double precision, truncated toward zero) turns into exactly
// `cents`; false when no float does.
bool FloatForCents(long long cents, float* value);
// The hundredths that conversion makes of `value`.
long long CentsOfFloat(float value);
// The hundredths a value read back stands for: the library hands the count
// times 0.01 rounded to a float, so the nearest count is the one.
long long RoundCents(float value);

// ---- the serial line

// The frames in one run of line bytes, one description each: "command
// 3111 data 00" for a command frame (host to device), "status 0000 data
// 4B50" for an answer frame; bytes outside frames as "raw HEX".
std::vector<std::string> DescribeLine(const Bytes& run, bool toDevice);

// Frames as they come, for a line whose bytes arrive in pieces (a paced
// reader sends an answer eight bytes at a time): bytes of each direction
// are held until a run is whole, then described as DescribeLine does.  A
// run ends when the other direction speaks, when the caller says the line
// went quiet, or when it can only be noise.
struct LineEvent {
  bool toDevice = true;
  std::string text;
};

class LineStream {
 public:
  // Bytes seen in one direction; the descriptions of the runs this
  // completes (the other direction's pending run first).
  std::vector<LineEvent> Add(const Bytes& bytes, bool toDevice);
  // Describes whatever is pending (the line went quiet, or ends).
  std::vector<LineEvent> Flush();
  bool pending() const { return !held_.empty(); }

 private:
  // The largest frame is 2 * 1037 + 8 bytes; what announces more is not a
  // frame, and a run held longer than this is described as it is.
  static constexpr std::size_t kMaxRun = 4200;
  void Emit(std::size_t count, std::vector<LineEvent>* out);
  Bytes held_;
  bool heldToDevice_ = true;
};

// ---- firmware versions

// Printable ASCII spelled by hexadecimal version bytes ("4B502D5431..." is
// "KP-T1..."); empty when the text is not hex or a byte is not printable.
std::string SpelledVersion(const std::string& hex);
// The version as a person reads it: framed firmware reports its version
// bytes as hexadecimal text (`hexText`), shown spelled with the hex after
// it when printable; the type-61 firmware reports plain text.
std::string DescribeVersion(const std::string& reported, bool hexText);
// The device type a version text names by its family token: "T0" gives 0;
// "T1", "T2", "T5" give 1; "T61", "T62" give 61 ("KP-T0 V3.02" is type 0).
// The token stands at the start or after a blank, '-' or '_', and no digit
// follows it.  -1 when the text names no family.
int TypeOfVersion(const std::string& text);

// ---- card status words

// What a status word means (ISO/IEC 7816-4 and the EMV additions), or an
// empty text for a word without a common meaning: "9000" gives "normal
// processing", "6A82" "file or application not found", "61xx" "xx more
// bytes to fetch with GET RESPONSE".
std::string StatusWordMeaning(std::uint16_t sw);

// ---- identity card

// "19880312" as "1988-03-12"; anything else as it is.
std::string IdDate(const std::string& yyyymmdd);

}  // namespace kpdev::tool
