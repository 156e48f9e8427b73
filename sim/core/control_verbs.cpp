#include "core/control_verbs.h"

namespace kpsim {

std::string Ok(const std::string& text) { return text.empty() ? "ok" : "ok " + text; }

std::string Err(const std::string& reason) {
  std::string line = "err " + reason;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

void ControlVerbs::Register(const std::string& verb, std::string usage, ControlHandler handler) {
  verbs_[verb] = Entry{std::move(usage), std::move(handler)};
}

ControlRequest ControlVerbs::Split(const std::string& line) {
  ControlRequest request;
  std::size_t at = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (at < line.size() && blank(line[at])) ++at;
  bool first = true;
  while (at < line.size()) {
    std::size_t end = at;
    while (end < line.size() && !blank(line[end])) ++end;
    if (first) {
      request.verb = line.substr(at, end - at);
      if (end < line.size()) request.rest = line.substr(end + 1);
      first = false;
    } else {
      request.words.push_back(line.substr(at, end - at));
    }
    at = end;
    while (at < line.size() && blank(line[at])) ++at;
  }
  return request;
}

std::string ControlVerbs::Handle(VirtualReader& reader, const std::string& line) const {
  const ControlRequest request = Split(line);
  if (request.verb.empty()) return Err("empty request");
  const auto it = verbs_.find(request.verb);
  if (it == verbs_.end()) return Err("unknown request '" + request.verb + "' (try help)");
  return it->second.handler(reader, request);
}

std::string ControlVerbs::Help() const {
  std::string text;
  for (const auto& [verb, entry] : verbs_) {
    if (!text.empty()) text += "; ";
    text += verb;
    if (!entry.usage.empty()) text += " " + entry.usage;
  }
  return text;
}

}  // namespace kpsim
