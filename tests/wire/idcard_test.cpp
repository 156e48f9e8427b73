// Identity cards: the type-0 reader's module frames and answers, the shared
// record delivered field by field, the photo decoded to a bitmap beside the
// library, the timed read, and the sibling identity-card library as the
// read-any-card loop uses it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "idcard/id_library.h"
#include "kp_dev.h"
#include "logic/id_card_data.h"
#include "platform/dynlib.h"
#include "wire/fixture.h"

using kptest::Bytes;
using kptest::FakeDevice;
using kptest::FromHex;
using kptest::IdCardText;
using kptest::ModuleAnswer;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const Bytes kFindCard = FromHex("AA AA AA 96 69 00 03 20 01 22");
const Bytes kSelectCard = FromHex("AA AA AA 96 69 00 03 20 02 21");
const Bytes kReadCard = FromHex("AA AA AA 96 69 00 03 30 01 32");

// Success answers: find ends in 97, select in 9C.
const Bytes kFound = ModuleAnswer(FromHex("00 00 9F 00 00 00 00 97"));
const Bytes kSelected = ModuleAnswer(FromHex("00 00 90 00 00 00 00 00 00 00 00 9C"));

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

Bytes ReadAnswer(const IdCardText& card = IdCardText{}, const Bytes& photo = kptest::CardPhoto()) {
  return ModuleAnswer(kptest::ReadPayload(kptest::TextBlock(card), photo));
}

Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::string Field(int h, int field) {
  char out[300];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(KP_DEV_ID_GetData(h, field, out), 0);
  return std::string(out, strnlen(out, sizeof out));
}

// Every test gets a photo directory of its own, standing for the directory
// of the library; the decoder is installed there when a test wants one.
class IdCardTest : public kptest::ReaderTest {
 protected:
  IdCardTest() : ReaderTest(30) {}
  void SetUp() override {
    char pattern[] = "/tmp/kpdev-idcard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    kp::platform::SetModuleDirectoryOverride(dir_);
  }
  void TearDown() override {
    ReaderTest::TearDown();
    kp::platform::SetModuleDirectoryOverride("");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void InstallDecoder(const char* built) { fs::create_symlink(built, dir_ + "/libwltrs.so"); }
  std::string PathOf(const char* name) const { return dir_ + "/" + name; }
  bool Exists(const char* name) const { return fs::exists(PathOf(name)); }

  static void ScriptCard(FakeDevice& dev, const Bytes& read = ReadAnswer()) {
    dev.Reply(kFound);
    dev.Reply(kSelected);
    dev.Reply(read);
  }
  void ScriptCard(const Bytes& read = ReadAnswer()) { ScriptCard(dev_, read); }

  std::string dir_;
};

TEST_F(IdCardTest, FindSelectReadThenFieldsAndBitmap) {
  InstallDecoder(KPDEV_TEST_WLTRS);
  std::ofstream(PathOf("zp.bmp")) << "an earlier card";
  const int h = Open(0);
  ScriptCard();
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  const auto requests = dev_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], kFindCard);
  EXPECT_EQ(requests[1], kSelectCard);
  EXPECT_EQ(requests[2], kReadCard);

  EXPECT_EQ(Field(h, 1), kptest::kNameGbk);
  EXPECT_EQ(Field(h, 2), kptest::kMaleGbk);
  EXPECT_EQ(Field(h, 3), kptest::kHanGbk);
  EXPECT_EQ(Field(h, 4), "19800101");
  EXPECT_EQ(Field(h, 5), kptest::kAddressGbk);
  EXPECT_EQ(Field(h, 6), "11010119800101001X");
  EXPECT_EQ(Field(h, 7), kptest::kAuthorityGbk);
  EXPECT_EQ(Field(h, 8), "2010010120300101");
  EXPECT_EQ(Field(h, 9), PathOf("zp.bmp"));

  // The decoder got exactly the card's 1024 photo bytes and left a bitmap;
  // the raw photo file is gone.
  const Bytes bmp = FileBytes(PathOf("zp.bmp"));
  ASSERT_GT(bmp.size(), 54u + 1025u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Le32(bmp, 2), bmp.size());
  const Bytes photo = kptest::CardPhoto();
  EXPECT_EQ(Bytes(bmp.begin() + 54, bmp.begin() + 54 + 1024), photo);
  EXPECT_EQ(bmp[54 + 1024], photo[0]);
  EXPECT_FALSE(Exists("zp.wlt"));

  // Field numbers outside 1..9 leave the output alone.
  char out[8] = "keep";
  EXPECT_EQ(KP_DEV_ID_GetData(h, 0, out), 0);
  EXPECT_EQ(KP_DEV_ID_GetData(h, 10, out), 0);
  EXPECT_STREQ(out, "keep");
}

