// Identity cards on the type-0 reader through the exported interface
// against the virtual reader: the nine fields in GBK, the photo decoded
// into a bitmap beside the library, the same without a decoder, and the
// failures when no card is there or the card goes away before the read.
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
#include "support/wait.h"

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
const char kFemale[] = "C5AE";                                               // 女

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
    findId = Symbol<decltype(&KP_DEV_ID_FindID)>("KP_DEV_ID_FindID");
    getData = Symbol<decltype(&KP_DEV_ID_GetData)>("KP_DEV_ID_GetData");
    read = Symbol<decltype(&KP_DEV_ID_Read)>("KP_DEV_ID_Read");
  }
  ~LibraryCopy() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;

  decltype(&KP_DEV_OpenDevice) open = nullptr;
  decltype(&KP_DEV_CloseDevice) close = nullptr;
  decltype(&KP_DEV_ID_FindID) findId = nullptr;
  decltype(&KP_DEV_ID_GetData) getData = nullptr;
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

TEST(IdCardRead, WithoutTheDecoderTheFieldsAreReadAndNoBitmapIsLeft) {
  TempDir dir;
  LibraryCopy library(dir.path());
  // A bitmap of an earlier card must not pass for this card's.
  std::ofstream(dir.path() / "zp.bmp") << "stale";

  SimReader sim("t0");
  sim.control().Ok("insert 255 id");
  int handle = 0;
  ASSERT_EQ(library.open(0, sim.PortSpec(9600).c_str(), &handle), 0);
  ASSERT_EQ(library.findId(handle), 0);
  char text[300] = {};
  library.getData(handle, 1, text);
  EXPECT_EQ(HexOf(text), kSampleName);
  library.getData(handle, 6, text);
  EXPECT_STREQ(text, "350102198803120511");
  library.getData(handle, 9, text);
  EXPECT_EQ(text, dir.prefix() + "zp.bmp");
  EXPECT_FALSE(fs::exists(dir.path() / "zp.bmp"));
  EXPECT_FALSE(fs::exists(dir.path() / "zp.wlt"));
  EXPECT_EQ(library.close(handle), 0);
}

TEST(IdCardRead, SexAndNationNamesFollowTheNationalTable) {
  struct Case {
    const char* sex;
    const char* nation;
    const char* sexName;
    std::string nationName;
  };
  const Case cases[] = {
      {"2", "43", kFemale, "CEDAD7CEB1F0BFCBD7E5"},                // 乌孜别克族
      {"1", "10", kMale, "B3AFCFCAD7E5"},                          // 朝鲜族
      {"9", "56", kFemale, "BBF9C5B5D7E5"},                        // 基诺族; any code but 1 is female
      {"0", "97", kFemale, "C6E4CBFB"},                            // 其他
      {"1", "98", kMale, "CDE2B9FAD1AACDB3D6D0B9FABCAEC8CBCABF"},  // 外国血统中国籍人士
      {"1", "57", kMale, "20"},                                    // no such code: one space
      {"1", "00", kMale, "20"},
  };
  SimReader sim("t0");
  ASSERT_EQ(sim.Open(0, 9600), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nation);
    sim.control().Ok(std::string("insert 255 id name=林小雨 photo=0 sex=") + c.sex + " nation=" + c.nation);
    ASSERT_EQ(KP_DEV_ID_FindID(sim.handle()), 0);
    char text[300] = {};
    KP_DEV_ID_GetData(sim.handle(), 1, text);
    EXPECT_EQ(HexOf(text), "C1D6D0A1D3EA");  // 林小雨
    KP_DEV_ID_GetData(sim.handle(), 2, text);
    EXPECT_EQ(HexOf(text), c.sexName);
    KP_DEV_ID_GetData(sim.handle(), 3, text);
    EXPECT_EQ(HexOf(text), c.nationName);
  }
}

TEST(IdCardRead, NoCardAndACardTakenAwayBeforeTheRead) {
  SimReader sim("t0");
  ASSERT_EQ(sim.Open(0, 9600), 0);
  sim.ClearTraffic();

  // No card: the find is refused, and a read with no time left gives up
  // after one attempt with the outputs untouched.
  EXPECT_EQ(KP_DEV_ID_FindID(sim.handle()), -3);
  Fields fields;
  EXPECT_EQ(KP_DEV_ID_Read(sim.handle(), 0, fields.pointers), -6);
  EXPECT_STREQ(fields.text[0], "keep");
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), std::string(kFind) + kFind);

  // Found and selected, then gone: the read answer carries no card data.
  sim.ClearTraffic();
  sim.control().Ok("insert 255 id leave=select");
  EXPECT_EQ(KP_DEV_ID_FindID(sim.handle()), -3);
  EXPECT_EQ(Hex(sim.Traffic().host_to_device), std::string(kFind) + kSelect + kRead);
  EXPECT_EQ(sim.control().Ok("cards"), "");
}

}  // namespace
