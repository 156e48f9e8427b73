#include "core/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kpsim {

namespace {

bool ParseNumber(const char* text, long long low, long long high, long long* value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (*end != '\0' || errno != 0 || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

}  // namespace

std::string Usage() {
  return "usage: kpdev-sim [options]\n"
         "  --family t1|t61|t0     firmware family (default t1)\n"
         "  --version TEXT         version text the firmware reports\n"
         "  --version-hex HEX      version bytes the firmware reports\n"
         "  --device-baud N        the device's speed at start-up (default 9600)\n"
         "  --control-port N       TCP port of the control interface on 127.0.0.1 (default 0: any)\n"
         "  --link PATH            make PATH a symbolic link to the serial port\n"
         "  --seed N               seed of the line-noise generator (default 1)\n"
         "  --pacing on|off        bytes take their wire time, commands their device time (default on)\n"
         "  --verbose              print the traffic on stderr as it happens\n"
         "  --insert \"SEAT KIND [ARG...]\"  put a card in a seat at start-up (repeatable)\n"
         "  --lifeline FD          end when descriptor FD reaches end of file (the starting\n"
         "                         program holds the pipe's other end)\n"
         "Prints 'port PATH', 'control PORT' and 'ready', then serves until\n"
         "SIGTERM, SIGINT, the control request 'quit' or the lifeline's end.\n";
}

bool ParseCommandLine(int argc, char** argv, SimOptions* options, std::string* message, bool* help) {
  *help = false;
  // Run by hand, the virtual reader keeps real time; tests turn it off.
  options->reader.pacing = true;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    auto need_value = [&]() {
      if (value == nullptr) *message = option + " needs a value";
      return value != nullptr;
    };
    long long number = 0;
    if (option == "--help" || option == "-h") {
      *help = true;
      *message = Usage();
      return false;
    } else if (option == "--verbose" || option == "-v") {
      options->verbose = true;
      continue;
    } else if (option == "--family") {
      if (!need_value()) return false;
      if (!ParseFamily(value, &options->reader.family)) {
        *message = std::string("unknown family '") + value + "' (t1, t61 or t0)";
        return false;
      }
    } else if (option == "--version") {
      if (!need_value()) return false;
      options->reader.version = Bytes(value, value + std::strlen(value));
    } else if (option == "--version-hex") {
      if (!need_value()) return false;
      Bytes version;
      if (!FromHex(value, &version)) {
        *message = std::string("bad hex '") + value + "'";
        return false;
      }
      options->reader.version = version;
    } else if (option == "--device-baud") {
      if (!need_value()) return false;
      if (!ParseNumber(value, 1, 4000000, &number) || !IsStandardBaud(static_cast<int>(number))) {
        *message = std::string("bad line speed '") + value + "'";
        return false;
      }
      options->reader.baud = static_cast<int>(number);
    } else if (option == "--pacing") {
      if (!need_value()) return false;
      if (std::strcmp(value, "on") != 0 && std::strcmp(value, "off") != 0) {
        *message = std::string("bad pacing '") + value + "' (on or off)";
        return false;
      }
      options->reader.pacing = std::strcmp(value, "on") == 0;
    } else if (option == "--control-port") {
      if (!need_value()) return false;
      if (!ParseNumber(value, 0, 65535, &number)) {
        *message = std::string("bad port '") + value + "'";
        return false;
      }
      options->control_port = static_cast<int>(number);
    } else if (option == "--link") {
      if (!need_value()) return false;
      options->link = value;
    } else if (option == "--insert") {
      if (!need_value()) return false;
      options->inserts.emplace_back(value);
    } else if (option == "--lifeline") {
      if (!need_value()) return false;
      if (!ParseNumber(value, 0, 1 << 20, &number)) {
        *message = std::string("bad descriptor '") + value + "'";
        return false;
      }
      options->lifeline = static_cast<int>(number);
    } else if (option == "--seed") {
      if (!need_value()) return false;
      if (!ParseNumber(value, 0, (1ll << 62), &number)) {
        *message = std::string("bad seed '") + value + "'";
        return false;
      }
      options->reader.seed = static_cast<std::uint64_t>(number);
    } else {
      *message = "unknown option '" + option + "'\n" + Usage();
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace kpsim
