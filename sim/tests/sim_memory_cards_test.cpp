// The memory chips in process: each command's answer (status word and
// data) and what it changes in the chip or leaves alone, read back through
// the control "dump" request.

#include <gtest/gtest.h>

#include <string>

#include "core/frame.h"
#include "core/virtual_reader.h"
#include "sim_client.h"

namespace kpsim {
namespace {

struct Answer {
  std::string status;  // four hex digits
  std::string data;    // hex
};

bool operator==(const Answer& a, const Answer& b) { return a.status == b.status && a.data == b.data; }
std::ostream& operator<<(std::ostream& out, const Answer& a) { return out << a.status << "/" << a.data; }

Answer Ok(const std::string& data = {}) { return {"0000", data}; }
Answer Status(const std::string& status) { return {status, {}}; }

class ProcessorCard : public Card {
 public:
  std::string Kind() const override { return "processor"; }
};

class MemoryChipTest : public ::testing::Test {
 protected:
  explicit MemoryChipTest(Family family = Family::kT1) {
    ReaderOptions options;
    options.family = family;
    reader_ = std::make_unique<VirtualReader>(options);
  }

  // Sends the command with the data given as hex and decodes the answer
  // frame: STX, L as four nibble characters, 2L body characters, checksum,
  // ETX.
  Answer Run(std::uint16_t code, const std::string& hex) {
    Bytes data;
    EXPECT_TRUE(FromHex(hex, &data)) << hex;
    const Bytes frame = EncodeCommandFrame(code, data);
    reader_->OnHostBytes(frame.data(), frame.size(), 9600, now_);
    const Bytes wire = reader_->Service(9600, now_);
    if (wire.size() < 12 || wire.front() != 0x02 || wire.back() != 0x03) return {"none", ToHex(wire)};
    std::string text;
    for (std::size_t i = 5; i + 3 < wire.size(); ++i) text += "0123456789ABCDEF"[wire[i] & 0x0F];
    return {text.substr(0, 4), text.substr(4)};
  }

  std::string Control(const std::string& line) { return reader_->HandleControl(line); }
  std::string Dump(const std::string& what) { return Control("dump " + what); }
  void Insert(const std::string& words) { ASSERT_EQ(Control("insert " + words), "ok") << words; }

