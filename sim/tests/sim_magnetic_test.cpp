// The magnetic head in-process: the sequences it hears on the t1 reader's
// module B and on the t61 reader, the byte stream of a swipe, write
// confirmations, what a write changes on the card, and when a swipe waits.

#include <gtest/gtest.h>

#include "core/virtual_reader.h"

namespace kpsim {
namespace {

const Bytes kArm{0x1B, 0x42, 0x5D};  // ESC B ]
const Bytes kCancel{0x1B, 0x30};     // ESC 0
const Bytes kReset{0x1B, 0x61};      // ESC a
const Bytes kTail{0x1D, 0x1B, 0x5C, 0x1B, 0x6A};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes WriteFirst(const std::string& t1) { return Join({{0x1B, 0x34, 0x1B, 0x74}, Text(t1), kTail}); }
Bytes WriteSecond(const std::string& t2) { return Join({{0x1B, 0x54, 0x34, 0x1B, 0x74, 0x41}, Text(t2), kTail}); }
Bytes WriteBoth(const std::string& t1, const std::string& t2) {
  return Join({{0x1B, 0x34, 0x1B, 0x54, 0x34, 0x1B, 0x74}, Text(t1), {0x41}, Text(t2), kTail});
}

class HeadTest : public ::testing::Test {
 protected:
  explicit HeadTest(Family family = Family::kT1) : reader_(Options(family)) {
    if (family == Family::kT1) reader_.state().module = Module::kMagnetic;
  }
  static ReaderOptions Options(Family family) {
    ReaderOptions options;
    options.family = family;
    return options;
  }
  Bytes Send(const Bytes& bytes) {
    reader_.OnHostBytes(bytes.data(), bytes.size(), 9600, now_);
    return reader_.Service(9600, now_);
  }
  // A control request and whatever it put on the line.
  std::pair<std::string, Bytes> Swipe(const std::string& words) {
    std::string reply = reader_.HandleControl("swipe" + (words.empty() ? "" : " " + words));
    return {reply, reader_.Service(9600, now_)};
  }
  std::string Control(const std::string& line) { return reader_.HandleControl(line); }

  VirtualReader reader_;
  TimePoint now_{};
};

TEST_F(HeadTest, ArmedHeadSendsBothTracksWithFramingAndGoesIdle) {
  EXPECT_TRUE(Send(kArm).empty());  // arming is not answered
  // Tracks ";1234?" and ";5678?": ESC s, track 1, A, track 2, ? FS.
  EXPECT_EQ(Swipe(";1234? ;5678?"),
            std::make_pair(std::string("ok read"), Bytes{0x1B, 0x73, 0x3B, 0x31, 0x32, 0x33, 0x34, 0x3F, 0x41, 0x3B,
                                                         0x35, 0x36, 0x37, 0x38, 0x3F, 0x3F, 0x1C}));
  // One pass per arm: the next card waits.
  EXPECT_EQ(Swipe(";1234? ;5678?"), std::make_pair(std::string("ok held"), Bytes{}));
  EXPECT_EQ(Control("head"),
            "ok arm=idle on_line=1 held=3B313233343F/3B353637383F last=3B313233343F/3B353637383F "
            "fail_writes=0");
}

TEST_F(HeadTest, EmptyTracksAreSentAsDel) {
  struct Case {
    const char* words;
    Bytes stream;
  };
  const Case cases[] = {
      {"B12", {0x1B, 0x73, 0x42, 0x31, 0x32, 0x41, 0x7F, 0x3F, 0x1C}},
      // A blank card: seven bytes.
      {"", {0x1B, 0x73, 0x7F, 0x41, 0x7F, 0x3F, 0x1C}},
      {"hex:0102 hex:41", {0x1B, 0x73, 0x01, 0x02, 0x41, 0x41, 0x3F, 0x1C}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    Send(kArm);
    EXPECT_EQ(Swipe(c.words), std::make_pair(std::string("ok read"), c.stream));
  }
}

TEST_F(HeadTest, CardSwipedBeforeTheArmPassesAtTheArm) {
  EXPECT_EQ(Swipe("12 34").first, "ok held");
  EXPECT_EQ(Send(kArm), (Bytes{0x1B, 0x73, 0x31, 0x32, 0x41, 0x33, 0x34, 0x3F, 0x1C}));
  EXPECT_EQ(Control("head").rfind("ok arm=idle on_line=1 held=none ", 0), 0u);

  // Cancel and reset disarm; nothing goes on the line.
  for (const Bytes& disarm : {kCancel, kReset}) {
    Send(kArm);
    EXPECT_TRUE(Send(disarm).empty());
    EXPECT_EQ(Swipe("12 34"), std::make_pair(std::string("ok held"), Bytes{}));
    EXPECT_EQ(Control("head drop"), "ok");
    EXPECT_EQ(Control("head drop"), "err no card is held at the head");
    EXPECT_TRUE(Send(kArm).empty());
    Send(kCancel);
  }
  EXPECT_EQ(reader_.state().counters.escapes, 9u);
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 0u);
}

TEST_F(HeadTest, OnTheT1ReaderTheHeadHearsTheLineOnlyInModuleB) {
  reader_.state().module = Module::kIc;
  EXPECT_TRUE(Send(kArm).empty());
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 3u);
  EXPECT_EQ(Swipe("1 2"), std::make_pair(std::string("ok held"), Bytes{}));
  // ESC $ B routes the line to the head; the held card passes at the arm.
  EXPECT_EQ(Send({0x1B, 0x24, 0x42}), (Bytes{0x1B, 0x30}));
  EXPECT_EQ(Send(kArm), (Bytes{0x1B, 0x73, 0x31, 0x41, 0x32, 0x3F, 0x1C}));

