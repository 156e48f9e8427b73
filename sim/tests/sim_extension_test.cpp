// The plug-in points that card-technology modules build on: cards in seats,
// card kinds, framed commands, raw protocols and control verbs.

#include <gtest/gtest.h>

#include "core/virtual_reader.h"

namespace kpsim {
namespace {

const Bytes kOkAnswer{0x02, 0x30, 0x30, 0x30, 0x32, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x03};

class ContactCard : public Card {
 public:
  explicit ContactCard(std::string atr) : atr_(std::move(atr)) {}
  std::string Kind() const override { return "demo-cpu"; }
  std::string Summary() const override { return powered_ ? "powered" : ""; }
  void OnModuleReset() override { powered_ = false; }
  bool powered_ = false;
  std::string atr_;
};

class MemoryCard : public Card {
 public:
  std::string Kind() const override { return "demo-memory"; }
};

// A protocol of the identity-module kind: AA AA AA 96 69, a length byte,
// that many bytes; answered with 90 and the length.
class PreambleProtocol : public RawProtocol {
 public:
  const char* Name() const override { return "preamble"; }
  bool Serves(const DeviceState& state) const override { return state.family == Family::kT0; }
  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    static constexpr std::uint8_t kPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
    for (std::size_t i = 0; i < sizeof kPreamble; ++i) {
      if (i >= size) return ParseResult::NeedMore();
      if (data[i] != kPreamble[i]) return ParseResult::NoMatch();
    }
    if (size < 6 || size < 6u + data[5]) return ParseResult::NeedMore();
    const AnswerPlan plan = reader.PlanAnswer(AnswerKind::kRaw);
    if (!plan.swallowed()) reader.SendRaw(plan, {0x90, data[5]});
    return ParseResult::Done(6u + data[5]);
  }
};

class ExtensionTest : public ::testing::Test {
 protected:
  ExtensionTest() {
    reader_.card_kinds().Register("demo-cpu", "atr=HEX", [](const std::vector<std::string>& args, std::string* error) {
      if (args.size() != 1 || args[0].rfind("atr=", 0) != 0) {
        *error = "usage: insert SEAT demo-cpu atr=HEX";
        return std::unique_ptr<Card>();
      }
      return std::unique_ptr<Card>(std::make_unique<ContactCard>(args[0].substr(4)));
    });
    reader_.card_kinds().Register("demo-memory", "", [](const std::vector<std::string>&, std::string*) {
      return std::unique_ptr<Card>(std::make_unique<MemoryCard>());
    });
    // Power on (a code no module uses): 0x3F22 with the seat; answers the ATR of a CPU card, 1001 otherwise.
    reader_.commands().Register({0x3F22, "power on", kAllFamilies, true, [](VirtualReader& r, const Bytes& data) {
                                   ContactCard* card = data.empty() ? nullptr : r.seats().Find<ContactCard>(data[0]);
                                   if (card == nullptr) return Reply::Status(0x1001);
                                   card->powered_ = true;
                                   Bytes atr;
                                   FromHex(card->atr_, &atr);
                                   return Reply::Ok(atr);
                                 }});
  }

  Bytes Send(const Bytes& bytes) {
    reader_.OnHostBytes(bytes.data(), bytes.size(), 9600, now_);
    return reader_.Service(9600, now_);
  }

