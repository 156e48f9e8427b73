// The card dialogue as it crossed the line: the APDUs the library sent in
// command frames 0x3226 (seat byte, then the APDU) and what the card
// answered in the answer frames, decoded from the virtual reader's traffic
// log.  Bytes outside frames (the magnetic head's raw sequences) are
// skipped.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "support/sim_reader.h"

namespace kptest {

struct HostFrame {
  std::uint16_t code = 0;
  Bytes data;
};

struct DeviceAnswer {
  std::uint16_t status = 0;
  Bytes data;
};

struct ApduExchange {
  int seat = -1;
  std::string command;  // hex
  std::string answer;   // hex, the card's data and SW1 SW2; "status XXXX" when the reader refused
};

inline std::vector<Bytes> FramesIn(const Bytes& wire) {
  std::vector<Bytes> frames;
  std::size_t at = 0;
  while (at < wire.size()) {
    if (wire[at] != 0x02) {
      ++at;
      continue;
    }
    std::size_t end = at + 1;
    while (end < wire.size() && wire[end] != 0x03 && wire[end] != 0x02) ++end;
    if (end < wire.size() && wire[end] == 0x03) {
      Bytes bytes;  // the nibble characters between STX and ETX, two per byte
      for (std::size_t i = at + 1; i + 1 < end; i += 2) {
        bytes.push_back(static_cast<std::uint8_t>((wire[i] & 0x0F) << 4 | (wire[i + 1] & 0x0F)));
      }
      frames.push_back(bytes);
      at = end + 1;
    } else {
      at = end;
    }
  }
  return frames;
}

// Command frames: N (2 bytes), code (2), data (N - 2), checksum (1).
inline std::vector<HostFrame> HostFrames(const Bytes& wire) {
  std::vector<HostFrame> frames;
  for (const Bytes& b : FramesIn(wire)) {
    if (b.size() < 5) continue;
    HostFrame f;
    f.code = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    f.data.assign(b.begin() + 4, b.end() - 1);
    frames.push_back(f);
  }
  return frames;
}

// Answer frames: L (2 bytes: the length nibbles read as one 16-bit value),
// status (2), data, checksum (1).
inline std::vector<DeviceAnswer> DeviceAnswers(const Bytes& wire) {
  std::vector<DeviceAnswer> answers;
  for (const Bytes& b : FramesIn(wire)) {
    if (b.size() < 5) continue;
    DeviceAnswer a;
    a.status = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    a.data.assign(b.begin() + 4, b.end() - 1);
    answers.push_back(a);
  }
  return answers;
}

// The frames of the traffic paired with their answers (the buzzer frames,
// which get none, left out), and of those the APDU exchanges.
inline std::vector<ApduExchange> Apdus(const kpsim::WireTraffic& traffic) {
  std::vector<HostFrame> frames;
  for (const HostFrame& f : HostFrames(traffic.host_to_device)) {
    if (f.code != 0x3116 && f.code != 0x3117) frames.push_back(f);
  }
  const std::vector<DeviceAnswer> answers = DeviceAnswers(traffic.device_to_host);
  std::vector<ApduExchange> out;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].code != 0x3226 || frames[i].data.empty()) continue;
    ApduExchange e;
    e.seat = frames[i].data[0];
    e.command = Hex(Bytes(frames[i].data.begin() + 1, frames[i].data.end()));
    if (i < answers.size()) {
      e.answer = answers[i].status == 0 ? Hex(answers[i].data)
                                        : "status " + Hex(Bytes{static_cast<std::uint8_t>(answers[i].status >> 8),
                                                                static_cast<std::uint8_t>(answers[i].status)});
    }
    out.push_back(e);
  }
  return out;
}

inline std::vector<std::string> Commands(const std::vector<ApduExchange>& exchanges) {
  std::vector<std::string> out;
  for (const ApduExchange& e : exchanges) out.push_back(e.command);
  return out;
}

// Command frame codes in order (the buzzer's included).
inline std::vector<std::uint16_t> FrameCodes(const kpsim::WireTraffic& traffic) {
  std::vector<std::uint16_t> out;
  for (const HostFrame& f : HostFrames(traffic.host_to_device)) out.push_back(f.code);
  return out;
}

// Today as YYMMDD, the transaction date the terminal answers with.
inline std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[8];
  std::strftime(text, sizeof text, "%y%m%d", &local);
  return text;
}

// A BER-TLV element of a one- or two-byte tag (hex) and a hex value.
inline std::string Tlv(const std::string& tag, const std::string& value) {
  char length[8];
  const std::size_t n = value.size() / 2;
  if (n > 127) {
    std::snprintf(length, sizeof length, "81%02X", static_cast<unsigned>(n));
  } else {
    std::snprintf(length, sizeof length, "%02X", static_cast<unsigned>(n));
  }
  return tag + length + value;
}

// ASCII text as hex.
inline std::string AsciiHex(const std::string& text) { return Hex(Bytes(text.begin(), text.end())); }

}  // namespace kptest
