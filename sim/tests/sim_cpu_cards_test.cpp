// The processor cards: the APDU engine's file system and script, and the
// contact seat commands (state, power, APDU, speed, card type) as the
// firmware answers them.

#include <gtest/gtest.h>

#include "cards/apdu_engine.h"
#include "core/frame.h"
#include "core/virtual_reader.h"

namespace kpsim {
namespace {

Bytes H(const std::string& hex) {
  Bytes bytes;
  EXPECT_TRUE(FromHex(hex, &bytes)) << hex;
  return bytes;
}

std::string Apdu(ApduEngine& engine, Rng& rng, const std::string& apdu) { return ToHex(engine.Transmit(H(apdu), rng)); }

TEST(ApduEngine, SelectsByIdentifierAndNameAndReadsFiles) {
  ApduEngine engine({}, false);
  Rng rng(1);
  // EF 0001 under the MF: size 16, transparent, SFI 1.
  EXPECT_EQ(Apdu(engine, rng, "00A40000020001"), "6F0E80020010820101830200018801019000");
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"),
            "4B5044459000");  // "KPDE"
  // From offset 12, 16 asked, 4 left: the end of the file comes first.
  EXPECT_EQ(Apdu(engine, rng, "00B0000C10"), "303030316282");
  EXPECT_EQ(Apdu(engine, rng, "00B0001000"), "6B00");
  // Le 00: whatever is there.
  EXPECT_EQ(Apdu(engine, rng, "00B0000900"), "2D3030303030319000");

