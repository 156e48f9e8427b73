#include "core/command_registry.h"

namespace kpsim {

bool CommandRegistry::Register(CommandEntry entry) {
  const std::uint16_t code = entry.code;
  return entries_.emplace(code, std::move(entry)).second;
}

const CommandEntry* CommandRegistry::Find(std::uint16_t code) const {
  const auto it = entries_.find(code);
  return it == entries_.end() ? nullptr : &it->second;
}

}  // namespace kpsim
