#include "serial/frame.h"

#include <cstdio>

#include "wire/bytes.h"
#include "wire/nibble.h"

namespace kp::frame {

namespace {

// One pair of characters read as far as it is hexadecimal ("%02X"-style).
int PairValue(const char* pair) {
  int value = 0;
  for (int k = 0; k < 2; ++k) {
    const int d = wire::HexDigitValue(pair[k]);
    if (d < 0) break;
    value = value * 16 + d;
  }
  return value;
}

std::uint8_t* PutByte(std::uint8_t* out, int value) {
  *out++ = wire::NibbleChar(static_cast<unsigned>(value) >> 4);
  *out++ = wire::NibbleChar(static_cast<unsigned>(value));
  return out;
}

}  // namespace

std::size_t EncodeText(int command, const char* data, std::size_t length, std::uint8_t* out) {
  const std::size_t n = length / 2 + 2;
  std::uint8_t* p = out;
  *p++ = kStx;
  p = PutByte(p, static_cast<int>((n >> 8) & 0xFF));
  p = PutByte(p, static_cast<int>(n & 0xFF));
  p = PutByte(p, (command >> 8) & 0xFF);
  p = PutByte(p, command & 0xFF);
  int sum = ((command >> 8) & 0xFF) ^ (command & 0xFF);
  for (std::size_t i = 0; i < length; ++i) {
    const char c = data[i];
    *p++ = static_cast<std::uint8_t>((c >= '0' && c <= '9') ? c : c - 7);
  }
  for (std::size_t i = 0; i + 1 < length; i += 2) sum ^= PairValue(data + i);
  p = PutByte(p, sum & 0xFF);
  *p++ = kEtx;
  return static_cast<std::size_t>(p - out);
}

Response Decode(const char* body, std::size_t count) {
  Bytes bytes((count + 1) / 2 + 2, 0);
  NibbleTextToBytes(body, count & ~static_cast<std::size_t>(1), bytes.data());
  const std::size_t whole = count / 2;
  Response r;
  r.status = bytes[0] * 256 + bytes[1];
  r.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(whole > 2 ? 2 : whole),
                bytes.begin() + static_cast<std::ptrdiff_t>(whole));
  return r;
}

std::string DescribeCommand(int command, const std::uint8_t* wire, std::size_t count) {
  // The data characters sit between the nine head bytes and the three tail
  // bytes; each is one nibble.
  std::string data;
  for (std::size_t i = 9; i + kTailBytes < count; ++i) data += wire::HexDigit(wire[i]);
  char head[48];
  std::snprintf(head, sizeof head, "-> %04X data %s", command & 0xFFFF, data.empty() ? "-" : "");
  return head + data;
}

std::string DescribeResponse(int command, const Response& response, long elapsedMs) {
  char head[64];
  std::snprintf(head, sizeof head, "<- %04X sw %04X data ", command & 0xFFFF, response.status & 0xFFFF);
  char tail[32];
  std::snprintf(tail, sizeof tail, " %ld ms", elapsedMs);
  return head + (response.data.empty() ? std::string("-") : ToHex(response.data)) + tail;
}

}  // namespace kp::frame
