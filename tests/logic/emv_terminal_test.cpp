// The tag search of ICCardFindSubStr (byte alignment, declared lengths, the
// Track 2 length rule, what lands in the value text) and the terminal's
// answer to a card's PDOL.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "kp_dev.h"
#include "logic/emv_card_data.h"
#include "services/emv.h"

namespace {

using emvtest::Today;

kp::Bytes Bytes(const std::string& hex) {
  kp::Bytes out;
  kp::wire::FromHex(hex, &out);
  return out;
}

// Runs the export on text and returns the value text; the value buffer
// starts filled with 'x' (the search writes no terminator).
struct Found {
  int result;
  std::string value;  // up to the first 'x'
  char after;         // the character after the value
};

Found Find(const std::string& text, const char* tag) {
  char value[600];
  std::memset(value, 'x', sizeof value);
  const int r = ICCardFindSubStr(text.c_str(), tag, value);
  const std::size_t n = std::string(value, sizeof value).find('x');
  return {r, std::string(value, n), value[n]};
}

TEST(FindSubStrTest, ValueOfTheFirstAlignedElementThatFits) {
  const Found f = Find("6F0A8408A0000003330101019000", "84");
  EXPECT_EQ(f.result, 0);
  EXPECT_EQ(f.value, "A000000333010101");
  EXPECT_EQ(f.after, 'x');  // nothing written after the value

  // 57 at offset 1 starts no byte; the one at offset 4 does.
  const std::string track2 = "6212345678901234D25121010000000F";
  EXPECT_EQ(Find("A5705710" + track2 + "9000", "57").value, track2);

  // A length running past the end of the text: the element is skipped and
  // the search goes on behind its start.
  EXPECT_EQ(Find("9F10099F100211229000", "9F10").value, "1122");

  // A tag standing inside another element's value at an even offset counts.
  EXPECT_EQ(Find("9F1F05AA9F3601BB", "9F36").value, "BB");
}

TEST(FindSubStrTest, TrackTwoLengthRule) {
  const std::string seven = "5707" + std::string(14, '1');
  const std::string eight = "5708" + std::string(16, '2');
  EXPECT_EQ(Find(seven + eight, "57").value, std::string(16, '2'));
  const std::string twentySix = "571A" + std::string(52, '3');
  const std::string twentyFive = "5719" + std::string(50, '4');
  EXPECT_EQ(Find(twentySix + twentyFive, "57").value, std::string(50, '4'));
  // Other tags have no such rule.
  EXPECT_EQ(Find("5A0112", "5A").value, "12");
  // A tag text containing 57 is held to it as well.
  EXPECT_EQ(Find("9F5702AABB", "9F57").result, -9);
}

TEST(FindSubStrTest, NotFoundLeavesTheValueAlone) {
  const struct {
    const char* text;
    const char* tag;
  } cases[] = {{"6A82", "57"}, {"A5705", "57"}, {"0570088", "57"}, {"57081122334455667788", "5F34"}};
  for (const auto& c : cases) {
    const Found f = Find(c.text, c.tag);
    EXPECT_EQ(f.result, -9) << c.text;
    EXPECT_EQ(f.value, "") << c.text;
  }
  EXPECT_EQ(Find("5A0112", "").result, -9);
  EXPECT_EQ(ICCardFindSubStr(nullptr, "57", nullptr), -9);

  // Only the first 4095 characters of a text are searched: an element
  // within them is found, one that reaches character 4096 is not.
  const std::string inside = std::string(4088, '0') + "5A0112";  // 4094 characters
  EXPECT_EQ(Find(inside, "5A").value, "12");
  const std::string across = std::string(4090, '0') + "5A0112";  // 4096 characters
  EXPECT_EQ(Find(across, "5A").result, -9);
}

// The services search the card's answer as bytes: on the hex text of those
// bytes the text search above must find the same value, or none.
TEST(FindSubStrTest, SearchOnBytesFindsWhatTheTextSearchFinds) {
  const std::string track2 = "6212345678901234D25121010000000F";
  const std::pair<std::string, std::string> cases[] = {
      {"6F0A8408A0000003330101019000", "84"},
      {"A5705710" + track2 + "9000", "57"},
      {"9F10099F100211229000", "9F10"},
      {"9F1F05AA9F3601BB", "9F36"},
      {"5707" + std::string(14, '1') + "5708" + std::string(16, '2'), "57"},
      {"571A" + std::string(52, '3') + "5719" + std::string(50, '4'), "57"},
      {"9F5702AABB", "9F57"},
      {"6A82", "57"},
      {"57081122334455667788", "5F34"},
      {"A5", "A5"},
      {std::string(4088, '0') + "5A0112", "5A"},
      {std::string(4090, '0') + "5A0112", "5A"},
  };
  for (const auto& [text, tag] : cases) {
    const std::optional<std::string_view> inText = kp::FindTagValue(text, tag);
    const std::optional<kp::Bytes> inBytes = kp::FindTagValue(Bytes(text), Bytes(tag));
    ASSERT_EQ(inBytes.has_value(), inText.has_value()) << text << " " << tag;
    if (inText) {
      EXPECT_EQ(kp::ToHex(*inBytes), *inText) << text << " " << tag;
    }
  }
  EXPECT_FALSE(kp::FindTagValue(Bytes("5A0112"), kp::Bytes{}));
}

TEST(AnswerPdolTest, TerminalValuesInListOrder) {
  std::string answer = "keep";
  ASSERT_EQ(kp::AnswerPdol(emvtest::SelectAnswer(), &answer), 0);
  EXPECT_EQ(answer, "keep" + emvtest::PdolData());

  // Tags the terminal does not know get zeros of the asked length; one-byte
  // tags after two-byte ones are recognised.
  answer.clear();
  ASSERT_EQ(kp::AnswerPdol("9F380BDF600395059F1A02DF7101", &answer), 0);
  EXPECT_EQ(answer,
            "000000"
            "8000000000"
            "0156"
            "00");
}

TEST(AnswerPdolTest, LengthsOtherThanTheTerminalValue) {
  // Numeric values keep their rightmost digits or get leading zeros; other
  // values keep their leading bytes or get trailing zeros.
  std::string answer;
  ASSERT_EQ(kp::AnswerPdol("9F380C9F0204"
                           "9F1A03"
                           "9F6602"
                           "9F6606",
                           &answer),
            0);
  EXPECT_EQ(answer,
            "00000000"
            "000156"
            "6440"
            "644000000000");
  answer.clear();
  ASSERT_EQ(kp::AnswerPdol("9F38029A02", &answer), 0);
  EXPECT_EQ(answer, Today().substr(2));
}

TEST(AnswerPdolTest, MissingOrCutLists) {
  std::string answer = "keep";
  EXPECT_EQ(kp::AnswerPdol("6F0A8408A0000003330101019000", &answer), -1);
  EXPECT_EQ(answer, "keep");

  // The list is cut by the end of the text: complete entries are answered,
  // the cut one is not.
  answer.clear();
  ASSERT_EQ(kp::AnswerPdol("9F38099F66049F02", &answer), 0);
  EXPECT_EQ(answer, "64400000");
  // A list shorter than the text: what follows it is not read as entries.
  answer.clear();
  ASSERT_EQ(kp::AnswerPdol("9F38039F66049F02069000", &answer), 0);
  EXPECT_EQ(answer, "64400000");
}

}  // namespace
