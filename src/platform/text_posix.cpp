#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace kp::platform {

namespace {

// GBK is a superset of the GB2312 characters the cards carry; glibc's
// converter for it ships with the C library.
constexpr const char kAnsiCodePage[] = "GBK";
constexpr const char kCardEncoding[] = "UCS-2LE";
constexpr char kDefaultChar = '?';

class Converter {
 public:
  Converter() : cd_(iconv_open(kAnsiCodePage, kCardEncoding)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  // iconv_open reports failure as the handle (iconv_t)-1.
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }  // NOLINT(performance-no-int-to-ptr)
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

int Fail(char* out, std::size_t room) {
  if (room > 0) out[0] = '\0';
  return 0;
}

}  // namespace

int Ucs2LeToAnsi(const std::uint8_t* ucs2le, char* out, std::size_t room) {
  std::size_t units = 0;
  while (ucs2le[2 * units] != 0 || ucs2le[2 * units + 1] != 0) ++units;

  Converter converter;
  if (!converter.ok()) return Fail(out, room);

  char* in = const_cast<char*>(reinterpret_cast<const char*>(ucs2le));
  std::size_t inLeft = 2 * units;
  char* o = out;
  std::size_t oLeft = room;
  while (inLeft > 0) {
    if (iconv(converter.get(), &in, &inLeft, &o, &oLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ || oLeft == 0) return Fail(out, room);
    // A character the code page lacks (or a lone surrogate) becomes the
    // default character, as the Windows conversion without flags does.
    *o++ = kDefaultChar;
    --oLeft;
    in += 2;
    inLeft -= 2;
  }
  if (oLeft == 0) return Fail(out, room);
  *o++ = '\0';
  return static_cast<int>(o - out);
}

}  // namespace kp::platform
