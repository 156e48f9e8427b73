#include "ifd_logic.h"

#include <cstdlib>

#include "platform/network_target.h"

namespace kpifd {
namespace {

bool parse_int(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::atoi(text.c_str());
  return true;
}

std::uint8_t xor_from(const std::vector<std::uint8_t>& bytes, std::size_t first) {
  std::uint8_t x = 0;
  for (std::size_t i = first; i < bytes.size(); ++i) x ^= bytes[i];
  return x;
}

}  // namespace

bool parse_device_name(const std::string& text, DeviceName& out, std::string& why) {
  DeviceName name;
  std::size_t pos = 0;
  if (kp::platform::IsNetworkTarget(text)) {
    // A device server: its "HOST:PORT" holds a colon of its own.
    const std::size_t length = kp::platform::NetworkTargetPrefixLength(text);
    if (length == 0) {
      why = "a device server must be named rfc2217://HOST:PORT or tcp://HOST:PORT";
      return false;
    }
    name.path = text.substr(0, length);
    pos = length < text.size() ? length : std::string::npos;
  } else {
    pos = text.find(':');
    name.path = text.substr(0, pos);
    if (name.path.empty() || name.path[0] != '/') {
      why = "the device must be an absolute path or rfc2217://HOST:PORT";
      return false;
    }
  }
  bool seen_type = false, seen_baud = false, seen_sam = false;
  while (pos != std::string::npos) {
    const std::size_t next = text.find(':', pos + 1);
    const std::string field = text.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1);
    pos = next;
    const std::size_t eq = field.find('=');
    const std::string key = field.substr(0, eq);
    int value = 0;
    if (eq == std::string::npos || !parse_int(field.substr(eq + 1), value)) {
      why = "field '" + field + "' is not key=number";
      return false;
    }
    if (key == "type" && !seen_type) {
      // Types whose reader serves the card seats (type 2 is the magnetic head).
      if (value != 0 && value != 1 && value != 5 && value != 61 && value != 62) {
        why = "type " + std::to_string(value) + " has no card seats (0, 1, 5, 61, 62)";
        return false;
      }
      name.type = value;
      seen_type = true;
    } else if (key == "baud" && !seen_baud) {
      if (value != 9600 && value != 19200 && value != 38400 && value != 57600 && value != 115200) {
        why = "baud " + std::to_string(value) + " is not 9600, 19200, 38400, 57600 or 115200";
        return false;
      }
      name.baud = value;
      seen_baud = true;
    } else if (key == "sam" && !seen_sam) {
      if (value > 4) {
        why = "sam " + std::to_string(value) + " is above 4";
        return false;
      }
      name.sams = value;
      seen_sam = true;
    } else {
      why = "unknown or repeated field '" + key + "'";
      return false;
    }
  }
  out = name;
  return true;
}

std::vector<std::uint8_t> ats_historical_bytes(const std::vector<std::uint8_t>& ats) {
  if (ats.size() < 2) return {};
  const std::size_t tl = ats[0] < ats.size() ? ats[0] : ats.size();
  if (tl < 2) return {};
  const std::uint8_t t0 = ats[1];
  std::size_t first = 2;
  for (std::uint8_t bit : {0x10, 0x20, 0x40})
    if (t0 & bit) ++first;
  if (first >= tl) return {};
  return std::vector<std::uint8_t>(ats.begin() + first, ats.begin() + tl);
}

std::vector<std::uint8_t> atr_from_ats(const std::vector<std::uint8_t>& ats) {
  std::vector<std::uint8_t> hist = ats_historical_bytes(ats);
  if (hist.size() > 15) hist.resize(15);
  std::vector<std::uint8_t> atr;
  atr.reserve(5 + hist.size());
  for (std::uint8_t b : {0x3B, 0x80, 0x80, 0x01}) atr.push_back(b);
  atr[1] = static_cast<std::uint8_t>(0x80 | hist.size());
  for (std::uint8_t b : hist) atr.push_back(b);
  atr.push_back(xor_from(atr, 1));
  return atr;
}

std::vector<std::uint8_t> storage_card_atr(int type) {
  // Card names of the registered list: 0001 1K, 0002 4K, 0026 Mini. The
  // reader's sector commands address 16 sectors of 4 blocks, the 1K layout,
  // which is also what an unlisted type byte is presented as.
  std::uint8_t name = 0x01;
  if ((type & 0xFF) == 0x18) name = 0x02;
  if ((type & 0xFF) == 0x09) name = 0x26;
  std::vector<std::uint8_t> atr = {0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00,
                                   0x03, 0x06, 0x03, 0x00, name, 0x00, 0x00, 0x00, 0x00};
  atr.push_back(xor_from(atr, 1));
  return atr;
}

bool apdu_well_formed(const std::uint8_t* apdu, std::size_t len) {
  if (len < 4) return false;
  if (len == 4 || len == 5) return true;  // case 1, case 2 short
  const std::size_t b = apdu[4];
  if (b != 0) return len == 5 + b || len == 6 + b;  // case 3, case 4 short
  if (len == 7) return true;                        // case 2 extended
  if (len < 7) return false;
  const std::size_t lc = static_cast<std::size_t>(apdu[5]) << 8 | apdu[6];
  if (lc == 0) return false;
  return len == 7 + lc || len == 9 + lc;  // case 3, case 4 extended
}

}  // namespace kpifd
