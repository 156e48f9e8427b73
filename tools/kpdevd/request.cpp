#include "request.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace kpdev::service {

namespace {

struct OpInfo {
  const char* name;
  Op op;
  // The reader a request opens unless it names another.
  int type;
  int baud;
};

const OpInfo kOps[] = {
    {"hello", Op::kHello, 1, 9600},
    {"version", Op::kVersion, 1, 9600},
    {"read-all", Op::kReadAll, 61, 115200},
    {"cancel", Op::kCancel, 1, 9600},
    {"id-read", Op::kIdRead, 0, 9600},
    {"emv-info", Op::kEmvInfo, 1, 9600},
    {"mag-read", Op::kMagRead, 2, 9600},
    {"cpu-power-on", Op::kCpuPowerOn, 1, 9600},
    {"cpu-apdu", Op::kCpuApdu, 1, 9600},
    {"rf-activate", Op::kRfActivate, 1, 9600},
    {"rf-read-block", Op::kRfReadBlock, 1, 9600},
    {"subscribe", Op::kSubscribe, 1, 9600},
    {"unsubscribe", Op::kUnsubscribe, 1, 9600},
    {"ports", Op::kPorts, 1, 9600},
    {"probe", Op::kProbe, -1, 9600},
};

// A value of the request: absent keeps the default; present must be of the
// right kind and in range.
class Fields {
 public:
  Fields(const nlohmann::json& object, std::string* error) : object_(object), error_(error) {}

  bool Int(const char* key, int low, int high, int* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return true;
    if (!it->is_number_integer()) return Fail(std::string("\"") + key + "\" must be an integer");
    const auto value = it->get<long long>();
    if (value < low || value > high) {
      return Fail(std::string("\"") + key + "\" must be from " + std::to_string(low) + " to " + std::to_string(high));
    }
    *out = static_cast<int>(value);
    return true;
  }

  bool Bool(const char* key, bool* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return true;
    if (!it->is_boolean()) return Fail(std::string("\"") + key + "\" must be true or false");
    *out = it->get<bool>();
    return true;
  }

  // Upper-case hex of whole bytes, at most `maxDigits` digits.
  bool Hex(const nlohmann::json& value, const char* key, std::size_t minDigits, std::size_t maxDigits,
           std::string* out) {
    if (!value.is_string()) return Fail(std::string("\"") + key + "\" must be hex text");
    const auto& text = value.get_ref<const std::string&>();
    if (text.size() < minDigits || text.size() > maxDigits || text.size() % 2 != 0 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; })) {
      return Fail(std::string("\"") + key + "\" must be " +
                  (minDigits == maxDigits ? std::to_string(minDigits / 2) : "whole") + " bytes of hex");
    }
    out->clear();
    for (const char c : text) out->push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return true;
  }

  bool Hex(const char* key, std::size_t minDigits, std::size_t maxDigits, std::string* out) {
    const auto it = object_.find(key);
    if (it == object_.end()) return true;
    return Hex(*it, key, minDigits, maxDigits, out);
  }

  // "A", "B" or a number 0-255, as the tool's --key-type.
  bool KeyType(int* out) {
    const auto it = object_.find("key-type");
    if (it == object_.end()) return true;
    if (it->is_string() && (*it == "A" || *it == "a")) return *out = 0x60, true;
    if (it->is_string() && (*it == "B" || *it == "b")) return *out = 0x61, true;
    if (it->is_number_integer()) return Int("key-type", 0, 255, out);
    return Fail("\"key-type\" must be A, B or a number 0-255");
  }

  bool Apdus(std::vector<std::string>* out) {
    const auto it = object_.find("apdus");
    if (it == object_.end() || !it->is_array() || it->empty() || it->size() > kMaxApdus) {
      return Fail("\"apdus\" must be a list of 1 to " + std::to_string(kMaxApdus) + " APDUs in hex");
    }
    for (const auto& apdu : *it) {
      std::string hex;
      if (!Hex(apdu, "apdus", 8, kMaxApduHex, &hex)) return false;
      out->push_back(hex);
    }
    return true;
  }

  // COM numbers 1-32, at most 32 of them (duplicates are searched once).
  bool Ports(std::vector<int>* out) {
    const auto it = object_.find("ports");
    if (it == object_.end()) return true;
    if (!it->is_array() || it->size() > 32) return Fail("\"ports\" must be a list of at most 32 COM numbers");
    for (const auto& port : *it) {
      if (!port.is_number_integer() || port.get<long long>() < 1 || port.get<long long>() > 32) {
        return Fail("\"ports\" must hold COM numbers from 1 to 32");
      }
      out->push_back(port.get<int>());
    }
    return true;
  }

  bool Fail(const std::string& why) {
    *error_ = why;
    return false;
  }

 private:
  const nlohmann::json& object_;
  std::string* error_;
};