  reader_.SetFamily(Family::kT0);
  EXPECT_EQ(Control("swipe 1 2"), "err this reader has no magnetic head");
}

TEST_F(HeadTest, WritesAnswerWithConfirmationAndChangeTheSwipedCard) {
  struct Case {
    const char* name;
    Bytes message;
    Bytes confirmation;
    const char* card_after;  // "swipe last" words that read the same stream
  };
  const Case cases[] = {
      {"first", WriteFirst("%B1^X?"), {0x1B, 0x77, 0x70}, "%B1^X? ;99?"},
      {"second", WriteSecond(";5=1?"), {0x1B, 0x77, 0x54, 0x70}, "%OLD? ;5=1?"},
      {"both", WriteBoth("%AB?", ";77?"), {0x1B, 0x77, 0x54, 0x70}, "%AB? ;77?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Sent in two pieces split inside the tail: the message waits for its end.
    const std::size_t cut = c.message.size() - 3;
    EXPECT_TRUE(Send(Bytes(c.message.begin(), c.message.begin() + static_cast<std::ptrdiff_t>(cut))).empty());
    EXPECT_TRUE(Send(Bytes(c.message.begin() + static_cast<std::ptrdiff_t>(cut), c.message.end())).empty());
    EXPECT_EQ(Swipe("%OLD? ;99?"), std::make_pair(std::string("ok written"), c.confirmation));

    Send(kArm);
    const Bytes read_back = Swipe("last").second;
    Send(kArm);
    EXPECT_EQ(read_back, Swipe(c.card_after).second);
  }
  EXPECT_EQ(reader_.state().counters.ignored_bytes, 0u);
}

TEST_F(HeadTest, BothTrackTextIsSplitAtItsLastSeparator) {
  Send(WriteBoth("%ABA^Z?", ";1?"));
  Swipe("");
  EXPECT_NE(Control("head").find(" last=254142415E5A3F/3B313F "), std::string::npos);
}

TEST_F(HeadTest, FailedWriteAnswersQAndLeavesTheCardAlone) {
  EXPECT_EQ(Control("head fail-write 2"), "ok");
  Send(WriteFirst("NEW"));
  EXPECT_EQ(Swipe("OLD -"), std::make_pair(std::string("ok write-failed"), Bytes{0x1B, 0x77, 0x71}));
  Send(WriteSecond("NEW"));
  EXPECT_EQ(Swipe("last"), std::make_pair(std::string("ok write-failed"), Bytes{0x1B, 0x77, 0x54, 0x71}));
  // The count is spent: the third write succeeds.
  Send(WriteBoth("N1", "N2"));
  EXPECT_EQ(Swipe("last").first, "ok written");
  EXPECT_EQ(Control("head").substr(Control("head").find(" last=")), " last=4E31/4E32 fail_writes=0");

  EXPECT_EQ(Control("head fail-write x").rfind("err ", 0), 0u);
  EXPECT_EQ(Control("head bogus").rfind("err ", 0), 0u);
  EXPECT_EQ(Control("swipe 1 2 3").rfind("err ", 0), 0u);
  EXPECT_EQ(Control("swipe hex:123").rfind("err ", 0), 0u);
}

TEST_F(HeadTest, FaultsShapeTheSwipeAndASilentOneLosesTheWrite) {
  Control("fault short");
  Send(kArm);
  // Half of the nine bytes.
  EXPECT_EQ(Swipe("12 34").second, (Bytes{0x1B, 0x73, 0x31, 0x32}));

  Send(WriteFirst("NEW"));
  Control("fault silent");
  EXPECT_EQ(Swipe("OLD -"), std::make_pair(std::string("ok lost"), Bytes{}));
  EXPECT_EQ(Control("head").substr(Control("head").find(" last=")), " last=4F4C44/- fail_writes=0");
}

}  // namespace
}  // namespace kpsim
