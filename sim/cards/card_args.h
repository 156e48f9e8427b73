// The words after the kind in "insert SEAT KIND ARG...": flags ("mute") and
// key=value pairs ("atr=3B02"), read one by one by each card kind's maker.
#pragma once

#include <cstddef>
#include <string>

#include "core/bytes.h"

namespace kpsim {

struct CardArg {
  std::string key;    // the whole word when it has no '='
  std::string value;  // the text after the first '='
  bool has_value = false;
};

CardArg SplitCardArg(const std::string& word);

// Hex text of `min` to `max` bytes into *out; false with a reason in *error.
bool ParseHexArg(const CardArg& arg, std::size_t min, std::size_t max, Bytes* out, std::string* error);

}  // namespace kpsim
