#include "report.h"

#include <cstdio>
#include <string>

#include "kp_dev.h"

namespace kpdev::tool {

namespace {

// The document as text.  What the user typed is echoed in messages, and an
// argument need not be UTF-8 (a byte such as 0xFF from a script): such bytes
// become U+FFFD instead of ending the tool with an exception.
std::string Dump(const nlohmann::json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Report& Report::Get() {
  static Report report;
  return report;
}

void Report::Field(const std::string& key, const std::string& text, const nlohmann::json& value) {
  if (json_) {
    doc_[key] = value;
    return;
  }
  std::printf("%-*s %s\n", width_, key.c_str(), text.c_str());
}

void Report::Lines(const std::vector<std::string>& lines) {
  if (json_) return;
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
}

void Report::CallFailed(const std::string& call, int code, const std::string& hint) {
  std::fflush(stdout);
  std::fprintf(stderr, "kpdev: %s failed: %s\n", call.c_str(), ResultText(code).c_str());
  if (!hint.empty()) std::fprintf(stderr, "kpdev: %s\n", hint.c_str());
  nlohmann::json error = ResultJson(code);
  error["call"] = call;
  if (!hint.empty()) error["message"] = hint;
  doc_["error"] = error;
}

void Report::Failed(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "kpdev: %s\n", message.c_str());
  if (!doc_.contains("error")) doc_["error"] = nlohmann::json::object();
  doc_["error"]["message"] = message;
}

void Report::Note(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "kpdev: %s\n", message.c_str());
}

void Report::Emit(const nlohmann::json& object) {
  streamed_ = true;
  if (!json_) return;
  std::printf("%s\n", Dump(object, -1).c_str());
  std::fflush(stdout);
}

int Report::Finish(int exitCode) {
  if (json_) {
    doc_["exit"] = exitCode;
    if (streamed_) doc_["event"] = "end";
    std::printf("%s\n", Dump(doc_, streamed_ ? -1 : 2).c_str());
  }
  std::fflush(stdout);
  return exitCode;
}

}  // namespace kpdev::tool
