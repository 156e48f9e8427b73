#include "cards/bank_profile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace kpsim {

namespace {

// Objects keep the order they were written in: the elements of a record
// or template go on the card in that order.
using Json = nlohmann::ordered_json;

// Contact answer to reset: direct convention, T=0, historical bytes 80
// "KPBANK1".
const Bytes kDefaultAtr{0x3B, 0x68, 0x00, 0x00, 0x80, 0x4B, 0x50, 0x42, 0x41, 0x4E, 0x4B, 0x31};
const Bytes kDefaultUid{0x04, 0x6B, 0x42, 0x1A, 0x52, 0x3C, 0x80};
// TL 05, T0 78, TA 80, TB 70, TC 02.
const Bytes kDefaultAts{0x05, 0x78, 0x80, 0x70, 0x02};
constexpr std::uint8_t kDefaultRfType = 0x20;
const Bytes kDefaultKey{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
constexpr char kDirectoryName[] = "1PAY.SYS.DDF01";

constexpr std::uint16_t kTagFci = 0x6F;
constexpr std::uint16_t kTagDfName = 0x84;
constexpr std::uint16_t kTagFciProprietary = 0xA5;
constexpr std::uint16_t kTagSfi = 0x88;
constexpr std::uint16_t kTagAid = 0x4F;
constexpr std::uint16_t kTagLabel = 0x50;
constexpr std::uint16_t kTagPriority = 0x87;
constexpr std::uint16_t kTagPdol = 0x9F38;
constexpr std::uint16_t kTagRecord = 0x70;
constexpr std::uint16_t kTagDirectoryEntry = 0x61;
constexpr std::uint16_t kTagCdol1 = 0x8C;
constexpr std::uint16_t kTagAtc = 0x9F36;

// Profile mistakes travel as this exception inside the parser and become
// the error text of LoadBankProfile.
struct ProfileError {
  std::string text;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw ProfileError{where + ": " + what}; }

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Hex with optional blanks between the digits.
Bytes Hex(const Json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "needs a text of hex digits");
  std::string digits;
  for (char c : value.get<std::string>()) {
    if (c != ' ') digits.push_back(c);
  }
  Bytes bytes;
  if (!FromHex(digits, &bytes)) Fail(where, "'" + value.get<std::string>() + "' is not hex");
  return bytes;
}

Bytes HexOfSize(const Json& value, const std::string& where, std::size_t min, std::size_t max) {
  Bytes bytes = Hex(value, where);
  if (bytes.size() < min || bytes.size() > max) {
    Fail(where, "needs " + std::to_string(min) + (min == max ? "" : " to " + std::to_string(max)) + " bytes");
  }
  return bytes;
}

// A tag written as hex: one byte, or two when the first says more follow.
std::uint16_t Tag(const std::string& text, const std::string& where) {
  Bytes bytes;
  if (!FromHex(text, &bytes) || bytes.empty() || bytes.size() > 2) Fail(where, "'" + text + "' is not a tag");
  const bool two = (bytes[0] & 0x1F) == 0x1F;
  if (two != (bytes.size() == 2)) Fail(where, "'" + text + "' is not a one- or two-byte BER tag");
  return bytes.size() == 2 ? static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]) : bytes[0];
}

// Elements in the order written: "TAG": "hex", "TAG": "text:...", or, for
// a constructed tag, "TAG": { elements }.
Bytes Elements(const Json& object, const std::string& where) {
  if (!object.is_object()) Fail(where, "needs an object of TAG: value");
  Bytes out;
  for (const auto& [key, value] : object.items()) {
    const std::string at = where + "." + key;
    const std::uint16_t tag = Tag(key, at);
    if (value.is_object()) {
      if (!kp::wire::IsConstructed(tag)) Fail(at, "a primitive tag takes a value, not elements");
      AppendBerTlv(&out, tag, Elements(value, at));
    } else if (value.is_string() && value.get<std::string>().rfind("text:", 0) == 0) {
      AppendBerTlv(&out, tag, Text(value.get<std::string>().substr(5)));
    } else {
      AppendBerTlv(&out, tag, Hex(value, at));
    }
  }
  return out;
}

// A record: its whole hex (template included), or its elements, which go
// into template 70.
Bytes Record(const Json& value, const std::string& where) {
  if (value.is_string()) return Hex(value, where);
  Bytes record;
  AppendBerTlv(&record, kTagRecord, Elements(value, where));
  return record;
}

