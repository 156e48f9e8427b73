// Control requests about the device as a whole: status, version, family,
// speed, module, the traffic log and fault injection.

#include <cstdlib>

#include "core/modules.h"
#include "core/virtual_reader.h"

namespace kpsim {

namespace {

bool ParseInt(const std::string& text, long low, long high, long* value) {
  if (text.empty() || text.size() > 12) return false;
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

std::string Status(VirtualReader& reader) {
  const DeviceState& s = reader.state();
  const Counters& c = s.counters;
  std::string text;
  auto add = [&text](const char* key, const std::string& value) {
    if (!text.empty()) text += ' ';
    text += key;
    text += '=';
    text += value;
  };
  add("family", FamilyName(s.family));
  add("module", std::string(1, ModuleLetter(s.module)));
  add("device_baud", std::to_string(s.baud));
  add("host_baud", std::to_string(s.host.baud));
  add("host_open", std::to_string(s.host.opens));
  add("buzzer", s.buzzer ? "on" : "off");
  add("pacing", reader.pacing() ? "on" : "off");
  add("version", ToHex(s.version));
  add("seats", std::to_string(reader.seats().Occupied()));
  add("faults", reader.faults().Describe());
  add("traffic_bytes", std::to_string(reader.traffic().size()));
  add("traffic_truncated", reader.traffic().truncated() ? "1" : "0");
  add("frames", std::to_string(c.frames));
  add("answers", std::to_string(c.answers));
  add("unknown_commands", std::to_string(c.unknown_commands));
  add("bad_checksums", std::to_string(c.bad_checksums));
  add("bad_frames", std::to_string(c.bad_frames));
  add("escapes", std::to_string(c.escapes));
  add("swallowed", std::to_string(c.swallowed));
  add("noise_bytes", std::to_string(c.noise_bytes));
  add("ignored_bytes", std::to_string(c.ignored_bytes));
  add("lost_bytes", std::to_string(c.lost_bytes));
  add("beeps", std::to_string(c.beeps));
  add("soft_resets", std::to_string(c.soft_resets));
  add("c003", std::to_string(c.c003));
  add("device_us", std::to_string(c.device_us));
  return Ok(text);
}

}  // namespace

void InstallDeviceControl(VirtualReader& reader) {
  ControlVerbs& verbs = reader.control();
  verbs.Register("ping", "", [](VirtualReader&, const ControlRequest&) { return Ok(); });
  verbs.Register("help", "", [](VirtualReader& r, const ControlRequest&) { return Ok(r.control().Help()); });
  verbs.Register("quit", "", [](VirtualReader&, const ControlRequest&) { return Ok(); });
  verbs.Register("status", "", [](VirtualReader& r, const ControlRequest&) { return Status(r); });

  verbs.Register("version", "[TEXT]", [](VirtualReader& r, const ControlRequest& request) {
    if (request.words.empty()) return Ok(ToHex(r.state().version));
    r.SetVersion(Bytes(request.rest.begin(), request.rest.end()));
    return Ok();
  });
  verbs.Register("version-hex", "HEX", [](VirtualReader& r, const ControlRequest& request) {
    Bytes version;
    if (request.words.size() != 1 || !FromHex(request.words[0], &version)) return Err("usage: version-hex HEX");
    r.SetVersion(std::move(version));
    return Ok();
  });
  verbs.Register("family", "t1|t61|t0", [](VirtualReader& r, const ControlRequest& request) {
    Family family;
    if (request.words.size() != 1 || !ParseFamily(request.words[0], &family)) return Err("usage: family t1|t61|t0");
    r.SetFamily(family);
    return Ok();
  });
  verbs.Register("baud", "N", [](VirtualReader& r, const ControlRequest& request) {
    long baud = 0;
    if (request.words.size() != 1 || !ParseInt(request.words[0], 1, 4000000, &baud) ||
        !IsStandardBaud(static_cast<int>(baud))) {
      return Err("usage: baud N (a standard line speed)");
    }
    r.state().baud = static_cast<int>(baud);
    return Ok();
  });
  verbs.Register("module", "I|B|S", [](VirtualReader& r, const ControlRequest& request) {
    Module module;
    if (request.words.size() != 1 || request.words[0].size() != 1 || !ParseModuleLetter(request.words[0][0], &module)) {
      return Err("usage: module I|B|S");
    }
    r.state().module = module;
    return Ok();
  });
  verbs.Register("pacing", "[on|off]", [](VirtualReader& r, const ControlRequest& request) {
    if (request.words.size() > 1) return Err("usage: pacing [on|off]");
    if (request.words.size() == 1) {
      if (request.words[0] != "on" && request.words[0] != "off") return Err("usage: pacing [on|off]");
      r.SetPacing(request.words[0] == "on");
    }
    return Ok(r.pacing() ? "on" : "off");
  });
  verbs.Register("device-time", "[KEY MS]", [](VirtualReader& r, const ControlRequest& request) {
    if (request.words.empty()) return Ok(r.device_times().Describe());
    if (request.words.size() != 2) return Err("usage: device-time [KEY MS]");
    // Milliseconds with up to three decimals.
    const std::string& text = request.words[1];
    const std::size_t dot = text.find('.');
    long whole = 0;
    long fraction = 0;
    const std::string decimals = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (!ParseInt(text.substr(0, dot), 0, 600000, &whole) || decimals.size() > 3 ||
        (dot != std::string::npos && !ParseInt(decimals, 0, 999, &fraction))) {
      return Err("bad time '" + text + "'");
    }
    for (std::size_t i = decimals.size(); i < 3; ++i) fraction *= 10;
    if (!r.device_times().Set(request.words[0], std::chrono::microseconds(whole * 1000 + fraction))) {
      return Err("unknown key '" + request.words[0] + "' (frame, escape, raw, think, a command code XXXX, id-XXXX)");
    }
    return Ok();
  });
  verbs.Register("traffic", "", [](VirtualReader& r, const ControlRequest&) { return "ok" + r.traffic().Format(); });
  verbs.Register("clear", "", [](VirtualReader& r, const ControlRequest&) {
    r.ClearRecords();
    return Ok();
  });
  verbs.Register("fault", "KIND [ARG] [COUNT] | clear", [](VirtualReader& r, const ControlRequest& request) {
    if (request.words.size() == 1 && request.words[0] == "clear") {
      r.faults().Clear();
      return Ok();
    }
    Fault fault;
    std::string error;
    if (!ParseFault(request.words, &fault, &error)) return Err(error);
    r.faults().Arm(fault);
    return Ok();
  });
}

}  // namespace kpsim
