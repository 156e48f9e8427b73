// What a command tells its user: text lines on stdout as they come, or,
// with --json, one JSON document at the end holding the same fields.
// Failures go to stderr in both cases and, with --json, into the
// document's "error" object (call, code, name, text).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "documents.h"

namespace kpdev::tool {

class Report {
 public:
  static Report& Get();

  void Configure(bool json, bool raw) {
    json_ = json;
    raw_ = raw;
  }
  bool json() const { return json_; }
  // --raw: undecoded hex next to (or instead of) the decoded form.
  bool raw() const { return raw_; }
  void SetCommand(const std::string& command) { doc_["command"] = command; }

  // One labelled line ("label    text"); in JSON `key` holds `value`.
  void Field(const std::string& key, const std::string& text, const nlohmann::json& value);
  void Field(const std::string& key, const std::string& text) { Field(key, text, nlohmann::json(text)); }
  // Width of the labels of the text output (8 unless a command sets it).
  void SetLabelWidth(int width) { width_ = width; }
  // Lines for the text output only.
  void Lines(const std::vector<std::string>& lines);
  void Line(const std::string& line) { Lines({line}); }
  // The JSON document, for structured values.
  nlohmann::json& doc() { return doc_; }

  // A failed library call: "kpdev: CALL failed: CODE NAME (TEXT)" on
  // stderr; in JSON the "error" object.
  void CallFailed(const std::string& call, int code, const std::string& hint = "");
  // Any other failure: "kpdev: MESSAGE" on stderr; in JSON error.message.
  void Failed(const std::string& message);
  // A note on stderr that does not change the outcome.
  void Note(const std::string& message);

  // Streams one JSON object as a line (watch); nothing in text mode.
  void Emit(const nlohmann::json& object);
  // Ends the command: with --json prints the document with "exit".
  int Finish(int exitCode);

 private:
  bool json_ = false;
  bool raw_ = false;
  bool streamed_ = false;
  int width_ = 8;
  nlohmann::json doc_ = nlohmann::json::object();
};

}  // namespace kpdev::tool