bool CheckBaud(int baud, std::string* error) {
  static const int kSpeeds[] = {9600, 19200, 38400, 57600, 115200};
  if (std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) != std::end(kSpeeds)) return true;
  *error = "\"baud\" must be 9600, 19200, 38400, 57600 or 115200";
  return false;
}

bool CheckType(int type, std::string* error) {
  static const int kTypes[] = {0, 1, 2, 5, 61, 62};
  if (std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes)) return true;
  *error = "\"type\" must be 0, 1, 2, 5, 61 or 62";
  return false;
}

}  // namespace

const char* OpName(Op op) {
  for (const OpInfo& info : kOps) {
    if (info.op == op) return info.name;
  }
  return "?";
}

bool ParseRequest(std::string_view text, Request* out, std::string* error) {
  *out = Request{};
  // No exceptions: a message that does not parse is an ordinary refusal.
  const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    *error = "a request is one JSON object";
    return false;
  }
  if (const auto id = doc.find("id"); id != doc.end()) {
    // The id is echoed: a number or a short text, nothing that could carry
    // a large or nested value back.
    if (!(id->is_number_integer() || (id->is_string() && id->get_ref<const std::string&>().size() <= 64))) {
      *error = "\"id\" must be an integer or a text of at most 64 characters";
      return false;
    }
    out->id = *id;
  }
  const auto op = doc.find("op");
  if (op == doc.end() || !op->is_string()) {
    *error = "\"op\" names the operation";
    return false;
  }
  const OpInfo* info = nullptr;
  for (const OpInfo& candidate : kOps) {
    if (*op == candidate.name) info = &candidate;
  }
  if (info == nullptr) {
    *error = "unknown \"op\"";
    return false;
  }
  out->op = info->op;
  out->type = info->type;
  out->baud = info->baud;
  if (info->op == Op::kReadAll) out->timeoutMs = 30000;
  if (info->op == Op::kMagRead) out->timeoutMs = 30000;
  if (info->op == Op::kIdRead) out->timeoutMs = 5000;

  Fields f(doc, error);
  if (!f.Int("port", 1, 32, &out->port)) return false;
  switch (info->op) {
    case Op::kHello: {
      const auto token = doc.find("token");
      if (token == doc.end() || !token->is_string() || token->get_ref<const std::string&>().size() > 128) {
        *error = "\"token\" must be a text of at most 128 characters";
        return false;
      }
      out->token = *token;
      return true;
    }
    case Op::kCancel:
    case Op::kUnsubscribe:
    case Op::kPorts:
      return true;
    case Op::kProbe:
      // Every family unless one is named, as the tool's --type.
      if (doc.contains("type") && (!f.Int("type", 0, 62, &out->type) || !CheckType(out->type, error))) return false;
      return f.Ports(&out->ports);
    case Op::kReadAll: {
      // The loop always opens its reader as type 61 at 115200 baud.
      int timeoutS = out->timeoutMs / 1000;
      if (!f.Int("timeout", 0, 3600, &timeoutS)) return false;
      out->timeoutMs = timeoutS * 1000;
      return f.Bool("store-card", &out->storeCard) && f.Int("sector", 0, 15, &out->sector) &&
             f.Int("block", 0, 3, &out->block) && f.KeyType(&out->keyType) && f.Hex("key", 12, 12, &out->key) &&
             f.Bool("contact", &out->contact) && f.Bool("contactless", &out->contactless);
    }
    default:
      break;
  }
  if (!f.Int("type", 0, 62, &out->type) || !CheckType(out->type, error)) return false;
  if (!f.Int("baud", 0, 115200, &out->baud) || !CheckBaud(out->baud, error)) return false;
  switch (info->op) {
    case Op::kMagRead: {
      int timeoutS = out->timeoutMs / 1000;
      if (!f.Int("timeout", 0, 600, &timeoutS)) return false;
      out->timeoutMs = timeoutS * 1000;
      return true;
    }
    case Op::kIdRead:
      return f.Int("timeout", 0, 60000, &out->timeoutMs);
    case Op::kEmvInfo:
    case Op::kCpuPowerOn:
      if (!f.Int("seat", 0, 255, &out->seat)) return false;
      if (info->op == Op::kCpuPowerOn && out->seat == 255) return f.Fail("\"seat\" 255 is the field: use rf-activate");
      return true;
    case Op::kCpuApdu:
      return f.Int("seat", 0, 255, &out->seat) && f.Bool("power-on", &out->powerOn) && f.Apdus(&out->apdus);
    case Op::kRfReadBlock:
      return f.Int("sector", 0, 15, &out->sector) && f.Int("block", 0, 3, &out->block) && f.KeyType(&out->keyType) &&
             f.Hex("key", 12, 12, &out->key);
    case Op::kSubscribe:
      return f.Int("interval", 50, 60000, &out->intervalMs);
    default:
      return true;
  }
}

}  // namespace kpdev::service