  // DF 1001 by the first five bytes of its name; FCI with descriptor 38.
  EXPECT_EQ(Apdu(engine, rng, "00A4040005F04B50444500"), "6F10820138830210018407F04B50444556019000");
  EXPECT_EQ(engine.current_df()->fid, 0x1001);
  EXPECT_EQ(engine.current_ef(), nullptr);
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"), "6986");  // no EF selected yet
  // EF 0101 by short identifier 1: 00 01 02 ...
  EXPECT_EQ(Apdu(engine, rng, "00B0810204"), "020304059000");
  // Record 2 of SFI 2 (P2 = 2 << 3 | 4); a wrong Le is told the right one.
  EXPECT_EQ(Apdu(engine, rng, "00B2021400"), "B1B2B3B4B5B6B7B89000");
  EXPECT_EQ(Apdu(engine, rng, "00B2021404"), "6C08");
  EXPECT_EQ(Apdu(engine, rng, "00B2031400"), "6A83");
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"), "6981");  // the current EF holds records
  // Control parameters (62) and no answer data (0C).
  EXPECT_EQ(Apdu(engine, rng, "00A4020402010100"), "620E80020020820101830201018801019000");
  EXPECT_EQ(Apdu(engine, rng, "00A4030C"), "9000");  // back to the MF
  EXPECT_EQ(engine.current_df()->fid, 0x3F00);
  EXPECT_EQ(Apdu(engine, rng, "00B2011400"),
            "111213149000");                           // SFI 2 of the MF
  EXPECT_EQ(Apdu(engine, rng, "00B2010C00"), "6981");  // SFI 1 of the MF is transparent
}

TEST(ApduEngine, RefusesWhatItCannotDo) {
  ApduEngine engine({}, false);
  Rng rng(1);
  const struct {
    const char* apdu;
    const char* answer;
  } cases[] = {
      {"00A40000029999", "6A82"},      // no such file
      {"00A4040003A0000000", "6A82"},  // no such name
      {"00A4050002", "6A86"},          // P1 05
      {"00A40001023F00", "6A86"},      // P2 01
      {"00A4000003112233", "6700"},    // identifier of 3 bytes
      {"00A40000053F00", "6700"},      // Lc 5, 2 bytes follow
      {"00A4030C", "6A82"},            // the MF has no parent
      {"00B00000", "6700"},            // READ BINARY without Le
      {"00B0000004", "6986"},          // no EF selected
      {"00B0850004", "6A82"},          // no EF with SFI 5
      {"00B2010400", "6986"},          // READ RECORD without EF
      {"00B2011500", "6A86"},          // record mode other than "number in P1"
      {"0084000008AA", "6700"},        // data with GET CHALLENGE
      {"0084000005", "6700"},          // 5 bytes of challenge
      {"00C0000010", "6985"},          // nothing to fetch
      {"00CA9F3600", "6D00"},          // GET DATA is not implemented
      {"80A40000023F00", "6E00"},      // proprietary class
      {"00A4", "6700"},                // not even a header
  };
  for (const auto& c : cases) EXPECT_EQ(Apdu(engine, rng, c.apdu), c.answer) << c.apdu;
  EXPECT_EQ(Apdu(engine, rng, "00A40000020002"), "6F0E8002000C820102830200028801029000");
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"), "6981");  // records, not transparent
  EXPECT_EQ(Apdu(engine, rng, "00A40000020001"), "6F0E80020010820101830200018801019000");
  EXPECT_EQ(Apdu(engine, rng, "00B2010400"), "6981");  // transparent, not records

  // Challenges are random and as long as asked for.
  const std::string first = Apdu(engine, rng, "0084000008");
  const std::string second = Apdu(engine, rng, "0084000004");
  EXPECT_EQ(first.size(), 20u);
  EXPECT_EQ(first.substr(16), "9000");
  EXPECT_EQ(second.size(), 12u);
  EXPECT_NE(first.substr(0, 8), second.substr(0, 8));
}

TEST(ApduEngine, ScriptAnswersByLongestPrefixBeforeTheFileSystem) {
  std::vector<ScriptedApdu> script(3);
  std::string error;
  ASSERT_TRUE(ParseScriptedApdu("80CA:6A88", &script[0], &error));
  ASSERT_TRUE(ParseScriptedApdu("80CA9F36:9F3602001A9000", &script[1], &error));
  ASSERT_TRUE(ParseScriptedApdu("00A40000020001:6283", &script[2], &error));
  EXPECT_FALSE(ParseScriptedApdu("80CA:90", &script[0], &error));  // no room for the status bytes
  EXPECT_FALSE(ParseScriptedApdu("80CA9000", &script[0], &error));
  ApduEngine engine(script, false);
  Rng rng(1);
  EXPECT_EQ(Apdu(engine, rng, "80CA9F1700"), "6A88");
  EXPECT_EQ(Apdu(engine, rng, "80CA9F3600"), "9F3602001A9000");
  // The scripted select answers but selects nothing.
  EXPECT_EQ(Apdu(engine, rng, "00A40000020001"), "6283");
  EXPECT_EQ(Apdu(engine, rng, "00B0000004"), "6986");
  EXPECT_EQ(Apdu(engine, rng, "00A40000020002"), "6F0E8002000C820102830200028801029000");
}

TEST(ApduEngine, TZeroCardsHoldDataForGetResponse) {
  ApduEngine engine({}, true);
  Rng rng(1);
  // A command with data: 18 bytes of FCI wait.
  EXPECT_EQ(Apdu(engine, rng, "00A4040007F04B504445560100"), "6112");
  EXPECT_EQ(Apdu(engine, rng, "00C0000005"), "6F10820138610D");
  EXPECT_EQ(Apdu(engine, rng, "00C0000020"), "6C0D");
  EXPECT_EQ(Apdu(engine, rng, "00C000000D"), "830210018407F04B50444556019000");
  EXPECT_EQ(Apdu(engine, rng, "00C0000001"), "6985");
  // Commands without data answer directly; any other command drops what waits.
  EXPECT_EQ(Apdu(engine, rng, "00B0810004"), "000102039000");
  EXPECT_EQ(Apdu(engine, rng, "00A40000020101"), "6110");
  EXPECT_EQ(Apdu(engine, rng, "00B0810004"), "000102039000");
  EXPECT_EQ(Apdu(engine, rng, "00C0000000"), "6985");
}

// The firmware in-process: frames in, answers decoded.
class ContactSeatTest : public ::testing::Test {
 protected:
  struct Answer {
    std::uint16_t status = 0xFFFF;
    std::string data;  // hex
  };

  explicit ContactSeatTest(Family family = Family::kT1) {
    ReaderOptions options;
    options.family = family;
    reader_ = std::make_unique<VirtualReader>(options);
  }

