// The identity-card module's own frames, the same shape in both directions:
//
//   AA AA AA 96 69  length(2, high byte first)  body  check
//
// The length counts what follows it (body and check byte); the check byte
// is the XOR of the length bytes and the body.  A command's body is its
// two command bytes; an answer's is three status bytes and the payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/bytes.h"

namespace kp::wire {

constexpr std::uint8_t kIdPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
// Preamble and length: what a reader takes first to learn the rest.
constexpr std::size_t kIdHeader = 7;

// The module's commands.
constexpr std::uint16_t kIdFindCard = 0x2001;
constexpr std::uint16_t kIdSelectCard = 0x2002;
constexpr std::uint16_t kIdReadCard = 0x3001;

// Wire bytes of a frame around body (length and check byte added).
Bytes EncodeIdFrame(const Bytes& body);
// Wire bytes of a command frame.
Bytes EncodeIdCommand(std::uint16_t command);

// Bytes announced behind the 7-byte header (the preamble is not looked at).
constexpr std::size_t IdAnnounced(const std::uint8_t* header) {
  return static_cast<std::size_t>(header[5]) << 8 | header[6];
}

// True when a whole frame (header, body, check byte) is as long as its
// header says and its last byte is the XOR of the length bytes and body.
bool IdCheckOk(const std::uint8_t* frame, std::size_t size);

}  // namespace kp::wire
