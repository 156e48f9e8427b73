// The chained APDU exchange: which status words fetch the real answer with
// one follow-up command, what that command is, that the follow-up is never
// chained again, and what the caller's response text and result are.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wire/emv_card.h"

namespace {

using namespace emvtest;

class ApduChainTest : public CardTest {
 protected:
  ApduChainTest() : CardTest(3) {}
  // One chained exchange on the contact seat; the response text starts
  // filled with 'x' to show what the call wrote.
  int Send(const std::string& command, int seat = 0, int length = 0) {
    std::memset(response_, 'x', sizeof response_);
    response_[sizeof response_ - 1] = '\0';
    return KP_DEV_IC_SendApdu_A(h_, seat, 0, command.c_str(), length, response_);
  }
  char response_[512];
};

TEST_F(ApduChainTest, FollowUpCommandPerStatusWord) {
  const char kFinal[] = "6F0A8408A0000003330101019000";
  const struct {
    const char* command;
    const char* first;     // the card's first answer
    const char* followUp;  // the command that must follow, or nullptr
  } cases[] = {
      {"00A4040008A000000333010101", "6110", "00C0000010"},
      {"00A4040008A000000333010101", "6100", "00C0000000"},
      {"00B2010C00", "6C1D", "00B2010C1D"},
      {"00B2010C00", "6283", "00C0000000"},
      {"00B2010C00", "63C2", "00C0000000"},
      {"80CA9F1300", "6300", "00C0000000"},
      // Status words that end the exchange.
      {"00B2010C00", "6F00A5009000", nullptr},
      {"00B2010C00", "6A82", nullptr},
      {"00B2010C00", "6281", nullptr},
      {"00B2010C00", "9000", nullptr},
      {"00B2010C00", "6985", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Card(dev_, c.first);
    if (c.followUp != nullptr) Card(dev_, kFinal);
    ASSERT_EQ(Send(c.command), 0);
    // The follow-up's answer replaces the first one.
    EXPECT_STREQ(response_, c.followUp != nullptr ? kFinal : c.first);
    EXPECT_EQ(Sent(), c.followUp != nullptr ? Apdus(0, {c.command, c.followUp}) : Apdus(0, {c.command}));
  }
}

TEST_F(ApduChainTest, OneLevelOnlyAndArgumentsPassedOn) {
  // The follow-up asks for yet another GET RESPONSE: not sent, its answer
  // stands with result 0.  Seat 255 goes to both commands, and the length
  // argument of the export has no effect.
  Card(dev_, "6110");
  Card(dev_, "6108");
  ASSERT_EQ(Send("00A4040008A000000333010101", 255, 3), 0);
  EXPECT_STREQ(response_, "6108");
  EXPECT_EQ(Sent(), Apdus(255, {"00A4040008A000000333010101", "00C0000010"}));

  // An answer too short to hold a status word asks for nothing.
  Card(dev_, "61");
  ASSERT_EQ(Send("0084000008", 0, -1), 0);
  EXPECT_STREQ(response_, "61");
  EXPECT_EQ(Sent(), Apdus(0, {"0084000008"}));
}

TEST_F(ApduChainTest, ErrorsOfEitherExchange) {
  // A device error on the first command: no follow-up, the error is the
  // result, and the exchange is logged with the empty response it left.
  dev_.ReplyFrame(0x1004);
  EXPECT_EQ(Send("00B2020C00"), -307);
  EXPECT_STREQ(response_, "");
  EXPECT_EQ(Sent(), Apdus(0, {"00B2020C00"}));

  // A device error on the follow-up is returned too.
  Card(dev_, "6C1D");
  dev_.ReplyFrame(0x2007);
  EXPECT_EQ(Send("00B2010C00"), -321);
  EXPECT_EQ(Sent(), Apdus(0, {"00B2010C00", "00B2010C1D"}));

  // Only the first exchange of each call is logged, with what it answered.
  const std::string log = log_.Text();
  EXPECT_NE(log.find("| SendApdu 00B2020C00-->\n"), std::string::npos) << log;
  EXPECT_NE(log.find("| SendApdu 00B2010C00-->6C1D\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("00B2010C1D"), std::string::npos) << log;
}

TEST_F(ApduChainTest, HandleWithoutReader) {
  // Nothing is sent; the response text is emptied rather than left holding
  // an answer that no card gave.
  std::memset(response_, 'x', sizeof response_);
  EXPECT_EQ(KP_DEV_IC_SendApdu_A(h_ + 1, 0, 0, "0084000008", 5, response_), 0);
  EXPECT_EQ(response_[0], '\0');
  EXPECT_EQ(response_[1], 'x');
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
