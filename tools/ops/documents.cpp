#include "documents.h"

#include <cstdio>

#include "decode.h"
#include "kp_dev.h"

namespace kpdev::tool {

std::string LibraryVersion() {
  char text[64] = {};
  KP_DEV_GetDllVersion(text);
  std::string version(text);
  const std::size_t space = version.find(' ');
  return space == std::string::npos ? version : version.substr(0, space);
}

std::string ResultText(int code) {
  const char* name = kp_dev_result_name(code);
  std::string text = std::to_string(code);
  if (name != nullptr) text += std::string(" ") + name;
  return text + " (" + kp_dev_result_text(code) + ")";
}

nlohmann::json ResultJson(int code) {
  const char* name = kp_dev_result_name(code);
  return {{"code", code}, {"name", name != nullptr ? name : ""}, {"text", kp_dev_result_text(code)}};
}

nlohmann::json AtrDocument(const std::string& hex) {
  Bytes bytes;
  if (hex.empty() || !HexToBytes(hex, &bytes)) return hex;
  nlohmann::json j = AtrJson(ParseAtr(bytes));
  j["hex"] = hex;
  return j;
}

nlohmann::json TrackDocument(const std::string& text, bool track1) {
  nlohmann::json j = TrackJson(track1 ? ParseTrack1(text) : ParseTrack2(text));
  j["text"] = text;
  return j;
}

const char* CardKindName(int kind) {
  switch (kind) {
    case 1:
      return "magnetic stripe card";
    case 2:
      return "contactless store card block";
    case 3:
      return "contact bank card";
    case 4:
      return "contactless bank card";
    case 5:
      return "resident identity card";
    default:
      return "none";
  }
}

std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (;;) {
    const std::size_t bar = text.find('|', at);
    parts.push_back(text.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
    if (bar == std::string::npos) return parts;
    at = bar + 1;
  }
}

}  // namespace kpdev::tool