TEST_F(IdCardTest, SelectRetriedOnceAfterAFailedExchange) {
  const int h = Open(0);
  dev_.Reply(kFound);
  dev_.NoReply();
  dev_.Reply(kSelected);
  dev_.Reply(ReadAnswer());
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  const auto requests = dev_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1], kSelectCard);
  EXPECT_EQ(requests[2], kSelectCard);
  EXPECT_EQ(requests[3], kReadCard);
  EXPECT_EQ(Field(h, 6), "11010119800101001X");

  // Two failed selects end the search with the read error; no read is sent.
  dev_.ClearReceived();
  dev_.Reply(kFound);
  dev_.NoReply();
  dev_.NoReply();
  EXPECT_EQ(KP_DEV_ID_FindID(h), -4);
  EXPECT_EQ(dev_.Requests().size(), 3u);
}

TEST_F(IdCardTest, UnexpectedModuleAnswers) {
  const int h = Open(0);

  // Find answered with another last byte: -3, nothing more sent.
  dev_.Reply(ModuleAnswer(FromHex("00 00 80 00 00 00 00 80")));
  EXPECT_EQ(KP_DEV_ID_FindID(h), -3);
  EXPECT_EQ(dev_.Requests().size(), 1u);

  // Select answered with another last byte.
  dev_.ClearReceived();
  dev_.Reply(kFound);
  dev_.Reply(ModuleAnswer(FromHex("00 00 81 00 00 00 00 00 00 00 00 97")));
  EXPECT_EQ(KP_DEV_ID_FindID(h), -3);
  EXPECT_EQ(dev_.Requests().size(), 2u);

  // A read answer of 11 bytes carries no card data.
  dev_.ClearReceived();
  ScriptCard(ModuleAnswer(FromHex("00 00 41 00")));
  EXPECT_EQ(KP_DEV_ID_FindID(h), -3);

  // An answer announcing more than the 3000-byte answer buffer holds is
  // refused, and what follows it does not disturb the next search.
  dev_.ClearReceived();
  Bytes huge = FromHex("AA AA AA 96 69 0B B2");  // 2994 bytes announced
  huge.resize(huge.size() + 2994, 0x97);
  ScriptCard(huge);
  EXPECT_EQ(KP_DEV_ID_FindID(h), -3);
  dev_.ClearReceived();
  ScriptCard();
  EXPECT_EQ(KP_DEV_ID_FindID(h), 0);
  EXPECT_EQ(Field(h, 1), kptest::kNameGbk);
}

TEST_F(IdCardTest, ShortTextAnswerStillFindsTheCardWithEmptyTexts) {
  const int h = Open(0);
  ScriptCard();
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  ASSERT_EQ(Field(h, 1), kptest::kNameGbk);

  // 12 bytes: enough for the module, too short for the text block.
  ScriptCard(ModuleAnswer(FromHex("00 00 90 01 00 04 00 00")));
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  for (int field = 1; field <= 8; ++field) EXPECT_EQ(Field(h, field), "") << field;
}

TEST_F(IdCardTest, PhotoDecodingFailuresLeaveNoBitmap) {
  const int h = Open(0);

  // No decoder beside the library: the card is still read, field 9 names
  // the bitmap, and the bitmap of an earlier card is gone.
  std::ofstream(PathOf("zp.bmp")) << "an earlier card";
  ScriptCard();
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  EXPECT_EQ(Field(h, 1), kptest::kNameGbk);
  EXPECT_EQ(Field(h, 9), PathOf("zp.bmp"));
  EXPECT_FALSE(Exists("zp.bmp"));
  EXPECT_FALSE(Exists("zp.wlt"));

  // A decoder without its entry point.
  fs::create_symlink(KPDEV_TEST_WLTRS_NOENTRY, PathOf("libwltrs.so"));
  ScriptCard();
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  EXPECT_FALSE(Exists("zp.bmp"));
  EXPECT_FALSE(Exists("zp.wlt"));

  // A decoder that cannot decode (an empty photo): no bitmap, and the raw
  // file is removed all the same.
  fs::remove(PathOf("libwltrs.so"));
  InstallDecoder(KPDEV_TEST_WLTRS);
  ScriptCard(ReadAnswer(IdCardText{}, {}));
  ASSERT_EQ(KP_DEV_ID_FindID(h), 0);
  EXPECT_EQ(Field(h, 9), PathOf("zp.bmp"));
  EXPECT_FALSE(Exists("zp.bmp"));
  EXPECT_FALSE(Exists("zp.wlt"));
}

