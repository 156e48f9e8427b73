#include "core/card_factory.h"

namespace kpsim {

bool CardFactory::Register(const std::string& kind, std::string usage, CardMaker maker) {
  return kinds_.emplace(kind, Entry{std::move(usage), std::move(maker)}).second;
}

std::unique_ptr<Card> CardFactory::Make(const std::string& kind, const std::vector<std::string>& args,
                                        std::string* error) const {
  const auto it = kinds_.find(kind);
  if (it == kinds_.end()) {
    *error =
        "unknown card kind '" + kind + "'" + (kinds_.empty() ? " (no card models yet)" : " (known: " + Kinds() + ")");
    return nullptr;
  }
  std::unique_ptr<Card> card = it->second.maker(args, error);
  if (!card && error->empty()) *error = "usage: insert SEAT " + kind + " " + it->second.usage;
  return card;
}

std::string CardFactory::Kinds() const {
  std::string names;
  for (const auto& [kind, entry] : kinds_) {
    if (!names.empty()) names += ',';
    names += kind;
  }
  return names;
}

}  // namespace kpsim
