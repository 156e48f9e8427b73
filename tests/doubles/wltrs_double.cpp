// Stand-in for the identity-photo decoder: GetBmp turns the raw photo file
// into a real 24-bit bitmap "zp.bmp" in the same directory, its pixel bytes
// the raw bytes repeated, and answers 1.  An empty or unreadable raw file,
// or a mode other than 1, gives 0 and no bitmap.  Built a second time
// without the entry point.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#define WLTRS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kWidth = 102;
constexpr int kHeight = 126;
constexpr int kRowBytes = (kWidth * 3 + 3) / 4 * 4;
constexpr std::uint32_t kHeaderBytes = 54;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

int Decode(const char* rawPath, int mode) {
  if (rawPath == nullptr || mode != 1) return 0;
  std::FILE* in = std::fopen(rawPath, "rb");
  if (in == nullptr) return 0;
  std::vector<std::uint8_t> raw;
  std::uint8_t chunk[512];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) raw.insert(raw.end(), chunk, chunk + n);
  std::fclose(in);
  if (raw.empty()) return 0;

  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(kRowBytes) * kHeight;
  std::vector<std::uint8_t> bmp;
  bmp.push_back('B');
  bmp.push_back('M');
  Put32(bmp, kHeaderBytes + pixelBytes);
  Put32(bmp, 0);
  Put32(bmp, kHeaderBytes);
  Put32(bmp, 40);
  Put32(bmp, kWidth);
  Put32(bmp, kHeight);
  Put16(bmp, 1);
  Put16(bmp, 24);
  Put32(bmp, 0);
  Put32(bmp, pixelBytes);
  Put32(bmp, 2835);
  Put32(bmp, 2835);
  Put32(bmp, 0);
  Put32(bmp, 0);
  for (std::uint32_t i = 0; i < pixelBytes; ++i) bmp.push_back(raw[i % raw.size()]);

  std::string path(rawPath);
  const std::size_t slash = path.rfind('/');
  path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "zp.bmp";
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  const bool written = std::fwrite(bmp.data(), 1, bmp.size(), out) == bmp.size();
  std::fclose(out);
  return written ? 1 : 0;
}

}  // namespace

#ifndef WLTRS_DOUBLE_WITHOUT_ENTRY
WLTRS_EXPORT int GetBmp(const char* rawPath, int mode) { return Decode(rawPath, mode); }
#else
WLTRS_EXPORT int GetBitmap(const char* rawPath, int mode) { return Decode(rawPath, mode); }
#endif
