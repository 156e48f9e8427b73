#include "cards/card_args.h"

namespace kpsim {

CardArg SplitCardArg(const std::string& word) {
  CardArg arg;
  const std::size_t equals = word.find('=');
  if (equals == std::string::npos) {
    arg.key = word;
    return arg;
  }
  arg.key = word.substr(0, equals);
  arg.value = word.substr(equals + 1);
  arg.has_value = true;
  return arg;
}

bool ParseHexArg(const CardArg& arg, std::size_t min, std::size_t max, Bytes* out, std::string* error) {
  Bytes bytes;
  if (!arg.has_value || !FromHex(arg.value, &bytes) || bytes.size() < min || bytes.size() > max) {
    *error = arg.key + "= needs " +
             (min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max)) +
             " bytes of hex, got '" + arg.value + "'";
    return false;
  }
  *out = std::move(bytes);
  return true;
}

}  // namespace kpsim