  std::unique_ptr<VirtualReader> reader_;
  TimePoint now_{};
};

class TypeZeroMemoryChipTest : public MemoryChipTest {
 protected:
  TypeZeroMemoryChipTest() : MemoryChipTest(Family::kT0) {}
};

// ------------------------------------------------------------ the seat

TEST_F(MemoryChipTest, CommandsGoToTheChipInTheAddressedSeat) {
  // Empty seat, processor card, no seat byte at all.
  EXPECT_EQ(Run(0x3235, "0000000004"), Status("1001"));
  reader_->seats().Insert(3, std::make_unique<ProcessorCard>());
  EXPECT_EQ(Run(0x3235, "0300000004"), Status("2006"));
  EXPECT_EQ(Run(0x3235, ""), Status("2005"));

  Insert("7 at24c02 data=0102");
  EXPECT_EQ(Run(0x3235, "0700000002"), Ok("0102"));
  EXPECT_EQ(Run(0x3235, "0000000002"), Status("1001"));
  EXPECT_EQ(Control("cards"), "ok 3=processor 7=at24c02");
}

TEST_F(MemoryChipTest, TypeZeroOnlyCommandsAreUnknownToTheOtherFamilies) {
  Insert("0 sle4442");
  for (std::uint16_t code : {0x3237, 0x323D, 0x323E, 0x323F, 0x3240}) {
    EXPECT_EQ(Run(code, "00").status, "1005") << std::hex << code;
  }
  reader_->SetFamily(Family::kT61);
  EXPECT_EQ(Run(0x3237, "00").status, "1005");
  reader_->SetFamily(Family::kT0);
  EXPECT_EQ(Run(0x3237, "00"), Ok("000000"));
}

TEST_F(MemoryChipTest, AnswerFrameCarriesStatusAndData) {
  Insert("0 at24c02 data=AB");
  Bytes data;
  ASSERT_TRUE(FromHex("0000000001", &data));
  const Bytes frame = EncodeCommandFrame(0x3235, data);
  reader_->OnHostBytes(frame.data(), frame.size(), 9600, now_);
  // L = 3: status 00 00, data AB, checksum AB; nibble characters 0x30 + v.
  EXPECT_EQ(ToHex(reader_->Service(9600, now_)), "0230303033303030303A3B3A3B03");
}

// ------------------------------------------------------------ SLE4442

TEST_F(MemoryChipTest, Sle4442ArrivesWithItsHeaderProtectedAndPscFFFFFF) {
  Insert("0 sle4442");
  EXPECT_EQ(Run(0x3235, "0000000006"), Ok("A2131091FFFF"));
  EXPECT_EQ(Run(0x323A, "0000000006"), Ok("000000000101"));
  EXPECT_EQ(Run(0x323C, "00"), Ok("03"));
  EXPECT_EQ(Dump("0"), "ok kind=sle4442 psc=FFFFFF tries=3 granted=0 protected=0-3 areas=memory,protection");
}

TEST_F(MemoryChipTest, Sle4442WritesOnlyAfterThePsc) {
  Insert("0 sle4442 psc=123456 protect=none");
  EXPECT_EQ(Run(0x3236, "00100000021122"), Status("3008"));
  EXPECT_EQ(Dump("0 memory 16 2"), "ok FFFF");

  EXPECT_EQ(Run(0x3234, "0003123456"), Ok());
  EXPECT_EQ(Run(0x3236, "00100000021122"), Ok());
  EXPECT_EQ(Dump("0 memory 15 4"), "ok FF1122FF");
  // Up to the last byte, and not one further.
  EXPECT_EQ(Run(0x3236, "00FF000001EE"), Ok());
  EXPECT_EQ(Run(0x3236, "00FF000002EEEE"), Status("2004"));
  EXPECT_EQ(Run(0x3235, "00FF000001"), Ok("EE"));
  EXPECT_EQ(Run(0x3235, "00FF000002"), Status("2004"));
  // A count that disagrees with the data.
  EXPECT_EQ(Run(0x3236, "0010000003AABB"), Status("2005"));

  // A card module reset forgets the presentation.
  reader_->seats().ResetAll();
  EXPECT_EQ(Run(0x3236, "00100000021122"), Status("3008"));
}

TEST_F(MemoryChipTest, Sle4442CounterGoesDownAndLocksAfterThreeWrongPscs) {
  Insert("0 sle4442 psc=123456");
  EXPECT_EQ(Run(0x3234, "0003000000"), Status("3005"));
  EXPECT_EQ(Run(0x323C, "00"), Ok("02"));
  // The right PSC while tries remain restores all three.
  EXPECT_EQ(Run(0x3234, "0003123456"), Ok());
  EXPECT_EQ(Run(0x323C, "00"), Ok("03"));
  // A wrong presentation also withdraws the earlier grant.
  EXPECT_EQ(Run(0x3234, "0003000000"), Status("3005"));
  EXPECT_EQ(Run(0x3236, "00200000011A"), Status("3008"));
  EXPECT_EQ(Run(0x3234, "0003000001"), Status("3005"));
  EXPECT_EQ(Run(0x323C, "00"), Ok("01"));
  EXPECT_EQ(Run(0x3234, "0003000002"), Status("3006"));
  // Locked: the counter still tells 0, and the right PSC no longer opens it.
  EXPECT_EQ(Run(0x323C, "00"), Answer({"3006", "00"}));
  EXPECT_EQ(Run(0x3234, "0003123456"), Status("3006"));
  EXPECT_EQ(Run(0x3236, "00200000011A"), Status("3008"));
  EXPECT_EQ(Run(0x3235, "0000000002"), Ok("A213"));
  EXPECT_EQ(Control("cards"), "ok 0=sle4442:tries=0,locked");
}

TEST_F(MemoryChipTest, Sle4442PasswordLengthAndLayoutAreChecked) {
  Insert("0 sle4442 psc=123456");
  // Two bytes are not a PSC, and a length byte that disagrees is no command:
  // neither costs a try.
  EXPECT_EQ(Run(0x3234, "00021234"), Status("2005"));
  EXPECT_EQ(Run(0x3234, "0004123456"), Status("2005"));
  EXPECT_EQ(Run(0x323C, "00"), Ok("03"));
}

TEST_F(MemoryChipTest, Sle4442ProtectedBytesStayAsTheyAre) {
  Insert("0 sle4442 psc=FFFFFF data=00112233445566 protect=2,5");
  ASSERT_EQ(Run(0x3234, "0003FFFFFF"), Ok());
  // Touching byte 2 refuses the whole write.
  EXPECT_EQ(Run(0x3236, "0000000004AABBCCDD"), Status("3007"));
  EXPECT_EQ(Dump("0 memory 0 7"), "ok 00112233445566");
  EXPECT_EQ(Run(0x3236, "0003000002AABB"), Ok());
  EXPECT_EQ(Dump("0 memory 0 7"), "ok 001122AABB5566");
  // Above the protectable 32 bytes nothing is protected.
  EXPECT_EQ(Run(0x3236, "0020000001CC"), Ok());
}

TEST_F(MemoryChipTest, Sle4442ProtectsOnlyBytesWhoseContentIsPresented) {
  Insert("0 sle4442 data=A213109101020304 protect=0-3");
  EXPECT_EQ(Run(0x323B, "000400000201FF"), Status("3008"));
  ASSERT_EQ(Run(0x3234, "0003FFFFFF"), Ok());
  // Byte 5 holds 02, not FF: nothing is protected.
  EXPECT_EQ(Run(0x323B, "000400000201FF"), Status("3007"));
  EXPECT_EQ(Run(0x323A, "0004000002"), Ok("0101"));
  EXPECT_EQ(Run(0x323B, "00040000020102"), Ok());
  EXPECT_EQ(Run(0x323A, "0000000008"), Ok("0000000000000101"));
}

TEST_F(MemoryChipTest, Sle4442ProtectionMemoryRange) {
  Insert("0 sle4442");
  EXPECT_EQ(Run(0x323A, "001E000002"), Ok("0101"));
  EXPECT_EQ(Run(0x323A, "001E000003"), Status("2004"));
  EXPECT_EQ(Run(0x323A, "0000000020").data.size(), 64u);
}

// ------------------------------------------------------------ SLE4428

TEST_F(MemoryChipTest, Sle4428ModesOfReadAndWrite) {
  Insert("0 sle4428 psc=1234 data=00112233 protect=1");
  // Mode 1 reads data, then one bit per byte (0 = protected).
  EXPECT_EQ(Run(0x3235, "000000000301"), Ok("001122010001"));
  EXPECT_EQ(Run(0x3235, "000000000300"), Ok("001122"));
  EXPECT_EQ(Run(0x3235, "0000000003"), Ok("001122"));
  EXPECT_EQ(Run(0x3235, "000000000302"), Status("2005"));

  EXPECT_EQ(Run(0x3236, "00020000010077"), Status("3008"));
  ASSERT_EQ(Run(0x3234, "00021234"), Ok());
  // Byte 1 is protected.
  EXPECT_EQ(Run(0x3236, "0000000002007766"), Status("3007"));
  // Mode 1 writes and protects.
  EXPECT_EQ(Run(0x3236, "0002000002017766"), Ok());
  EXPECT_EQ(Run(0x3235, "000000000501"), Ok("00117766FF0100000001"));
  EXPECT_EQ(Run(0x3236, "00030000010055"), Status("3007"));
  // Mode 2 protects bytes whose content it is shown, and nothing else.
  EXPECT_EQ(Run(0x3236, "0000000001027F"), Status("3007"));
  EXPECT_EQ(Run(0x3236, "00000000010200"), Ok());
  EXPECT_EQ(Dump("0 memory 0 5"), "ok 00117766FF");
  EXPECT_EQ(Run(0x3236, "00000000010311"), Status("2005"));
  // The generic write has no mode byte: a plain write.
  EXPECT_EQ(Run(0x3236, "0004000001AA"), Ok());
  EXPECT_EQ(Dump("0"), "ok kind=sle4428 psc=1234 tries=8 granted=1 protected=0-3 areas=memory,protection");
}

TEST_F(MemoryChipTest, Sle4428RangeAndTheSizeOfOneAnswer) {
  Insert("0 sle4428");
  EXPECT_EQ(Run(0x3235, "00FC03000400").data, "FFFFFFFF");
  EXPECT_EQ(Run(0x3235, "00FC03000500"), Status("2004"));
  // 518 bytes with their bits fill one answer; 519 would not fit.
  EXPECT_EQ(Run(0x3235, "000000020601").data.size(), 2u * 1036u);
  EXPECT_EQ(Run(0x3235, "000000020701"), Status("2005"));
  EXPECT_EQ(Run(0x3235, "000000040000").data.size(), 2048u);
}

TEST_F(MemoryChipTest, Sle4428CounterHasEightTries) {
  Insert("0 sle4428 psc=1234 tries=2");
  EXPECT_EQ(Run(0x323C, "00"), Ok("02"));
  EXPECT_EQ(Run(0x3234, "00021234"), Ok());
  EXPECT_EQ(Run(0x323C, "00"), Ok("08"));
  for (int i = 7; i >= 1; --i) {
    EXPECT_EQ(Run(0x3234, "00020000"), Status("3005"));
  }
  EXPECT_EQ(Run(0x323C, "00"), Ok("01"));
  EXPECT_EQ(Run(0x3234, "00020000"), Status("3006"));
  EXPECT_EQ(Run(0x3234, "00021234"), Status("3006"));
}

// ------------------------------------------------------------ AT24Cxx

TEST_F(MemoryChipTest, At24cxxIsPlainMemoryOfItsSize) {
  struct Case {
    const char* kind;
    const char* last;  // address of the last byte, low byte first
    const char* past;
  };
  const Case cases[] = {{"at24c01", "7F00", "8000"},
                        {"at24c02", "FF00", "0001"},
                        {"at24c16", "FF07", "0008"},
                        {"at24c64", "FF1F", "0020"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Insert(std::string("0 ") + c.kind);
    EXPECT_EQ(Run(0x3236, std::string("00") + c.last + "00015A"), Ok());
    EXPECT_EQ(Run(0x3235, std::string("00") + c.last + "0001"), Ok("5A"));
    EXPECT_EQ(Run(0x3235, std::string("00") + c.last + "0002"), Status("2004"));
    EXPECT_EQ(Run(0x3236, std::string("00") + c.past + "00015A"), Status("2004"));
  }
  // No passwords or fuses.
  EXPECT_EQ(Run(0x3234, "0003FFFFFF"), Status("2006"));
  EXPECT_EQ(Run(0x323C, "00"), Status("2006"));
  EXPECT_EQ(Run(0x3239, "00"), Status("2006"));
  EXPECT_EQ(Dump("0"), "ok kind=at24c64 size=8192 areas=memory");
}

// ------------------------------------------------------------ AT45DB041

TEST_F(TypeZeroMemoryChipTest, At45db041PagesAndOffsets) {
  Insert("0 at45db041");
  // Page 0x0102, offset 0x10.
  EXPECT_EQ(Run(0x3236, "001002010002AABB"), Ok());
  EXPECT_EQ(Dump("0 memory " + std::to_string(0x102 * 264 + 0x10) + " 3"), "ok AABBFF");
  EXPECT_EQ(Run(0x3235, "001002010003"), Ok("AABBFF"));
  // A write must end within its page of 264 bytes (offset 255 + 9); a read
  // runs on into the next page, up to the end of the last one.
  EXPECT_EQ(Run(0x3236, "00FF00000009" + std::string(18, '1')), Ok());
  EXPECT_EQ(Run(0x3236, "00FF0000000A" + std::string(20, '1')), Status("2004"));
  EXPECT_EQ(Run(0x3235, "00FF0000000B"), Ok(std::string(18, '1') + "FFFF"));
  EXPECT_EQ(Run(0x3235, "00FFFF070009"), Ok("FFFFFFFFFFFFFFFFFF"));
  EXPECT_EQ(Run(0x3235, "00FFFF07000A"), Status("2004"));
  EXPECT_EQ(Run(0x3235, "000000080001"), Status("2004"));
}

TEST_F(MemoryChipTest, At45db041LinearAddressesFromTheStoreCommands) {
  Insert("0 at45db041");
  // Address 263 and 264: the last byte of page 0 and the first of page 1.
  EXPECT_EQ(Run(0x3236, "0007010002C1C2"), Ok());
  EXPECT_EQ(Run(0x3235, "0007010002"), Ok("C1C2"));
  EXPECT_EQ(Dump("0 memory 263 2"), "ok C1C2");
}

// ------------------------------------------------------------ AT88SC102

TEST_F(MemoryChipTest, At88sc102IsOpenUntilTheFuse) {
  Insert("0 at88sc102");
  EXPECT_EQ(Run(0x3235, "0000000004"), Ok("102FFFFF"));
  // The fabrication zone is the maker's; everything else is writable.
  EXPECT_EQ(Run(0x3236, "000000000100"), Status("3007"));
  EXPECT_EQ(Run(0x3236, "0002000002AAAA"), Ok());
  EXPECT_EQ(Run(0x3236, "000A000001CC"), Ok());
  EXPECT_EQ(Run(0x3235, "000A000001"), Ok("CC"));
  EXPECT_EQ(Run(0x3236, "0093000001DD"), Ok());
  EXPECT_EQ(Run(0x3236, "0094000001DD"), Status("2004"));
  EXPECT_EQ(Run(0x3239, "00"), Ok());
  EXPECT_EQ(Control("cards"), "ok 0=at88sc102:fused");
}

TEST_F(MemoryChipTest, At88sc102PasswordsApplyAfterTheFuse) {
  Insert("0 at88sc102 fused=1 pwd0=1357 data=0011223344556677");
  // Issuer zone read-only, code-protected zone closed, application zones
  // read freely and written with SC.
  EXPECT_EQ(Run(0x3236, "0002000001AA"), Status("3007"));
  EXPECT_EQ(Run(0x3235, "000A000001"), Status("3008"));
  EXPECT_EQ(Run(0x3235, "0012000001"), Ok("FF"));
  EXPECT_EQ(Run(0x3236, "0012000001AA"), Status("3008"));
  EXPECT_EQ(Run(0x3236, "0092000001AA"), Ok());
  // SC as zone 0, in each layout the hosts use: zone before the length,
  // zone after it, and no zone at all.
  EXPECT_EQ(Run(0x3234, "0000021357"), Ok());
  reader_->seats().ResetAll();
  EXPECT_EQ(Run(0x3234, "0002001357"), Ok());
  reader_->seats().ResetAll();
  EXPECT_EQ(Run(0x3234, "00021357"), Ok());
  EXPECT_EQ(Run(0x3235, "000A000001"), Ok("FF"));
  EXPECT_EQ(Run(0x3236, "0012000001AA"), Ok());
  EXPECT_EQ(Run(0x3236, "0002000001AA"), Status("3007"));
  EXPECT_EQ(Dump("0 memory 2 8"), "ok 0011223344556677");
}

TEST_F(MemoryChipTest, At88sc102ZonePasswordsHaveTheirOwnLengthsAndCounters) {
  Insert("0 at88sc102 fused=1 pwd1=010203040506 pwd2=0A0B0C0D");
  EXPECT_EQ(Run(0x3234, "000106010203040507"), Status("3005"));
  EXPECT_EQ(Run(0x323C, "0001"), Ok("03"));
  EXPECT_EQ(Run(0x323C, "0000"), Ok("04"));
  EXPECT_EQ(Run(0x3234, "0002040A0B0C0D"), Ok());
  // A 4-byte password is no EZ1, and zone 3 does not exist.
  EXPECT_EQ(Run(0x3234, "0001040A0B0C0D"), Status("2005"));
  EXPECT_EQ(Run(0x3234, "0003021357"), Status("2004"));
  EXPECT_EQ(Run(0x323C, "0003"), Status("2004"));
  EXPECT_EQ(Run(0x3234, "0000020000"), Status("3005"));
  EXPECT_EQ(Run(0x3234, "0000020001"), Status("3005"));
  EXPECT_EQ(Run(0x3234, "0000020002"), Status("3005"));
  EXPECT_EQ(Run(0x3234, "0000020003"), Status("3006"));
  EXPECT_EQ(Run(0x323C, "0000"), Answer({"3006", "00"}));
}

TEST_F(TypeZeroMemoryChipTest, At88sc102EraseAndConditionalWrite) {
  Insert("0 at88sc102 fused=1 pwd0=1357 pwd1=010203040506");
  ASSERT_EQ(Run(0x3234, "0000021357"), Ok());
  ASSERT_EQ(Run(0x3236, "0012000002F00F"), Ok());
  // Conditional write: bits only go from 1 to 0.
  EXPECT_EQ(Run(0x3240, "000112023C3C"), Ok());
  EXPECT_EQ(Run(0x3235, "0012000002"), Ok("300C"));
  // Erasing AZ1 needs EZ1 as well.
  EXPECT_EQ(Run(0x3240, "00001202"), Status("3008"));
  ASSERT_EQ(Run(0x3234, "000106010203040506"), Ok());
  EXPECT_EQ(Run(0x3240, "00001201"), Ok());
  EXPECT_EQ(Run(0x3235, "0012000002"), Ok("FF0C"));
  EXPECT_EQ(Run(0x3240, "0002100102"), Status("2005"));
}

TEST_F(TypeZeroMemoryChipTest, At88sc102PasswordReadBackAndChange) {
  Insert("0 at88sc102 pwd0=1357");
  // Before the fuse the issuer reads and sets passwords freely.
  EXPECT_EQ(Run(0x3237, "0000"), Ok("1357"));
  EXPECT_EQ(Run(0x3238, "00002468"), Ok());
  EXPECT_EQ(Run(0x3239, "00"), Ok());
  EXPECT_EQ(Run(0x3237, "0000"), Status("3008"));
  EXPECT_EQ(Run(0x3238, "00001111"), Status("3008"));
  ASSERT_EQ(Run(0x3234, "0000022468"), Ok());
  EXPECT_EQ(Run(0x3237, "0000"), Ok("2468"));
  EXPECT_EQ(Run(0x3237, "0002"), Ok("FFFFFFFF"));
  EXPECT_EQ(Run(0x3238, "000102AABBCCDDEEFF"), Status("2005"));
  EXPECT_EQ(Run(0x3238, "000106AABBCCDDEEFF"), Ok());
  EXPECT_EQ(Run(0x3237, "0001"), Ok("AABBCCDDEEFF"));
  EXPECT_EQ(Run(0x323F, "00"), Ok("01"));
}

// ------------------------------------------------------------ AT88SC1604

TEST_F(MemoryChipTest, At88sc1604ZoneCodes) {
  Insert("0 at88sc1604 fused=1 pwd2=2222");
  EXPECT_EQ(Run(0x3235, "0000000002"), Ok("1604"));
  // AZ2 starts at 0x500 and is written with SC2.
  EXPECT_EQ(Run(0x3236, "000005000155"), Status("3008"));
  // The selector layout: length, selector low, selector high, code.
  EXPECT_EQ(Run(0x3234, "000202002222"), Ok());
  EXPECT_EQ(Run(0x3236, "000005000155"), Ok());
  // AZ1 (up to 0x4FF) still needs SC1.
  EXPECT_EQ(Run(0x3236, "00FF0400025555"), Status("3008"));
  EXPECT_EQ(Run(0x3234, "000205012222"), Status("2004"));
  EXPECT_EQ(Run(0x3234, "0005022222"), Status("2004"));
  EXPECT_EQ(Run(0x323C, "0002"), Ok("08"));
  EXPECT_EQ(Run(0x3235, "00FF070001"), Ok("FF"));
  EXPECT_EQ(Run(0x3235, "0000080001"), Status("2004"));
}

// ------------------------------------------------------------ AT88SC1608

TEST_F(TypeZeroMemoryChipTest, At88sc1608ZonesAndTheLinearView) {
  Insert("0 at88sc1608");
  // Zone 2, address 0x10.
  EXPECT_EQ(Run(0x3236, "0002100000021234"), Ok());
  EXPECT_EQ(Dump("0 memory 528 2"), "ok 1234");
  EXPECT_EQ(Run(0x3235, "000210000002"), Ok("1234"));
  // A zone ends at 256 bytes; the configuration zone (8) at 128, and its
  // cryptogram is the card's own.
  EXPECT_EQ(Run(0x3235, "0002FF000002"), Status("2004"));
  EXPECT_EQ(Run(0x3235, "000878000008"), Ok("0000000000000000"));
  EXPECT_EQ(Run(0x3236, "0008780000010A"), Status("3007"));
  EXPECT_EQ(Run(0x3236, "00080000000155"), Ok());
  EXPECT_EQ(Run(0x3235, "000900000001"), Status("2004"));
  EXPECT_EQ(Run(0x323F, "00"), Ok("03"));
}

TEST_F(TypeZeroMemoryChipTest, At88sc1608PasswordSetsGuardTheirZones) {
  Insert("0 at88sc1608 fused=1 pwd6=666666 pwd7=777777");
  EXPECT_EQ(Run(0x3235, "000300000001"), Status("3008"));
  // Read password of set 3 (select 1, set 3 = number 7): reading only.
  EXPECT_EQ(Run(0x3234, "00030103777777"), Ok());
  EXPECT_EQ(Run(0x3235, "000300000001"), Ok("FF"));
  EXPECT_EQ(Run(0x3236, "00030000000100"), Status("3008"));
  EXPECT_EQ(Run(0x3235, "000400000001"), Status("3008"));
  // Write password of set 3 (number 6).
  EXPECT_EQ(Run(0x3234, "00030003666666"), Ok());
  EXPECT_EQ(Run(0x3236, "00030000000100"), Ok());
  // After the fuse the issuer area is read-only.
  EXPECT_EQ(Run(0x3236, "00080000000155"), Status("3007"));
  EXPECT_EQ(Run(0x323C, "0007"), Ok("08"));
  EXPECT_EQ(Run(0x3237, "0007"), Ok("777777"));
  EXPECT_EQ(Run(0x3237, "0005"), Status("3008"));
  EXPECT_EQ(Run(0x3238, "0007ABCDEF"), Ok());
  EXPECT_EQ(Run(0x3238, "0005ABCDEF"), Status("3008"));
  EXPECT_EQ(Run(0x323F, "00"), Ok("07"));
}

TEST_F(TypeZeroMemoryChipTest, At88sc1608AuthenticationOpensPasswordVerification) {
  Insert("0 at88sc1608 fused=1 auth=1 key=0011223344556677 ci=0102030405060708 pwd0=123456");
  // Before authentication a password is refused without costing a try.
  EXPECT_EQ(Run(0x3234, "00030000123456"), Status("6005"));
  EXPECT_EQ(Run(0x323C, "0000"), Ok("08"));
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"6003", "04"}));
  // Without an init the answer fails and costs nothing.
  EXPECT_EQ(Run(0x323E, "000000000000000000"), Status("6003"));
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"6003", "04"}));
  // A wrong answer costs an attempt.
  EXPECT_EQ(Run(0x323D, "00A0A1A2A3A4A5A6A7"), Ok());
  EXPECT_EQ(Run(0x323E, "00A1B28394E5F6C7D9"), Status("6003"));
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"6003", "03"}));
  // Q0 = A0..A7; Q1 = key ^ Ci ^ Q0: 00^01^A0 = A1, 11^02^A1 = B2,
  // 22^03^A2 = 83, 33^04^A3 = 94, 44^05^A4 = E5, 55^06^A5 = F6,
  // 66^07^A6 = C7, 77^08^A7 = D8.
  EXPECT_EQ(Run(0x323D, "00A0A1A2A3A4A5A6A7"), Ok());
  EXPECT_EQ(Run(0x323E, "00A1B28394E5F6C7D8"), Ok());
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"0000", "04"}));
  EXPECT_EQ(Control("cards"), "ok 0=at88sc1608:fused,authenticated");
  // Q1 is the card's next cryptogram.
  EXPECT_EQ(Dump("0 config 120 8"), "ok A1B28394E5F6C7D8");
  EXPECT_EQ(Run(0x3234, "00030000123456"), Ok());
  // The answer is good for one init only.
  EXPECT_EQ(Run(0x323E, "00A1B28394E5F6C7D8"), Status("6003"));
  // A card module reset ends the authentication.
  reader_->seats().ResetAll();
  EXPECT_EQ(Run(0x3234, "00030000123456"), Status("6005"));
}

