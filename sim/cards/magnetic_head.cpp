#include "cards/magnetic_head.h"

#include <cstdlib>
#include <initializer_list>
#include <memory>

#include "core/frame.h"
#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

constexpr std::uint8_t kTrackSeparator = 0x41;                         // 'A' between the two tracks
constexpr std::uint8_t kNoData = 0x7F;                                 // stands for a track without data
constexpr std::uint8_t kWriteTail[] = {0x1D, kEsc, 0x5C, kEsc, 0x6A};  // GS ESC \ ESC j
// The longest track text a host puts into one write message (both texts
// and their separator together); a longer run without the tail is no write
// message.
constexpr std::size_t kMaxWriteText = 2071;

enum class Match { kNo, kPartial, kFull };

Match Prefix(const std::uint8_t* data, std::size_t size, std::initializer_list<std::uint8_t> pattern) {
  std::size_t i = 0;
  for (std::uint8_t expected : pattern) {
    if (i >= size) return Match::kPartial;
    if (data[i] != expected) return Match::kNo;
    ++i;
  }
  return Match::kFull;
}

class MagneticHeadProtocol : public RawProtocol {
 public:
  explicit MagneticHeadProtocol(std::shared_ptr<MagneticHead> head) : head_(std::move(head)) {}

  const char* Name() const override { return "magnetic head"; }
  bool Serves(const DeviceState& state) const override { return MagneticHead::OnLine(state); }

  ParseResult Parse(const std::uint8_t* data, std::size_t size, VirtualReader& reader) override {
    if (data[0] != kEsc) return ParseResult::NoMatch();
    if (size < 2) return ParseResult::NeedMore();
    switch (data[1]) {
      case 'a':
        Recognised(reader);
        head_->Reset();
        return ParseResult::Done(2);
      case '0':
        Recognised(reader);
        head_->Cancel();
        return ParseResult::Done(2);
      case 'B':
        if (size < 3) return ParseResult::NeedMore();
        if (data[2] != ']') return ParseResult::NoMatch();
        Recognised(reader);
        head_->ArmRead(reader);
        return ParseResult::Done(3);
      case '4': {
        const Match first = Prefix(data, size, {kEsc, '4', kEsc, 't'});
        const Match both = Prefix(data, size, {kEsc, '4', kEsc, 'T', '4', kEsc, 't'});
        if (first == Match::kFull) return WriteMessage(data, size, 4, HeadArm::kWriteFirst, reader);
        if (both == Match::kFull) return WriteMessage(data, size, 7, HeadArm::kWriteBoth, reader);
        if (first == Match::kPartial || both == Match::kPartial) return ParseResult::NeedMore();
        return ParseResult::NoMatch();
      }
      case 'T': {
        const Match second = Prefix(data, size, {kEsc, 'T', '4', kEsc, 't', kTrackSeparator});
        if (second == Match::kFull) return WriteMessage(data, size, 6, HeadArm::kWriteSecond, reader);
        return second == Match::kPartial ? ParseResult::NeedMore() : ParseResult::NoMatch();
      }
      default:
        return ParseResult::NoMatch();
    }
  }

 private:
  static void Recognised(VirtualReader& reader) { ++reader.state().counters.escapes; }

  // The track text runs from `start` to the tail GS ESC \ ESC j.
  ParseResult WriteMessage(const std::uint8_t* data, std::size_t size, std::size_t start, HeadArm arm,
                           VirtualReader& reader) {
    std::size_t end = start;
    for (;; ++end) {
      if (end - start > kMaxWriteText) return ParseResult::NoMatch();
      if (end >= size) return ParseResult::NeedMore();
      const Match tail =
          Prefix(data + end, size - end, {kWriteTail[0], kWriteTail[1], kWriteTail[2], kWriteTail[3], kWriteTail[4]});
      if (tail == Match::kFull) break;
      if (tail == Match::kPartial) return ParseResult::NeedMore();
    }
    const Bytes text(data + start, data + end);
    Bytes track1;
    Bytes track2;
    switch (arm) {
      case HeadArm::kWriteFirst:
        track1 = text;
        break;
      case HeadArm::kWriteSecond:
        track2 = text;
        break;
      default: {
        // The host joins the texts with 'A'.  The second track of a card
        // holds digits only, so the last 'A' is the separator even when the
        // first text carries letters.
        std::size_t separator = text.size();
        for (std::size_t i = text.size(); i > 0; --i) {
          if (text[i - 1] == kTrackSeparator) {
            separator = i - 1;
            break;
          }
        }
        track1.assign(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(separator));
        if (separator < text.size()) {
          track2.assign(text.begin() + static_cast<std::ptrdiff_t>(separator) + 1, text.end());
        }
        break;
      }
    }
    Recognised(reader);
    head_->ArmWrite(reader, arm, std::move(track1), std::move(track2));
    return ParseResult::Done(end + sizeof kWriteTail);
  }

