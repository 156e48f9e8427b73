// Framed commands by code.  A card-technology module registers the codes it
// serves, the families that know them and whether the device answers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "core/bytes.h"
#include "core/family.h"
#include "core/status_words.h"

namespace kpsim {

class VirtualReader;

struct Reply {
  std::uint16_t status = kStatusOk;
  Bytes data;
  // Runs once the answer is on the line.
  std::function<void()> after_send;

  static Reply Ok(Bytes data = {}) { return Reply{kStatusOk, std::move(data), {}}; }
  static Reply Status(std::uint16_t status) { return Reply{status, {}, {}}; }
};

using CommandHandler = std::function<Reply(VirtualReader& reader, const Bytes& data)>;

struct CommandEntry {
  std::uint16_t code = 0;
  std::string name;
  FamilyMask families = kAllFamilies;
  // False for commands the host never reads an answer to (the buzzer); their
  // handler's reply is discarded and no fault is spent on them.
  bool answers = true;
  CommandHandler handler;
};

class CommandRegistry {
 public:
  // false when the code is taken: two modules must not fight over a code.
  bool Register(CommandEntry entry);
  // The entry, or nullptr when no module registered the code.
  const CommandEntry* Find(std::uint16_t code) const;
  const std::map<std::uint16_t, CommandEntry>& entries() const { return entries_; }

 private:
  std::map<std::uint16_t, CommandEntry> entries_;
};

}  // namespace kpsim
