// The parts of the driver that need no reader: the DEVICENAME text, the
// answers to reset that PC/SC gives contactless cards, and the shape of a
// command APDU.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kpifd {

struct DeviceName {
  std::string path;  // a device, or a device server: rfc2217://HOST:PORT, tcp://HOST:PORT
  int type = 1;      // device type of the library
  int baud = 0;      // 0: search the speeds
  int sams = 0;      // contact seats 1..sams offered as further slots
};

// "PATH[:type=T][:baud=B][:sam=N]", PATH an absolute device path or a
// device server (rfc2217://HOST:PORT or tcp://HOST:PORT). Returns false and
// a reason for a text that does not parse.
bool parse_device_name(const std::string& text, DeviceName& out, std::string& why);

// Answer to reset of an ISO 14443-4 card: 3B 8n 80 01, the n historical
// bytes of its answer to select (TL first), TCK.
std::vector<std::uint8_t> atr_from_ats(const std::vector<std::uint8_t>& ats);

// Answer to reset of a sector (storage) card whose activation reported
// `type` (its SAK): the registered-application form with the card name.
std::vector<std::uint8_t> storage_card_atr(int type);

// Historical bytes carried in an answer to select (TL first).
std::vector<std::uint8_t> ats_historical_bytes(const std::vector<std::uint8_t>& ats);

// True when the length agrees with one of the ISO 7816-4 cases (short or
// extended Lc/Le encodings).
bool apdu_well_formed(const std::uint8_t* apdu, std::size_t len);

}  // namespace kpifd
