// The requests of the control interface, by verb.  Modules register their
// own verbs ("insert", "swipe", ...) next to the device's.
//
// A request is one text line: a verb and words separated by blanks.  A
// handler returns the reply line without its newline: "ok" or "ok ..." on
// success, "err <reason>" otherwise.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kpsim {

class VirtualReader;

struct ControlRequest {
  std::string verb;
  std::vector<std::string> words;  // after the verb
  std::string rest;                // the text after the verb and one blank, verbatim
};

using ControlHandler = std::function<std::string(VirtualReader& reader, const ControlRequest& request)>;

class ControlVerbs {
 public:
  // Registering a verb again replaces it (a module taking over a
  // placeholder, as the magnetic head takes over "swipe").
  void Register(const std::string& verb, std::string usage, ControlHandler handler);
  // Handles one line; "quit" is not a verb here but the caller's business.
  std::string Handle(VirtualReader& reader, const std::string& line) const;
  std::string Help() const;

  static ControlRequest Split(const std::string& line);

 private:
  struct Entry {
    std::string usage;
    ControlHandler handler;
  };
  std::map<std::string, Entry> verbs_;
};

std::string Ok(const std::string& text = {});
std::string Err(const std::string& reason);

}  // namespace kpsim