const Json* Find(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string TextField(const Json& object, const char* key, const std::string& where) {
  const Json* value = Find(object, key);
  if (value == nullptr) return {};
  if (!value->is_string()) Fail(where + "." + key, "needs a text");
  return value->get<std::string>();
}

int IntField(const Json& object, const char* key, const std::string& where, int min, int max, int fallback) {
  const Json* value = Find(object, key);
  if (value == nullptr) return fallback;
  if (!value->is_number_integer() || value->get<long long>() < min || value->get<long long>() > max) {
    Fail(where + "." + key, "needs a whole number from " + std::to_string(min) + " to " + std::to_string(max));
  }
  return value->get<int>();
}

// One directory entry: 61 { 4F aid, 50 label, 87 priority, extra elements }.
Bytes DirectoryEntry(const Json& entry, const std::string& where) {
  if (!entry.is_object() || Find(entry, "aid") == nullptr) Fail(where, "needs an object with \"aid\"");
  Bytes inner;
  AppendBerTlv(&inner, kTagAid, HexOfSize(entry["aid"], where + ".aid", 5, 16));
  const std::string label = TextField(entry, "label", where);
  if (!label.empty()) AppendBerTlv(&inner, kTagLabel, Text(label));
  const int priority = IntField(entry, "priority", where, 0, 255, -1);
  if (priority >= 0) AppendBerTlv(&inner, kTagPriority, Bytes{static_cast<std::uint8_t>(priority)});
  if (const Json* extra = Find(entry, "extra")) {
    const Bytes more = Elements(*extra, where + ".extra");
    inner.insert(inner.end(), more.begin(), more.end());
  }
  Bytes out;
  AppendBerTlv(&out, kTagDirectoryEntry, inner);
  return out;
}

void ReadDirectory(const Json& root, BankProfile* profile) {
  const Json empty = Json::object();
  const Json* directory = Find(root, "directory");
  const Json& d = directory != nullptr ? *directory : empty;
  const std::string where = "directory";
  if (!d.is_object()) Fail(where, "needs an object");

  const std::string name = TextField(d, "name", where);
  profile->directory_name = Text(name.empty() ? kDirectoryName : name);
  profile->directory_sfi = static_cast<std::uint8_t>(IntField(d, "sfi", where, 1, 30, 1));

  Bytes proprietary;
  AppendBerTlv(&proprietary, kTagSfi, Bytes{profile->directory_sfi});
  if (const Json* extra = Find(d, "fci")) {
    const Bytes more = Elements(*extra, where + ".fci");
    proprietary.insert(proprietary.end(), more.begin(), more.end());
  }
  Bytes fci;
  AppendBerTlv(&fci, kTagDfName, profile->directory_name);
  AppendBerTlv(&fci, kTagFciProprietary, proprietary);
  AppendBerTlv(&profile->directory_fci, kTagFci, fci);

  const Json* records = Find(d, "records");
  if (records == nullptr) {
    // One record naming every application.
    Bytes entries;
    for (std::size_t i = 0; i < root["applications"].size(); ++i) {
      const Json& app = root["applications"][i];
      Json entry = Json::object();
      entry["aid"] = app["aid"];
      if (Find(app, "label") != nullptr) entry["label"] = app["label"];
      if (Find(app, "priority") != nullptr) entry["priority"] = app["priority"];
      const Bytes one = DirectoryEntry(entry, "applications[" + std::to_string(i) + "]");
      entries.insert(entries.end(), one.begin(), one.end());
    }
    Bytes record;
    AppendBerTlv(&record, kTagRecord, entries);
    profile->directory_records.push_back(record);
    return;
  }
  if (!records->is_array()) Fail(where + ".records", "needs a list of records");
  for (std::size_t r = 0; r < records->size(); ++r) {
    const Json& record = (*records)[r];
    const std::string at = where + ".records[" + std::to_string(r) + "]";
    if (record.is_string()) {
      profile->directory_records.push_back(Hex(record, at));
      continue;
    }
    if (!record.is_array()) Fail(at, "needs the record's hex or a list of entries");
    Bytes entries;
    for (std::size_t e = 0; e < record.size(); ++e) {
      const Bytes one = DirectoryEntry(record[e], at + "[" + std::to_string(e) + "]");
      entries.insert(entries.end(), one.begin(), one.end());
    }
    Bytes whole;
    AppendBerTlv(&whole, kTagRecord, entries);
    profile->directory_records.push_back(whole);
  }
}

CardDecision Decision(const std::string& text, const std::string& where) {
  if (text.empty() || text == "online") return CardDecision::kOnline;
  if (text == "approve") return CardDecision::kApprove;
  if (text == "decline") return CardDecision::kDecline;
  Fail(where, "is online, approve or decline");
}

BankApplicationProfile Application(const Json& app, const std::string& where) {
  if (!app.is_object()) Fail(where, "needs an object");
  BankApplicationProfile out;
  if (Find(app, "aid") == nullptr) Fail(where, "needs \"aid\"");
  out.aid = HexOfSize(app["aid"], where + ".aid", 5, 16);
  if (Find(app, "aip") == nullptr) Fail(where, "needs \"aip\"");
  out.aip = HexOfSize(app["aip"], where + ".aip", 2, 2);
  if (const Json* pdol = Find(app, "pdol")) {
    out.pdol = Hex(*pdol, where + ".pdol");
    std::size_t ignored = 0;
    if (!DolLength(out.pdol, &ignored)) Fail(where + ".pdol", "is no data object list");
  }

  // FCI: 6F { 84 AID, A5 { 50 label, 87 priority, 9F38 PDOL, extra } }.
  Bytes proprietary;
  const std::string label = TextField(app, "label", where);
  if (!label.empty()) AppendBerTlv(&proprietary, kTagLabel, Text(label));
  const int priority = IntField(app, "priority", where, 0, 255, -1);
  if (priority >= 0) AppendBerTlv(&proprietary, kTagPriority, Bytes{static_cast<std::uint8_t>(priority)});
  if (!out.pdol.empty()) AppendBerTlv(&proprietary, kTagPdol, out.pdol);
  if (const Json* extra = Find(app, "fci")) {
    const Bytes more = Elements(*extra, where + ".fci");
    proprietary.insert(proprietary.end(), more.begin(), more.end());
  }
  Bytes fci;
  AppendBerTlv(&fci, kTagDfName, out.aid);
  AppendBerTlv(&fci, kTagFciProprietary, proprietary);
  AppendBerTlv(&out.fci, kTagFci, fci);

  const Json* records = Find(app, "records");
  if (records != nullptr) {
    if (!records->is_object()) Fail(where + ".records", "needs an object of SFI: [records]");
    for (const auto& [key, list] : records->items()) {
      const std::string at = where + ".records." + key;
      char* end = nullptr;
      const long sfi = std::strtol(key.c_str(), &end, 10);
      if (key.empty() || *end != '\0' || sfi < 1 || sfi > 30) Fail(at, "an SFI is 1 to 30");
      if (!list.is_array() || list.empty()) Fail(at, "needs a list of records");
      std::vector<Bytes>& file = out.records[static_cast<std::uint8_t>(sfi)];
      for (std::size_t r = 0; r < list.size(); ++r) file.push_back(Record(list[r], at + "[" + std::to_string(r) + "]"));
    }
  }
  if (const Json* afl = Find(app, "afl")) {
    out.afl = Hex(*afl, where + ".afl");
    if (out.afl.size() % 4 != 0) Fail(where + ".afl", "takes 4 bytes per entry");
  } else {
    // Every file from its first record to its last, none of them for
    // offline data authentication.
    for (const auto& [sfi, file] : out.records) {
      out.afl.insert(out.afl.end(),
                     {static_cast<std::uint8_t>(sfi << 3), 0x01, static_cast<std::uint8_t>(file.size()), 0x00});
    }
  }
  for (const auto& [sfi, file] : out.records) {
    for (const Bytes& record : file) {
      if (!out.has_cdol1 && FindTlv(record, 0, record.size(), kTagCdol1, &out.cdol1)) out.has_cdol1 = true;
    }
  }
  if (out.has_cdol1) {
    std::size_t ignored = 0;
    if (!DolLength(out.cdol1, &ignored)) Fail(where, "its 8C is no data object list");
  }

  out.atc = static_cast<std::uint16_t>(IntField(app, "atc", where, 0, 0xFFFF, 0));
  if (const Json* iad = Find(app, "iad")) out.iad = HexOfSize(*iad, where + ".iad", 0, 32);
  out.key = kDefaultKey;
  if (const Json* key = Find(app, "key")) out.key = HexOfSize(*key, where + ".key", 16, 16);
  out.decision = Decision(TextField(app, "decision", where), where + ".decision");
  if (const Json* data = Find(app, "data")) {
    if (!data->is_object()) Fail(where + ".data", "needs an object of TAG: value");
    for (const auto& [key, value] : data->items()) {
      const std::uint16_t tag = Tag(key, where + ".data." + key);
      if (tag == kTagAtc) Fail(where + ".data." + key, "the transaction counter is the card's own (\"atc\")");
      out.data[tag] = Hex(value, where + ".data." + key);
    }
  }
  return out;
}

void ReadProfile(const Json& root, BankProfile* profile) {
  if (!root.is_object()) Fail("profile", "needs a JSON object");
  profile->name = TextField(root, "name", "profile");
  if (profile->name.empty()) Fail("profile", "needs a \"name\"");
  for (char c : profile->name) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!word) Fail("name", "takes letters, digits, '-', '_' and '.' only");
  }
  profile->atr = kDefaultAtr;
  if (const Json* atr = Find(root, "atr")) profile->atr = HexOfSize(*atr, "atr", 2, 33);

  profile->uid = kDefaultUid;
  profile->ats = kDefaultAts;
  profile->rf_type = kDefaultRfType;
  if (const Json* rf = Find(root, "contactless")) {
    if (!rf->is_object()) Fail("contactless", "needs an object");
    if (const Json* uid = Find(*rf, "uid")) {
      profile->uid = HexOfSize(*uid, "contactless.uid", 4, 10);
      if (profile->uid.size() != 4 && profile->uid.size() != 7 && profile->uid.size() != 10) {
        Fail("contactless.uid", "takes 4, 7 or 10 bytes");
      }
    }
    if (const Json* ats = Find(*rf, "ats")) profile->ats = HexOfSize(*ats, "contactless.ats", 0, 254);
    if (const Json* type = Find(*rf, "type")) profile->rf_type = HexOfSize(*type, "contactless.type", 1, 1)[0];
  }

  const std::string mode = TextField(root, "get_response", "profile");
  if (mode.empty() || mode == "none") {
    profile->get_response = GetResponseMode::kNone;
  } else if (mode == "directory") {
    profile->get_response = GetResponseMode::kDirectory;
  } else if (mode == "all") {
    profile->get_response = GetResponseMode::kAll;
  } else {
    Fail("get_response", "is none, directory or all");
  }
  if (const Json* exact = Find(root, "exact_le")) {
    if (!exact->is_boolean()) Fail("exact_le", "is true or false");
    profile->exact_le = exact->get<bool>();
  }

  const Json* apps = Find(root, "applications");
  if (apps == nullptr || !apps->is_array() || apps->empty()) Fail("profile", "needs a list of \"applications\"");
  for (std::size_t i = 0; i < apps->size(); ++i) {
    profile->applications.push_back(Application((*apps)[i], "applications[" + std::to_string(i) + "]"));
  }
  ReadDirectory(root, profile);
}