  Bytes SendRaw(const Bytes& frame) {
    reader_->OnHostBytes(frame.data(), frame.size(), 9600, now_);
    return reader_->Service(9600, now_);
  }

  // Decodes STX, L, the body, checksum, ETX; the body's first two bytes are
  // the status word.
  Answer Command(std::uint16_t code, const std::string& data_hex) {
    const Bytes line = SendRaw(EncodeCommandFrame(code, H(data_hex)));
    Answer answer;
    if (line.size() < 12 || line.front() != kStx || line.back() != kEtx) {
      ADD_FAILURE() << "no answer frame: " << ToHex(line);
      return answer;
    }
    std::size_t length = 0;
    for (int i = 1; i <= 4; ++i) length = length << 4 | (line[i] & 0x0F);
    EXPECT_EQ(line.size(), 8 + 2 * length);
    Bytes body;
    for (std::size_t i = 0; i < length; ++i)
      body.push_back(static_cast<std::uint8_t>(line[5 + 2 * i] << 4 | (line[6 + 2 * i] & 0x0F)));
    answer.status = static_cast<std::uint16_t>(body[0] << 8 | body[1]);
    answer.data = ToHex(body.data() + 2, body.size() - 2);
    return answer;
  }
  std::uint16_t Status(std::uint16_t code, const std::string& data_hex) { return Command(code, data_hex).status; }

  std::string Control(const std::string& line) { return reader_->HandleControl(line); }

