// A resident identity card, as the t0 reader's identity module reads it:
// a 256-byte text block of fixed-width UCS-2 little-endian fields, each
// padded with spaces, and the photo bytes.
//
// Text block (offset, characters): name 0/15, sex code 30/1, nation code
// 32/2, birth date 36/8, address 52/35, ID number 122/18, issuing authority
// 158/15, validity period 188/16, reserved 220/18 (spaces).
//
// "insert SEAT id [KEY=VALUE...]" makes one; without arguments it is the
// sample card of a fictional person.  Values are UTF-8 and may not contain
// blanks; see IdentityCardUsage().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/card.h"

namespace kpsim {

class IdentityCard : public Card {
 public:
  enum class Leave { kNever, kAfterFind, kAfterSelect };

  struct Fields {
    std::u16string name;
    std::u16string sex;
    std::u16string nation;
    std::u16string birth;
    std::u16string address;
    std::u16string number;
    std::u16string authority;
    std::u16string validity;
  };

  static constexpr std::size_t kTextBlockBytes = 256;
  static constexpr std::size_t kPhotoBytes = 1024;  // the photo of a real card

  IdentityCard(Fields fields, Bytes photo, Leave leave);

  // The sample card: 陈思远, male, nation 01, born 1988-03-12, a 1024-byte
  // photo.
  static std::unique_ptr<IdentityCard> Sample();
  // From the words after "insert SEAT id"; nullptr with a reason.
  static std::unique_ptr<IdentityCard> Make(const std::vector<std::string>& args, std::string* error);

  std::string Kind() const override { return "id"; }
  // The ID number when it is plain ASCII.
  std::string Summary() const override;

  Bytes TextBlock() const;
  const Bytes& photo() const { return photo_; }
  Leave leave() const { return leave_; }
  // Distinguishes this card from any other ever made, even one that later
  // occupies the same memory.
  unsigned long serial() const { return serial_; }

 private:
  Fields fields_;
  Bytes photo_;
  Leave leave_;
  unsigned long serial_;
};

const char* IdentityCardUsage();

// UTF-8 to UCS-2 (characters of the basic multilingual plane only); false
// on a malformed sequence or a character outside that plane.
bool Utf8ToUcs2(const std::string& text, std::u16string* out);

}  // namespace kpsim
