// Outputs of exactly the room kp_dev.h promises, with a guard behind them.
// The rooms come from the export table (src/api/exports.tsv), which the
// build embeds as kExportTable; its comment explains the room expressions.
// An output that the library writes past its room trips AddressSanitizer
// at once (the guard is poisoned) or, in a build without it, aborts when
// the guard is found changed after the call.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace kpfuzz {

// The values a room expression names: an int argument by its name, [p] by
// the name of the int* argument p, len(t) by the name of the text t.
using Values = std::map<std::string, long long>;

// Bytes the output `output` of `function` needs; a function or output that
// the table does not have aborts (the table and this target disagree).
std::size_t Room(const std::string& function, const std::string& output, const Values& values = {});

class Output {
 public:
  explicit Output(std::size_t room);
  Output(const std::string& function, const std::string& output, const Values& values = {})
      : Output(Room(function, output, values)) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  char* get() { return bytes_.get(); }

 private:
  static constexpr std::size_t kGuard = 64;
  std::size_t room_;
  std::unique_ptr<char[]> bytes_;
};

}  // namespace kpfuzz
