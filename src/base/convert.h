// Conversions between the texts the library moves around: upper-case hex
// text (the interface's and the command data's form), nibble text (the
// device's rendering of response bytes) and raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/bytes.h"

namespace kp {

using wire::Bytes;

// "%02X" per byte.  For count >= 1 the text is NUL-terminated; for count 0
// nothing at all is written.
void BytesToHex(const std::uint8_t* bytes, std::size_t count, char* out);
// As BytesToHex, and out[2 * count] = NUL in every case.
void BytesToHexZ(const std::uint8_t* bytes, std::size_t count, char* out);
// (length + 1) / 2 bytes, out[i] = ((text[2i] + 13) * 16 + text[2i+1]) mod 256.
// With an odd length the last byte combines the last character with the
// byte after it, so text must be readable at text[length] (its NUL).
void NibbleTextToBytes(const char* text, std::size_t length, std::uint8_t* out);
// (length + 1) / 2 bytes parsed as hex (either case; a field stops at the
// first non-hex character), then a 0 byte.  length is at most 4096.
void HexTextToBytes(const char* text, std::uint16_t length, std::uint8_t* out);
// 0 when text is empty or only '0'..'9' / 'A'..'F'; -1 otherwise.
int CheckHexText(const char* text);

// The two conversion exports, without the calling-convention decoration.
int AscToBcd(const char* text, char* hexOut);
int BcdToAsc(const char* hexText, char* bytesOut);

// Typed helpers used inside the library.
// The low byte of value as two upper-case hex digits ("%02X").
std::string ByteToHex(int value);
using wire::ToHex;

}  // namespace kp
