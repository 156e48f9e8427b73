// The identity record and the decoding of the card's text block: eight
// fixed-width UCS-2 fields turned into texts of the ANSI code page, the sex
// and nation codes replaced by their names, and the photo bytes kept for
// the decoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kp {

constexpr std::size_t kIdPhotoRoom = 1024;

// One decoded card.  Texts are NUL-terminated and the rest of every slot
// is zero; the layout (1444 bytes) is the one callers of the record rely on.
struct IdRecord {
  char name[32];
  char sex[32];
  char nation[32];
  char birthDate[32];
  char address[128];
  char idNumber[64];
  char authority[32];
  char validity[64];
  std::uint8_t photo[kIdPhotoRoom];
  std::uint32_t photoLength;
};
static_assert(sizeof(IdRecord) == 1444, "identity record layout");

// The record of the last card read by any type-0 reader of the process.
IdRecord& SharedIdRecord();

// Decodes the payload of the module's read answer (the bytes behind its
// 7-byte header): 3 status bytes, text length T and photo length P (two
// bytes each, high byte first), the text block, the photo.
// Returns -1 when the input is shorter than the eight fields (227 bytes;
// the record is then unchanged), -1 after the texts were stored when the
// input does not hold T + P bytes behind its 7 leading bytes or P exceeds
// the photo slot (the photo then stays empty), and otherwise the result of
// the last field's conversion (its byte count with NUL, 0 on failure).
int DecodeIdText(const std::uint8_t* input, std::uint32_t length, IdRecord* record);

// UCS-2 little-endian text, NUL-terminated, to the ANSI code page, into a
// buffer of kWideToAnsiRoom bytes; the byte count written with the NUL, or
// 0 when the conversion failed.
constexpr std::size_t kWideToAnsiRoom = 2048;
int WideToAnsi(char* out, const std::uint8_t* ucs2le);

// Replaces the ASCII spaces at the end of a NUL-terminated text by NULs.
void TrimTrailingSpaces(char* text);

}  // namespace kp