TEST_F(TypeZeroMemoryChipTest, At88sc1608AuthenticationLocksAfterFourWrongAnswers) {
  Insert("0 at88sc1608 fused=1 auth=1");
  for (const char* status : {"6003", "6003", "6003", "3006"}) {
    ASSERT_EQ(Run(0x323D, "000000000000000000"), Ok());
    EXPECT_EQ(Run(0x323E, "000000000000000000"), Status(status));
  }
  EXPECT_EQ(Run(0x323D, "000000000000000000"), Status("3006"));
  EXPECT_EQ(Run(0x323C, "0010"), Answer({"3006", "00"}));
  // Without auth=1 the card takes passwords after the fuse without it.
  Insert("0 at88sc1608 fused=1 pwd0=123456");
  EXPECT_EQ(Run(0x3234, "00030000123456"), Ok());
}

TEST_F(TypeZeroMemoryChipTest, At88sc1608InitialisesItsSeedOnlyBeforeTheFuse) {
  Insert("0 at88sc1608");
  EXPECT_EQ(Run(0x3233, "00080102030405060708"), Ok());
  EXPECT_EQ(Run(0x3233, "0007010203040506"), Status("2005"));
  EXPECT_EQ(Run(0x3239, "00"), Ok());
  EXPECT_EQ(Run(0x3233, "00080102030405060708"), Status("3007"));
  EXPECT_NE(Dump("0").find(" key=0102030405060708 "), std::string::npos);
  // The other chips have no key.
  Insert("1 sle4442");
  EXPECT_EQ(Run(0x3233, "0103FFFFFF"), Status("2006"));
}