  std::shared_ptr<MagneticHead> head_;
};

// "-" an empty track, "hex:..." bytes, anything else the word's own bytes.
bool ParseTrack(const std::string& word, Bytes* track, std::string* error) {
  if (word == "-") {
    track->clear();
    return true;
  }
  if (word.rfind("hex:", 0) == 0) {
    if (FromHex(word.substr(4), track)) return true;
    *error = "bad hex track '" + word + "'";
    return false;
  }
  track->assign(word.begin(), word.end());
  return true;
}

std::string TrackText(const Bytes& track) { return track.empty() ? "-" : ToHex(track); }

std::string CardText(const std::optional<MagneticCard>& card) {
  if (!card) return "none";
  return TrackText(card->track1) + "/" + TrackText(card->track2);
}

}  // namespace

const char* HeadArmName(HeadArm arm) {
  switch (arm) {
    case HeadArm::kIdle:
      return "idle";
    case HeadArm::kRead:
      return "read";
    case HeadArm::kWriteFirst:
      return "write1";
    case HeadArm::kWriteSecond:
      return "write2";
    case HeadArm::kWriteBoth:
      return "write12";
  }
  return "?";
}

bool MagneticHead::Present(const DeviceState& state) { return state.family != Family::kT0; }

bool MagneticHead::OnLine(const DeviceState& state) {
  if (!Present(state)) return false;
  return !IsMultiplexed(state.family) || state.module == Module::kMagnetic;
}

void MagneticHead::ArmRead(VirtualReader& reader) {
  arm_ = HeadArm::kRead;
  PassHeld(reader);
}

void MagneticHead::ArmWrite(VirtualReader& reader, HeadArm arm, Bytes track1, Bytes track2) {
  arm_ = arm;
  order_.track1 = std::move(track1);
  order_.track2 = std::move(track2);
  PassHeld(reader);
}

void MagneticHead::PassHeld(VirtualReader& reader) {
  if (!held_) return;
  const MagneticCard card = *held_;
  held_.reset();
  Swipe(reader, card);
}

bool MagneticHead::DropHeld() {
  const bool had = held_.has_value();
  held_.reset();
  return had;
}

Bytes MagneticHead::TrackStream(const MagneticCard& card) {
  // Room for both tracks up front: besides saving reallocations, GCC 12 at
  // -O3 otherwise reports a false array-bounds overflow when it inlines the
  // growth of the two-byte initial vector into insert().
  Bytes stream;
  stream.reserve(card.track1.size() + card.track2.size() + 7);
  stream.push_back(kEsc);
  stream.push_back('s');
  auto add_track = [&stream](const Bytes& track) {
    if (track.empty()) {
      stream.push_back(kNoData);
    } else {
      stream.insert(stream.end(), track.begin(), track.end());
    }
  };
  add_track(card.track1);
  stream.push_back(kTrackSeparator);
  add_track(card.track2);
  stream.push_back('?');
  stream.push_back(0x1C);  // FS
  return stream;
}