// BER-TLV walk of data[from, to), into constructed elements; false when
// the tag is not there (or the data stop parsing before it).
// The directory of the running program, empty when it cannot be told.
std::string ProgramDirectory() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Where profiles are looked up by name, in order.
std::vector<std::string> ProfileDirectories() {
  std::vector<std::string> directories;
  if (const char* own = std::getenv("KPDEV_SIM_PROFILES"); own != nullptr && *own != '\0') directories.push_back(own);
#ifdef KPDEV_SIM_PROFILES_FROM_PROGRAM
  // Beside the program: an installed prefix (bin/ and share/) or the build
  // tree, which keeps a copy in the same layout; the prefix can be moved.
  const std::string program = ProgramDirectory();
  if (!program.empty()) directories.push_back(program + "/" + KPDEV_SIM_PROFILES_FROM_PROGRAM);
#endif
  return directories;
}

}  // namespace

std::vector<std::string> BankProfileNames() {
  std::set<std::string> names;
  for (const std::string& directory : ProfileDirectories()) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = readdir(dir)) {
      const std::string file = entry->d_name;
      if (file.size() > 5 && file.compare(file.size() - 5, 5, ".json") == 0 && IsFile(directory + "/" + file)) {
        names.insert(file.substr(0, file.size() - 5));
      }
    }
    closedir(dir);
  }
  return {names.begin(), names.end()};
}

