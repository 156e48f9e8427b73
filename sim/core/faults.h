// Faults the control interface arms for the next answers.
//
// Every armed fault waits for an answer it applies to.  Faults are kept in
// the order they were armed and the oldest applicable one shapes the next
// answer, so "fault nonstx" followed by "fault badetx" corrupts two answers
// in that order.  A delay is independent: it postpones an answer and may
// come on top of one shaping fault.  Requests that get no answer (buzzer
// frames) never consume a fault.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kpsim {

enum class FaultKind {
  kSilent,       // request dropped: not executed, not answered
  kNonStx,       // a stray 0x06 before the answer frame
  kBadEtx,       // answer frame ends in 0x04 instead of ETX
  kShort,        // only the first part of the answer, then nothing
  kStatus,       // frame refused with the given status word, not executed
  kDelay,        // answer held back for the given milliseconds
  kOversize,     // answer frame announcing and carrying a 1040-byte body
  kGarbage,      // line noise instead of the answer
  kBadChecksum,  // answer frame with a wrong checksum
  kModuleReply,  // module escape refused with ESC and the given character
};

// What kind of answer a fault is offered to.
enum class AnswerKind {
  kFrame,        // answer frame to a command frame
  kModuleReply,  // ESC x reply to a module escape sequence
  kRaw,          // any other raw answer (version text, later protocols)
};

struct Fault {
  FaultKind kind = FaultKind::kSilent;
  unsigned param = 0;  // status word, delay in ms, or reply character
  unsigned remaining = 1;
};

const char* FaultName(FaultKind kind);
bool FaultAppliesTo(FaultKind kind, AnswerKind answer);

// Parses the words after "fault": KIND [ARG] [COUNT].  false with a reason.
bool ParseFault(const std::vector<std::string>& words, Fault* fault, std::string* error);

class FaultPlan {
 public:
  void Arm(const Fault& fault) { armed_.push_back(fault); }
  void Clear() { armed_.clear(); }
  bool empty() const { return armed_.empty(); }

  // The oldest armed shaping fault that applies to this answer, consumed.
  std::optional<Fault> TakeShape(AnswerKind answer);
  // The delay armed for this answer in ms (0 if none), consumed.
  unsigned TakeDelay(AnswerKind answer);

  // "silent:2,delay=500:1", or "none".
  std::string Describe() const;

 private:
  std::vector<Fault> armed_;
};

}  // namespace kpsim