std::string MagneticHead::Swipe(VirtualReader& reader, const MagneticCard& card) {
  if (arm_ == HeadArm::kIdle || !OnLine(reader.state())) {
    held_ = card;
    return "held";
  }
  const HeadArm arm = arm_;
  arm_ = HeadArm::kIdle;
  const AnswerPlan plan = reader.PlanAnswer(AnswerKind::kRaw);
  last_ = card;
  if (plan.swallowed()) return "lost";
  if (arm == HeadArm::kRead) {
    reader.SendRaw(plan, TrackStream(card));
    return "read";
  }

  const bool fails = failing_writes_ > 0;
  if (fails) {
    --failing_writes_;
  } else {
    if (arm != HeadArm::kWriteSecond) last_->track1 = order_.track1;
    if (arm != HeadArm::kWriteFirst) last_->track2 = order_.track2;
  }
  Bytes confirmation{kEsc, 'w'};
  if (arm != HeadArm::kWriteFirst) confirmation.push_back('T');
  confirmation.push_back(fails ? 'q' : 'p');
  reader.SendRaw(plan, std::move(confirmation));
  return fails ? "write-failed" : "written";
}

void InstallMagneticHead(VirtualReader& reader) {
  auto head = std::make_shared<MagneticHead>();
  reader.stream().Add(std::make_unique<MagneticHeadProtocol>(head));

  reader.control().Register("swipe", "[TRACK1 [TRACK2]] | last (a track: text, hex:BYTES or -)",
                            [head](VirtualReader& r, const ControlRequest& request) {
                              if (!MagneticHead::Present(r.state())) return Err("this reader has no magnetic head");
                              const std::vector<std::string>& words = request.words;
                              if (words.size() > 2) return Err("usage: swipe [TRACK1 [TRACK2]] | last");
                              MagneticCard card;
                              if (words.size() == 1 && words[0] == "last") {
                                if (!head->last()) return Err("no card has passed the head yet");
                                card = *head->last();
                              } else {
                                std::string error;
                                if (!words.empty() && !ParseTrack(words[0], &card.track1, &error)) return Err(error);
                                if (words.size() > 1 && !ParseTrack(words[1], &card.track2, &error)) return Err(error);
                              }
                              return Ok(head->Swipe(r, card));
                            });

  reader.control().Register("head", "[fail-write [COUNT] | drop | swipe-on CODE [TRACK1 [TRACK2]]]",
                            [head](VirtualReader& r, const ControlRequest& request) {
                              const std::vector<std::string>& words = request.words;
                              if (words.empty()) {
                                return Ok(std::string("arm=") + HeadArmName(head->arm()) +
                                          " on_line=" + (MagneticHead::OnLine(r.state()) ? "1" : "0") +
                                          " held=" + CardText(head->held()) + " last=" + CardText(head->last()) +
                                          " fail_writes=" + std::to_string(head->failing_writes()));
                              }
                              if (words[0] == "drop" && words.size() == 1) {
                                if (!head->DropHeld()) return Err("no card is held at the head");
                                return Ok();
                              }
                              if (words[0] == "fail-write" && words.size() <= 2) {
                                long count = 1;
                                if (words.size() == 2) {
                                  char* end = nullptr;
                                  count = std::strtol(words[1].c_str(), &end, 10);
                                  if (words[1].empty() || *end != '\0' || count < 0 || count > 1000000) {
                                    return Err("bad count '" + words[1] + "'");
                                  }
                                }
                                head->FailNextWrites(static_cast<unsigned>(count));
                                return Ok();
                              }
                              if (words[0] == "swipe-on" && words.size() >= 2 && words.size() <= 4) {
                                // The card passes the head when the host's next frame with this
                                // command code arrives, before the frame is answered.
                                if (!MagneticHead::Present(r.state())) return Err("this reader has no magnetic head");
                                Bytes code;
                                if (words[1].size() != 4 || !FromHex(words[1], &code) || code.size() != 2) {
                                  return Err("bad command code '" + words[1] + "' (four hex digits)");
                                }
                                MagneticCard card;
                                std::string error;
                                if (words.size() > 2 && !ParseTrack(words[2], &card.track1, &error)) return Err(error);
                                if (words.size() > 3 && !ParseTrack(words[3], &card.track2, &error)) return Err(error);
                                const auto when = static_cast<std::uint16_t>(code[0] << 8 | code[1]);
                                r.OnNextFrame(when, [head, &r, card] { head->Swipe(r, card); });
                                return Ok();
                              }
                              return Err("usage: head [fail-write [COUNT] | drop | swipe-on CODE [TRACK1 [TRACK2]]]");
                            });
}

}  // namespace kpsim
