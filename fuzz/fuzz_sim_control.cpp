// The virtual reader's control lines: every verb with any words, in one
// reader that keeps its state from line to line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/virtual_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  kpsim::VirtualReader reader;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    const std::string line = input.substr(start, end - start);
    // Card profiles name files; the fuzzer does not get to read the disk.
    if (line.find('/') == std::string::npos) (void)reader.HandleControl(line);
    start = end + 1;
  }
  return 0;
}
