#include "core/faults.h"

#include <cstdlib>

#include "wire/bytes.h"

namespace kpsim {

namespace {

struct KindInfo {
  FaultKind kind;
  const char* name;
  enum { kNoArg, kHexWord, kMillis, kChar } arg;
};

constexpr KindInfo kKinds[] = {
    {FaultKind::kSilent, "silent", KindInfo::kNoArg},      {FaultKind::kNonStx, "nonstx", KindInfo::kNoArg},
    {FaultKind::kBadEtx, "badetx", KindInfo::kNoArg},      {FaultKind::kShort, "short", KindInfo::kNoArg},
    {FaultKind::kStatus, "status", KindInfo::kHexWord},    {FaultKind::kDelay, "delay", KindInfo::kMillis},
    {FaultKind::kOversize, "oversize", KindInfo::kNoArg},  {FaultKind::kGarbage, "garbage", KindInfo::kNoArg},
    {FaultKind::kBadChecksum, "badsum", KindInfo::kNoArg}, {FaultKind::kModuleReply, "modreply", KindInfo::kChar},
};

bool ParseUnsigned(const std::string& text, int base, unsigned long limit, unsigned* value) {
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, base);
  if (*end != '\0' || text[0] == '-' || text[0] == '+' || parsed > limit) return false;
  *value = static_cast<unsigned>(parsed);
  return true;
}

}  // namespace

const char* FaultName(FaultKind kind) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == kind) return info.name;
  }
  return "?";
}

bool FaultAppliesTo(FaultKind kind, AnswerKind answer) {
  switch (kind) {
    case FaultKind::kSilent:
    case FaultKind::kShort:
    case FaultKind::kDelay:
    case FaultKind::kGarbage:
      return true;
    case FaultKind::kNonStx:
    case FaultKind::kBadEtx:
    case FaultKind::kStatus:
    case FaultKind::kOversize:
    case FaultKind::kBadChecksum:
      return answer == AnswerKind::kFrame;
    case FaultKind::kModuleReply:
      return answer == AnswerKind::kModuleReply;
  }
  return false;
}

bool ParseFault(const std::vector<std::string>& words, Fault* fault, std::string* error) {
  if (words.empty()) {
    *error = "usage: fault KIND [ARG] [COUNT] | fault clear";
    return false;
  }
  const KindInfo* info = nullptr;
  for (const KindInfo& candidate : kKinds) {
    if (words[0] == candidate.name) info = &candidate;
  }
  if (info == nullptr) {
    *error = "unknown fault '" + words[0] + "'";
    return false;
  }
  Fault parsed;
  parsed.kind = info->kind;
  std::size_t next = 1;
  if (info->arg != KindInfo::kNoArg) {
    if (words.size() < 2) {
      *error = std::string("fault ") + info->name + " needs an argument";
      return false;
    }
    const std::string& arg = words[1];
    bool ok = false;
    switch (info->arg) {
      case KindInfo::kHexWord:
        ok = arg.size() == 4 && ParseUnsigned(arg, 16, 0xFFFF, &parsed.param);
        break;
      case KindInfo::kMillis:
        ok = ParseUnsigned(arg, 10, 600000, &parsed.param);
        break;
      case KindInfo::kChar:
        ok = arg.size() == 1;
        parsed.param = static_cast<unsigned char>(arg[0]);
        break;
      case KindInfo::kNoArg:
        break;
    }
    if (!ok) {
      *error = std::string("bad argument '") + arg + "' for fault " + info->name;
      return false;
    }
    next = 2;
  }
  if (words.size() > next + 1) {
    *error = "too many words";
    return false;
  }
  if (words.size() == next + 1) {
    if (!ParseUnsigned(words[next], 10, 1000000, &parsed.remaining) || parsed.remaining == 0) {
      *error = "bad count '" + words[next] + "'";
      return false;
    }
  }
  *fault = parsed;
  return true;
}

std::optional<Fault> FaultPlan::TakeShape(AnswerKind answer) {
  for (auto it = armed_.begin(); it != armed_.end(); ++it) {
    if (it->kind == FaultKind::kDelay || !FaultAppliesTo(it->kind, answer)) continue;
    Fault taken = *it;
    if (--it->remaining == 0) armed_.erase(it);
    return taken;
  }
  return std::nullopt;
}

unsigned FaultPlan::TakeDelay(AnswerKind answer) {
  for (auto it = armed_.begin(); it != armed_.end(); ++it) {
    if (it->kind != FaultKind::kDelay || !FaultAppliesTo(it->kind, answer)) continue;
    const unsigned ms = it->param;
    if (--it->remaining == 0) armed_.erase(it);
    return ms;
  }
  return 0;
}

std::string FaultPlan::Describe() const {
  if (armed_.empty()) return "none";
  std::string text;
  for (const Fault& fault : armed_) {
    if (!text.empty()) text += ',';
    text += FaultName(fault.kind);
    switch (fault.kind) {
      case FaultKind::kStatus: {
        text += '=';
        for (int shift = 12; shift >= 0; shift -= 4)
          text += kp::wire::HexDigit(static_cast<unsigned>(fault.param >> shift));
        break;
      }
      case FaultKind::kDelay:
        text += '=' + std::to_string(fault.param);
        break;
      case FaultKind::kModuleReply:
        text += '=';
        text += static_cast<char>(fault.param);
        break;
      default:
        break;
    }
    text += ':' + std::to_string(fault.remaining);
  }
  return text;
}

}  // namespace kpsim