// ------------------------------------------------------------ control

TEST_F(MemoryChipTest, InsertSettingsAreChecked) {
  const std::string bad[] = {"insert 0 sle4442 psc=1234",        "insert 0 sle4442 tries=4",
                             "insert 0 sle4442 protect=32",      "insert 0 sle4442 protect=3-1",
                             "insert 0 sle4442 colour=red",      "insert 0 sle4442 psc",
                             "insert 0 sle4442 tries=1 tries=2", "insert 0 sle4428 psc=123456",
                             "insert 0 at24c02 data=ABC",        "insert 0 at24c01 data=" + std::string(2 * 129, 'A'),
                             "insert 0 at88sc102 pwd0=123456",   "insert 0 at88sc102 pwd3=1234",
                             "insert 0 at88sc1608 key=0102",     "insert 0 at88sc1608 pwd16=123456"};
  for (const std::string& line : bad) {
    EXPECT_EQ(Control(line).rfind("err ", 0), 0u) << line;
  }
  EXPECT_EQ(reader_->seats().Occupied(), 0);
  EXPECT_EQ(Control("insert 0 sle4442 protect=0-1,7,30-31"), "ok");
  EXPECT_EQ(Dump("0 protection 0 8"), "ok 0000010101010100");
}

TEST_F(MemoryChipTest, DumpShowsAreasAndRanges) {
  Insert("5 at24c02 data=0102030405");
  EXPECT_EQ(Dump("5 memory 1 3"), "ok 020304");
  EXPECT_EQ(Dump("5 memory 0x02 2"), "ok 0304");
  EXPECT_EQ(Dump("5 memory").size(), 3u + 512u);
  EXPECT_EQ(Dump("5 memory 255 2").rfind("err ", 0), 0u);
  EXPECT_EQ(Dump("5 protection").rfind("err no area 'protection'", 0), 0u);
  EXPECT_EQ(Dump("4").rfind("err seat 4 holds no memory chip", 0), 0u);
  EXPECT_EQ(Dump("5 memory 1").rfind("err usage", 0), 0u);
  Insert("6 at88sc1604");
  EXPECT_EQ(Dump("6 az2").size(), 3u + 512u);
  EXPECT_EQ(Dump("6 fz"), "ok 1604");
}

TEST(MemoryChipProcess, CardsInsertedAtStartUp) {
  SimProcess sim(KPDEV_SIM_PATH, {"--insert", "0 sle4442 psc=010203", "--insert", "2 at24c02 data=AA"});
  Control control(sim.control_port());
  EXPECT_EQ(control.Ok("cards"), "0=sle4442:tries=3 2=at24c02");
  EXPECT_EQ(control.Ok("dump 2 memory 0 1"), "AA");
}

TEST(MemoryChipProcess, ABadInsertStopsTheStart) {
  EXPECT_THROW(SimProcess(KPDEV_SIM_PATH, {"--insert", "0 sle4442 psc=01"}), SimError);
}

}  // namespace
}  // namespace kpsim
