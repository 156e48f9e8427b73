// What comes in from a reader, cut into units without a line: each unit ends
// where its announced length or its end mark says, a module reply or a text
// only when one is owed, and bytes that begin no unit are noise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/inbound.h"

namespace {

using kp::InboundParser;
using kp::Unit;

std::vector<std::uint8_t> Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

const char* Name(Unit u) {
  switch (u) {
    case Unit::kFrame:
      return "frame";
    case Unit::kModuleReply:
      return "reply";
    case Unit::kText:
      return "text";
    case Unit::kIdentity:
      return "identity";
    case Unit::kSwipe:
      return "swipe";
    case Unit::kHeadReply:
      return "head-reply";
    case Unit::kNone:
    default:
      return "none";
  }
}

// The units completed, each with the count of bytes fed up to it, then
// "open" when a unit is still under way, then the noise count.
std::string Parse(Unit owed, const std::string& hex) {
  InboundParser parser(owed);
  std::string out;
  std::size_t fed = 0;
  for (std::uint8_t b : Bytes(hex)) {
    ++fed;
    const Unit u = parser.Feed(b);
    if (u != Unit::kNone) out += std::string(Name(u)) + "@" + std::to_string(fed) + " ";
  }
  if (parser.Open()) out += "open ";
  return out + "noise " + std::to_string(parser.TakeNoise());
}

TEST(Inbound, UnitsEndWhereTheyAnnounce) {
  const struct {
    Unit owed;
    const char* bytes;
    const char* units;
  } kCases[] = {
      // An answer frame, L = 2 (status 0000): 5 + 4 + 3 bytes; only the low
      // four bits of the length characters count.
      {Unit::kFrame, "02 30 30 30 32 30 30 30 30 30 30 03", "frame@12 noise 0"},
      {Unit::kNone, "02 40 40 40 42 30 30 30 30 30 30 03", "frame@12 noise 0"},
      // Its end is by length: a wrong ETX does not extend it.
      {Unit::kNone, "02 30 30 30 32 30 30 30 30 3F 3F 04 02", "frame@12 open noise 0"},
      // Noise before a frame (the device's 06), and a frame cut short.
      {Unit::kFrame, "06 02 30 30 30 32 30 30 30 30 30 30 03", "frame@13 noise 1"},
      {Unit::kFrame, "02 30 30 30 32 30 30", "open noise 0"},
      // Module replies: ESC and one byte, only when one is owed.
      {Unit::kModuleReply, "1B 30", "reply@2 noise 0"},
      {Unit::kModuleReply, "1B 31 1B 30", "reply@2 noise 2"},
      {Unit::kNone, "1B 30", "noise 2"},
      // The head's track data up to FS, and its write outcomes; they need no
      // owing, and ESC s is track data even while a reply is owed.
      {Unit::kNone, "1B 73 3B 31 41 3B 32 3F 1C", "swipe@9 noise 0"},
      {Unit::kModuleReply, "1B 73 7F 41 7F 3F 1C 1B 32", "swipe@7 reply@9 noise 0"},
      {Unit::kNone, "1B 77 70 1B 77 54 71", "head-reply@3 head-reply@7 noise 0"},
      {Unit::kNone, "1B 77 54 54", "noise 4"},
      // A text only when owed, up to its NUL.
      {Unit::kText, "4B 50 2D 36 31 00 4B", "text@6 noise 1"},
      {Unit::kNone, "4B 50 00", "noise 3"},
      // Identity-module frames by their 16-bit length; a broken preamble is
      // noise and the byte that broke it is looked at afresh.
      {Unit::kIdentity, "AA AA AA 96 69 00 02 00 97", "identity@9 noise 0"},
      {Unit::kNone, "AA AA 02 30 30 30 32 30 30 30 30 30 30 03", "frame@14 noise 2"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Parse(c.owed, c.bytes), c.units) << c.bytes;
  }
}

TEST(Inbound, TrackDataKeptWholeAndBounded) {
  InboundParser parser;
  const std::vector<std::uint8_t> swipe = Bytes("1B 73 3B 31 32 41 3B 33 3F 1C");
  for (std::size_t i = 0; i + 1 < swipe.size(); ++i) EXPECT_EQ(parser.Feed(swipe[i]), Unit::kNone);
  ASSERT_EQ(parser.Feed(swipe.back()), Unit::kSwipe);
  EXPECT_EQ(parser.headUnit(), swipe);

  // Track data that never ends stops at the head's 512 bytes.
  parser.Feed(0x1B);
  parser.Feed('s');
  std::size_t fed = 2;
  Unit u = Unit::kNone;
  while (u == Unit::kNone && fed < 1000) {
    u = parser.Feed('7');
    ++fed;
  }
  EXPECT_EQ(u, Unit::kSwipe);
  EXPECT_EQ(fed, kp::kMaxHeadUnit);

  // A unit abandoned halfway is noise.
  parser.Feed(0x02);
  parser.Feed(0x30);
  EXPECT_TRUE(parser.Open());
  parser.Abandon();
  EXPECT_FALSE(parser.Open());
  EXPECT_EQ(parser.TakeNoise(), 2u);
}

}  // namespace
