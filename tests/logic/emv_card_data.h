// A PBOC debit card as the bank-card tests script it: its answers follow
// the usual EMV encodings (TLV with one-byte lengths, response format 1 for
// GET PROCESSING OPTIONS), and the terminal's PDOL answer to it.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace emvtest {

// tag, one-byte length, value
inline std::string Tlv(const std::string& tag, const std::string& value) {
  char length[8];
  std::snprintf(length, sizeof length, "%02X", static_cast<unsigned>(value.size() / 2));
  return tag + length + value;
}

// Local date YYMMDD and the time HHMMSS, as a terminal prints them.
inline std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d", &local);
  return text;
}

// ---- a PBOC debit card

const std::string kSelectPse = "00A404000E315041592E5359532E4444463031";
const std::string kPbocLabel = "50424F43";  // "PBOC"
const std::string kAid = "A000000333010101";
const std::string kSelectAid = "00A4040008" + kAid;
const std::string kTrack2 = "6228480402564890018D49122010000012345F";  // 19 bytes

// FCI of the payment system environment with the directory file's SFI.
inline std::string PseAnswer(const std::string& sfi = "01") {
  return Tlv("6F", Tlv("84", "315041592E5359532E4444463031") + Tlv("A5", Tlv("88", sfi) + Tlv("5F2D", "7A68"))) +
         "9000";
}

inline std::string DirectoryRecord(const std::string& aid = kAid, const std::string& label = kPbocLabel) {
  return Tlv("70", Tlv("61", Tlv("4F", aid) + Tlv("50", label) + Tlv("87", "01"))) + "9000";
}

// The PDOL a PBOC card typically carries: 9F66 04, 9F02 06, 9F03 06, 9F1A 02,
// 95 05, 5F2A 02, 9A 03, 9C 01, 9F37 04.
const std::string kPdol = "9F66049F02069F03069F1A0295055F2A029A039C019F3704";

inline std::string PdolData() {
  return "64400000" + std::string(12, '0') + std::string(12, '0') + "0156" + "8000000000" + "0156" + Today() + "60" +
         "00000000";
}

inline std::string SelectAnswer(const std::string& pdol = kPdol) {
  const std::string proprietary = Tlv("50", kPbocLabel) + (pdol.empty() ? "" : Tlv("9F38", pdol));
  return Tlv("6F", Tlv("84", kAid) + Tlv("A5", proprietary)) + "9000";
}

// GET PROCESSING OPTIONS with the answer to kPdol.
inline std::string GpoCommand() { return "80A800002383" + std::string("21") + PdolData(); }

// Response format 1: AIP 7C00, then the AFL entries.
inline std::string GpoAnswer(const std::string& afl, const std::string& aip = "7C00") {
  return Tlv("80", aip + afl) + "9000";
}

inline std::string Record(const std::string& content) { return Tlv("70", content) + "9000"; }

inline std::vector<std::string> CommandsUpToGpo() { return {kSelectPse, "00B2010C00", kSelectAid, GpoCommand()}; }

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace emvtest