TEST_F(IdCardTest, TimedReadDeliversNineFieldsOrGivesUp) {
  InstallDecoder(KPDEV_TEST_WLTRS);
  const int h = Open(0);
  const Bytes noCard = ModuleAnswer(FromHex("00 00 80 00 00 00 00 80"));

  // Limit 0: a single attempt.
  dev_.Reply(noCard);
  EXPECT_EQ(KP_DEV_ID_Read(h, 0, nullptr), -6);
  EXPECT_EQ(dev_.Requests().size(), 1u);

  // Attempts 200 ms apart until the limit has passed.
  dev_.ClearReceived();
  for (int i = 0; i < 10; ++i) dev_.Reply(noCard);
  auto start = Clock::now();
  EXPECT_EQ(KP_DEV_ID_Read(h, 300, nullptr), -6);
  EXPECT_GE(MsSince(start), 300);
  EXPECT_GE(dev_.Requests().size(), 2u);

  // A card on the second attempt.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  dev_.ClearReceived();
  FakeDevice fresh(31);
  int h2 = -1;
  ASSERT_EQ(KP_DEV_OpenDevice(0, fresh.PortSpec().c_str(), &h2), 0);
  fresh.Reply(noCard);
  ScriptCard(fresh, ReadAnswer());
  char texts[9][300];
  char* fields[9];
  for (int i = 0; i < 9; ++i) {
    std::memset(texts[i], 'x', sizeof texts[i]);
    fields[i] = texts[i];
  }
  start = Clock::now();
  ASSERT_EQ(KP_DEV_ID_Read(h2, 5000, fields), 0);
  EXPECT_GE(MsSince(start), 200);
  // The nine outputs are the nine fields of the record.
  for (int field = 1; field <= 9; ++field) EXPECT_EQ(texts[field - 1], Field(h2, field)) << field;
  EXPECT_STREQ(texts[5], "11010119800101001X");
  EXPECT_TRUE(Exists("zp.bmp"));

  // An output left out is skipped; the others are filled all the same.
  ScriptCard(fresh, ReadAnswer());
  fields[1] = nullptr;
  std::memset(texts[0], 'x', sizeof texts[0]);
  ASSERT_EQ(KP_DEV_ID_Read(h2, 5000, fields), 0);
  EXPECT_EQ(texts[0], Field(h2, 1));
  KP_DEV_CloseDevice(h2);
}

// ---- the sibling library

using ConfigureFn = void (*)(int, int, int);
using CallsFn = const char* (*)();

class IdLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Held open so that its record of calls outlives each binding.
    double_ = dlopen(KPDEV_TEST_KPID, RTLD_NOW);
    ASSERT_NE(double_, nullptr) << dlerror();
    configure_ = reinterpret_cast<ConfigureFn>(dlsym(double_, "KPIDDouble_Configure"));
    calls_ = reinterpret_cast<CallsFn>(dlsym(double_, "KPIDDouble_Calls"));
    ASSERT_NE(configure_, nullptr);
    ASSERT_NE(calls_, nullptr);
    kp::SetIdLibraryName(KPDEV_TEST_KPID);
  }
  void TearDown() override {
    kp::SetIdLibraryName("");
    if (double_ != nullptr) dlclose(double_);
  }
  void* double_ = nullptr;
  ConfigureFn configure_ = nullptr;
  CallsFn calls_ = nullptr;
};

// What the library delivers in full is the read-any-card loop's to check.
TEST_F(IdLibraryTest, SmallerRoomIsNeverOverrun) {
  int kind = -1;
  configure_(0, 0, 42);
  char small[20];
  std::memset(small, 'x', sizeof small);
  ASSERT_EQ(kp::ReadIdViaLibrary(7, &kind, small, 16), 0);
  EXPECT_STREQ(small, "field1|field2|f");
  EXPECT_EQ(small[16], 'x');
}

TEST_F(IdLibraryTest, NoCardWhenOpenOrFindFails) {
  int kind = -1;
  char result[16] = "keep";

  // A failed open is still closed, with the handle as it stands (never set).
  configure_(-3, 0, 42);
  EXPECT_EQ(kp::ReadIdViaLibrary(7, &kind, result), -101);
  EXPECT_STREQ(calls_(), "Open(7,1) Close(0) ");

  configure_(0, -1, 42);
  EXPECT_EQ(kp::ReadIdViaLibrary(7, &kind, result), -101);
  EXPECT_STREQ(calls_(), "Open(7,1) Find(42) Close(42) ");
  EXPECT_EQ(kind, -1);
  EXPECT_STREQ(result, "keep");
}

TEST_F(IdLibraryTest, BindingRules) {
  {
    kp::CIdLibrary library;
    EXPECT_TRUE(library.bound());
    EXPECT_EQ(library.deviceHandle(), 0);
  }
  // The optional entry may be missing ...
  kp::SetIdLibraryName(KPDEV_TEST_KPID_NOAUTO);
  {
    kp::CIdLibrary library;
    EXPECT_TRUE(library.bound());
  }
  // ... a required one, even one never called, may not.
  kp::SetIdLibraryName(KPDEV_TEST_KPID_NOREAD);
  {
    kp::CIdLibrary library;
    EXPECT_FALSE(library.bound());
  }
  int kind = -1;
  char result[8] = "keep";
  EXPECT_EQ(kp::ReadIdViaLibrary(7, &kind, result), -101);
  // ... and a library that does not load binds nothing.
  kp::SetIdLibraryName("/nonexistent/libKP_ID.so");
  EXPECT_FALSE(kp::CIdLibrary().bound());
  EXPECT_EQ(kp::ReadIdViaLibrary(7, &kind, result), -101);
  EXPECT_EQ(kind, -1);
  EXPECT_STREQ(result, "keep");
}

}  // namespace
