// Card kinds that "insert SEAT KIND [ARG...]" can create.  Each technology
// module registers its kinds with a maker that reads the remaining words
// (for example "atr=3B6F..." or "profile=/path/bank.json").
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/card.h"

namespace kpsim {

using CardMaker = std::function<std::unique_ptr<Card>(const std::vector<std::string>& args, std::string* error)>;

class CardFactory {
 public:
  bool Register(const std::string& kind, std::string usage, CardMaker maker);
  // The new card, or nullptr with the reason in *error.
  std::unique_ptr<Card> Make(const std::string& kind, const std::vector<std::string>& args, std::string* error) const;
  // Kind names, comma-separated ("" when none is registered).
  std::string Kinds() const;

 private:
  struct Entry {
    std::string usage;
    CardMaker maker;
  };
  std::map<std::string, Entry> kinds_;
};

}  // namespace kpsim