  std::unique_ptr<VirtualReader> reader_;
  TimePoint now_{};
};

TEST_F(ContactSeatTest, PowerCycleThroughTheSeatStates) {
  EXPECT_EQ(Status(0x3221, "00"), 0x1001);
  EXPECT_EQ(Status(0x3222, "000A00"), 0x1001);
  EXPECT_EQ(Status(0x3226, "0000A4000C"), 0x1001);
  EXPECT_EQ(Status(0x3223, "00"), 0x1001);

  ASSERT_EQ(Control("insert 0 cpu"), "ok");
  EXPECT_EQ(Status(0x3221, "00"), 0x1002);
  EXPECT_EQ(Status(0x3226, "0000A4000C"), 0x1002);  // not powered
  // Power-on answers the default answer to reset, exactly: 0000 and 12
  // bytes; L = 14, checksum = XOR of the body.
  const Bytes on = SendRaw(EncodeCommandFrame(0x3222, H("000A00")));
  EXPECT_EQ(ToHex(on), "023030303E30303030333B3638303030303830343B353034343435353633303331393E03");
  EXPECT_EQ(Status(0x3221, "00"), 0x1003);
  EXPECT_EQ(Control("cards"), "ok 0=cpu:powered");
  const Answer select = Command(0x3226, "0000A40000020001");
  EXPECT_EQ(select.status, 0x0000);
  EXPECT_EQ(select.data, "6F0E80020010820101830200018801019000");
  EXPECT_EQ(Command(0x3226, "0000B0000004").data, "4B5044459000");
  // A warm reset selects the MF again.
  EXPECT_EQ(Status(0x3222, "000A00"), 0x0000);
  EXPECT_EQ(Command(0x3226, "0000B0000004").data, "6986");

  EXPECT_EQ(Status(0x3223, "00"), 0x0000);
  EXPECT_EQ(Status(0x3221, "00"), 0x1002);
  EXPECT_EQ(Status(0x3223, "00"), 0x0000);  // already off
  EXPECT_EQ(Status(0x3226, "0000B0000004"), 0x1002);

  // Malformed data: 2005 whatever the seat holds.
  for (const auto& [code, data] : std::vector<std::pair<std::uint16_t, std::string>>{
           {0x3221, ""}, {0x3221, "0000"}, {0x3222, "0000"}, {0x3223, ""}, {0x3226, "00"}, {0x3002, "00"}}) {
    EXPECT_EQ(Status(code, data), 0x2005) << std::hex << code << " " << data;
  }
}

TEST_F(ContactSeatTest, SeveralSeatsMuteCardsAndOtherTechnologies) {
  ASSERT_EQ(Control("insert 0 cpu"), "ok");
  ASSERT_EQ(Control("insert 1 cpu atr=3B0211 mute"), "ok");
  ASSERT_EQ(Control("insert 2 cpu atr=3B021122 apdu=00B0:AABB9000"), "ok");
  ASSERT_EQ(Control("insert 3 sle4442"), "ok");
  EXPECT_EQ(Command(0x3222, "000A02").data, "3B021122");
  EXPECT_EQ(Status(0x3222, "000A01"), 0x1004);
  EXPECT_EQ(Status(0x3221, "01"), 0x1004);
  EXPECT_EQ(Status(0x3226, "0100B0000002"), 0x1002);
  EXPECT_EQ(Status(0x3221, "03"), 0x2001);
  EXPECT_EQ(Status(0x3222, "000A03"), 0x2006);
  EXPECT_EQ(Status(0x3226, "0300B0000002"), 0x2006);
  // Seat 2 powered, seat 0 not: each card keeps its own state.
  EXPECT_EQ(Command(0x3226, "0200B0000002").data, "AABB9000");
  EXPECT_EQ(Status(0x3226, "0000B0000002"), 0x1002);
  EXPECT_EQ(Control("cards"), "ok 0=cpu:unpowered 1=cpu:mute 2=cpu:powered 3=sle4442:tries=3");

  for (const char* bad : {"insert 0 cpu atr=3B0", "insert 0 cpu atr=", "insert 0 cpu bogus", "insert 0 cpu apdu=00B0",
                          "insert 0 cpu mute=1"}) {
    EXPECT_EQ(Control(bad).rfind("err ", 0), 0u) << bad;
  }
  EXPECT_EQ(Control("cards"), "ok 0=cpu:unpowered 1=cpu:mute 2=cpu:powered 3=sle4442:tries=3");
}

TEST_F(ContactSeatTest, SpeedAndCardTypeAreSettingsOfTheSeat) {
  EXPECT_EQ(Command(0x3232, "05").data, "00");  // empty, nothing set
  EXPECT_EQ(Status(0x3231, "0515"), 0x0000);
  EXPECT_EQ(Command(0x3232, "05").data, "15");
  EXPECT_EQ(Status(0x3002, "0502"), 0x0000);
  EXPECT_EQ(Status(0x3002, "0505"), 0x2005);  // no speed code 5
  EXPECT_EQ(Control("seat 5"), "ok card=- state=1001 type=15 speed=38400");

  ASSERT_EQ(Control("insert 0 cpu"), "ok");
  EXPECT_EQ(Command(0x3232, "00").data, "01");  // a CPU card, nothing set
  ASSERT_EQ(Control("insert 255 sector"), "ok");
  EXPECT_EQ(Command(0x3232, "FF").data, "08");  // the sector card's own type
  EXPECT_EQ(Status(0x3231, "0000"), 0x0000);    // 00 clears the setting
  EXPECT_EQ(Command(0x3232, "00").data, "01");
  EXPECT_EQ(Control("seat 0"), "ok card=cpu state=1002 type=01 speed=9600");
  EXPECT_EQ(Control("seat 256").rfind("err ", 0), 0u);
}

class ContactSeatT61Test : public ContactSeatTest {
 protected:
  ContactSeatT61Test() : ContactSeatTest(Family::kT61) {}
};

TEST_F(ContactSeatT61Test, SoftResetPowersCardsDownAndIdlesTheField) {
  ASSERT_EQ(Control("insert 0 cpu"), "ok");
  ASSERT_EQ(Control("insert 255 rf-cpu"), "ok");
  EXPECT_EQ(Status(0x3222, "000A00"), 0x0000);
  EXPECT_EQ(Status(0x3224, "0001"), 0x0000);
  EXPECT_EQ(Command(0x3226, "FF00A4030C").data, "6A82");  // the MF has no parent
  EXPECT_EQ(Status(0x3112, "00"), 0x0000);
  EXPECT_EQ(Status(0x3221, "00"), 0x1002);
  EXPECT_EQ(Status(0x3221, "FF"), 0x1002);
  EXPECT_EQ(Status(0x3226, "FF00A4030C"), 0x1002);
}

}  // namespace
}  // namespace kpsim
