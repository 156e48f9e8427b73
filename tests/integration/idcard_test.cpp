// Identity cards on the type-0 reader through the exported interface
// against the virtual reader: the nine fields in GBK and the photo decoded
// into a bitmap beside the library.  The names of the sex and nation codes,
// the read without a decoder and the failures are the unit tests'.
//
// The library looks for the photo decoder in its own directory, so the
// photo tests load a copy of the library from a directory of their own
// (the test double of the decoder beside it, or not).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "support/sim_reader.h"

using kptest::Hex;
using kptest::HexBytes;
using kptest::SimReader;

namespace {

namespace fs = std::filesystem;

const char kFind[] = "AAAAAA96690003200122";
const char kSelect[] = "AAAAAA96690003200221";
const char kRead[] = "AAAAAA96690003300132";

// The sample card of the virtual reader, in GBK.
const char kSampleName[] = "B3C2CBBCD4B6";  // 陈思远
const char kSampleAddress[] =
    "BDADC4CFCAA1C1D9B4A8CAD0C7E0CAAFC7F8CEE0CDA9C2B73138BAC533B6B0353032CAD2";  // 江南省临川市青石区梧桐路18号3栋502室
const char kSampleAuthority[] = "C1D9B4A8CAD0B9ABB0B2BED6C7E0CAAFB7D6BED6";  // 临川市公安局青石分局
const char kMale[] = "C4D0";                                                 // 男

std::string HexOf(const char* text) { return Hex(kptest::Bytes(text, text + std::strlen(text))); }

// 1024 photo bytes of the test's own choosing.
kptest::Bytes Photo() {
  kptest::Bytes photo(1024);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<std::uint8_t>(0xFF - (i * 7) % 251);
  return photo;
}

kptest::Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return kptest::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A directory of its own under the temporary directory, removed with
// everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kpdev-idcard-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  // With the trailing separator, as the library names its directory.
  std::string prefix() const { return path_.string() + "/"; }

 private:
  fs::path path_;
};

// A copy of the shared library the tests link, loaded from another
// directory: a library instance of its own whose directory is that one.
class LibraryCopy {
 public:
  explicit LibraryCopy(const fs::path& directory) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&KP_DEV_OpenDevice), &info) == 0 || info.dli_fname == nullptr) {
      throw std::runtime_error("cannot locate the linked library");
    }
    const fs::path copy = directory / fs::path(info.dli_fname).filename();
    fs::copy_file(fs::canonical(info.dli_fname), copy, fs::copy_options::overwrite_existing);
    handle_ = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    open = Symbol<decltype(&KP_DEV_OpenDevice)>("KP_DEV_OpenDevice");
    close = Symbol<decltype(&KP_DEV_CloseDevice)>("KP_DEV_CloseDevice");
    read = Symbol<decltype(&KP_DEV_ID_Read)>("KP_DEV_ID_Read");
  }
  ~LibraryCopy() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;

  decltype(&KP_DEV_OpenDevice) open = nullptr;
  decltype(&KP_DEV_CloseDevice) close = nullptr;
  decltype(&KP_DEV_ID_Read) read = nullptr;

 private:
  template <typename F>
  F Symbol(const char* name) {
    void* address = dlsym(handle_, name);
    if (address == nullptr) throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<F>(address);
  }

  void* handle_ = nullptr;
};

// The nine outputs of KP_DEV_ID_Read.
struct Fields {
  Fields() {
    for (int i = 0; i < 9; ++i) {
      std::strcpy(text[i], "keep");
      pointers[i] = text[i];
    }
  }
  std::string HexOfField(int field) const { return HexOf(text[field - 1]); }
  char text[9][300];
  char* pointers[9];
};

TEST(IdCardRead, AllNineFieldsAndThePhotoBitmap) {
  TempDir dir;
  fs::copy_file(KPDEV_TEST_WLTRS, dir.path() / fs::path(KPDEV_TEST_WLTRS).filename());
  LibraryCopy library(dir.path());

  SimReader sim("t0");
  sim.control().Ok("insert 255 id photo=hex:" + Hex(Photo()));
  int handle = 0;
  ASSERT_EQ(library.open(0, sim.PortSpec(9600).c_str(), &handle), 0);
  sim.ClearTraffic();

  Fields fields;
  ASSERT_EQ(library.read(handle, 3000, fields.pointers), 0);
  EXPECT_EQ(fields.HexOfField(1), kSampleName);
  EXPECT_EQ(fields.HexOfField(2), kMale);
  EXPECT_EQ(fields.HexOfField(3), "BABAD7E5");  // 01 汉族
  EXPECT_STREQ(fields.text[3], "19880312");
  EXPECT_EQ(fields.HexOfField(5), kSampleAddress);
  EXPECT_STREQ(fields.text[5], "350102198803120511");
  EXPECT_EQ(fields.HexOfField(7), kSampleAuthority);
  EXPECT_STREQ(fields.text[7], "2016031220360312");
  EXPECT_EQ(fields.text[8], dir.prefix() + "zp.bmp");
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), std::string(kFind) + kSelect + kRead);

  // The decoder double writes a bitmap whose pixels repeat the raw photo
  // bytes: the photo reached it whole.  The raw file is gone.
  const kptest::Bytes bitmap = ReadFile(dir.path() / "zp.bmp");
  ASSERT_GT(bitmap.size(), 54u + 1024u);
  EXPECT_EQ(bitmap[0], 'B');
  EXPECT_EQ(bitmap[1], 'M');
  EXPECT_EQ(kptest::Bytes(bitmap.begin() + 54, bitmap.begin() + 54 + 1024), Photo());
  EXPECT_FALSE(fs::exists(dir.path() / "zp.wlt"));

  EXPECT_EQ(library.close(handle), 0);
}

}  // namespace