  VirtualReader reader_;
  TimePoint now_{};
};

TEST_F(ExtensionTest, CardsAreInsertedByKindAndFoundByInterface) {
  EXPECT_EQ(reader_.HandleControl("insert 0 demo-cpu atr=3B02"), "ok");
  EXPECT_EQ(reader_.HandleControl("insert 16 demo-memory"), "ok");
  EXPECT_EQ(reader_.HandleControl("insert 1 demo-cpu"), "err usage: insert SEAT demo-cpu atr=HEX");
  EXPECT_EQ(reader_.HandleControl("insert 2 no-such").rfind("err unknown card kind 'no-such' (known: ", 0), 0u);
  // 0x3F22 seat 0: status 0000 + 3B 02; checksum 3B ^ 02 = 39.
  EXPECT_EQ(Send(EncodeCommandFrame(0x3F22, {0x00})),
            (Bytes{0x02, 0x30, 0x30, 0x30, 0x34, 0x30, 0x30, 0x30, 0x30, 0x33, 0x3B, 0x30, 0x32, 0x33, 0x39, 0x03}));
  // A memory card is not a CPU card: 1001.
  EXPECT_EQ(Send(EncodeCommandFrame(0x3F22, {0x10})),
            (Bytes{0x02, 0x30, 0x30, 0x30, 0x32, 0x31, 0x30, 0x30, 0x31, 0x31, 0x31, 0x03}));
  EXPECT_EQ(reader_.HandleControl("cards"), "ok 0=demo-cpu:powered 16=demo-memory");

  // The t61 soft reset resets every seated card.
  reader_.SetFamily(Family::kT61);
  EXPECT_EQ(Send(EncodeCommandFrame(0x3112, {0x01})), kOkAnswer);
  EXPECT_EQ(reader_.HandleControl("cards"), "ok 0=demo-cpu 16=demo-memory");

  EXPECT_EQ(reader_.HandleControl("remove 0"), "ok");
  EXPECT_EQ(reader_.HandleControl("remove 0"), "err seat 0 is empty");
  EXPECT_EQ(reader_.seats().Occupied(), 1);
}

TEST_F(ExtensionTest, CommandCodesBelongToOneModule) {
  EXPECT_FALSE(reader_.commands().Register({0x3111, "another version", kAllFamilies, true, {}}));
  EXPECT_FALSE(reader_.commands().Register({0x3F22, "another power on", kAllFamilies, true, {}}));
  EXPECT_TRUE(reader_.commands().Register(
      {0x3F23, "power off", kFamilyT0, true, [](VirtualReader&, const Bytes&) { return Reply::Ok(); }}));
  // Registered for t0 only: the t1 firmware does not know it.
  EXPECT_EQ(Send(EncodeCommandFrame(0x3F23, {0x00}))[8], 0x35);
}

TEST_F(ExtensionTest, RawProtocolsGetTheBytesTheyClaimAndOnlyInTheirFamily) {
  reader_.stream().Add(std::make_unique<PreambleProtocol>());
  const Bytes find{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x03, 0x20, 0x01, 0x22};
  // Not served by t1: nine ignored bytes, and the frame behind them answered.
  Bytes mixed = find;
  const Bytes c003 = EncodeCommandFrame(0xC003, {});
  mixed.insert(mixed.end(), c003.begin(), c003.end());
  EXPECT_EQ(Send(mixed), kOkAnswer);
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 9u);

  reader_.SetFamily(Family::kT0);
  // Split anywhere, the sequence waits for its last byte.
  EXPECT_TRUE(Send(Bytes(find.begin(), find.begin() + 4)).empty());
  EXPECT_TRUE(Send(Bytes(find.begin() + 4, find.end() - 1)).empty());
  EXPECT_EQ(Send(Bytes(find.end() - 1, find.end())), (Bytes{0x90, 0x03}));
  // Faults reach raw answers too.
  reader_.HandleControl("fault short");
  EXPECT_EQ(Send(find), (Bytes{0x90}));
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 9u);
}

TEST_F(ExtensionTest, ModulesTakeOverControlVerbs) {
  EXPECT_NE(reader_.HandleControl("swipe 3B31 -"), "ok 2 tracks");
  reader_.control().Register("swipe", "TRACK1HEX|- TRACK2HEX|-", [](VirtualReader&, const ControlRequest& request) {
    return Ok(std::to_string(request.words.size()) + " tracks");
  });
  EXPECT_EQ(reader_.HandleControl("swipe 3B31 -"), "ok 2 tracks");
  EXPECT_NE(reader_.HandleControl("help").find("swipe TRACK1HEX|- TRACK2HEX|-"), std::string::npos);
}

TEST(NoiseSeed, SameSeedSameNoise) {
  auto noise = [](std::uint64_t seed) {
    ReaderOptions options;
    options.seed = seed;
    VirtualReader reader(options);
    reader.HandleControl("fault garbage 3");
    const Bytes c003 = EncodeCommandFrame(0xC003, {});
    Bytes all;
    for (int i = 0; i < 3; ++i) {
      reader.OnHostBytes(c003.data(), c003.size(), 9600, TimePoint{});
      const Bytes got = reader.Service(9600, TimePoint{});
      all.insert(all.end(), got.begin(), got.end());
    }
    return all;
  };
  EXPECT_EQ(noise(7), noise(7));
  EXPECT_NE(noise(7), noise(8));
}

}  // namespace
}  // namespace kpsim