std::string BankProfileList() {
  std::string text;
  for (const std::string& name : BankProfileNames()) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "none found" : text;
}

std::string ResolveBankProfile(const std::string& name_or_path, std::string* error) {
  const bool path = name_or_path.find('/') != std::string::npos ||
                    (name_or_path.size() > 5 && name_or_path.compare(name_or_path.size() - 5, 5, ".json") == 0);
  if (path) {
    if (IsFile(name_or_path)) return name_or_path;
    *error = "no profile file " + name_or_path;
    return {};
  }
  std::string looked;
  for (const std::string& directory : ProfileDirectories()) {
    const std::string candidate = directory + "/" + name_or_path + ".json";
    if (IsFile(candidate)) return candidate;
    looked += (looked.empty() ? "" : ", ") + directory;
  }
  *error = "no profile named " + name_or_path + " (looked in " + (looked.empty() ? "no directory" : looked) +
           "; profiles: " + BankProfileList() + ")";
  return {};
}

bool ParseBankProfile(const std::string& json, const std::string& origin, BankProfile* profile, std::string* error) {
  BankProfile read;
  try {
    // Comments (// and /* */) are allowed, so a profile can say why.
    ReadProfile(Json::parse(json, nullptr, true, true), &read);
  } catch (const Json::exception& e) {
    *error = origin + ": " + e.what();
    return false;
  } catch (const ProfileError& e) {
    *error = origin + ": " + e.text;
    return false;
  }
  *profile = std::move(read);
  return true;
}

bool LoadBankProfile(const std::string& path, BankProfile* profile, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseBankProfile(text.str(), path, profile, error);
}

}  // namespace kpsim
