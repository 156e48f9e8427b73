// Subcommands of the identity-card module of the type-0 reader.
//
//   kpdev id read [--timeout MS] [--photo PATH] [--sim-card WORDS]
//     waits for an identity card, prints its nine fields in the terminal's
//     encoding and saves the photo bitmap to PATH.
//
// The library delivers the texts in GBK; they are converted with iconv to
// the encoding of the user's locale, and a text that does not convert is
// shown as its GBK bytes in hexadecimal.  The photo is decoded by the
// decoder library beside the KP_DEV library, into zp.bmp there; without a
// decoder there is no photo.  With --sim the tool first puts an identity
// card on the virtual reader (WORDS are the KEY=VALUE words of its
// "insert SEAT id" request; none: the sample card).

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "command.h"
#include "decode.h"
#include "kp_dev.h"
#include "session.h"

namespace kpdev::tool {

namespace {

constexpr int kFieldCount = 9;
// A field holds at most 128 bytes, the photo path up to 260.
constexpr std::size_t kFieldRoom = 512;
// The seat the tool puts the virtual reader's identity card in.
constexpr int kSimSeat = 255;

const char* const kLabels[kFieldCount] = {"name",   "sex",       "nation",   "birth", "address",
                                          "number", "authority", "validity", "photo"};

struct IdOptions {
  ReaderOptions reader;
  int timeoutMs = 5000;
  std::string photo = "zp.bmp";
  std::string simCard;
};

std::string HexText(const std::string& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    out += pair;
  }
  return out;
}

// GBK text in the encoding of the user's locale; empty optional-like
// result signalled by `ok`.
class FromGbk {
 public:
  FromGbk() {
    std::setlocale(LC_ALL, "");
    target_ = nl_langinfo(CODESET);
    cd_ = iconv_open(target_.c_str(), "GBK");
  }
  ~FromGbk() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  FromGbk(const FromGbk&) = delete;
  FromGbk& operator=(const FromGbk&) = delete;

  std::string Convert(const std::string& gbk) const {
    bool ascii = true;
    for (unsigned char c : gbk) ascii = ascii && c < 0x80;
    if (ascii) return gbk;
    std::string out;
    if (cd_ != reinterpret_cast<iconv_t>(-1)) {
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      std::string buffer(gbk.size() * 4 + 16, '\0');
      char* in = const_cast<char*>(gbk.data());
      std::size_t inLeft = gbk.size();
      char* o = buffer.data();
      std::size_t oLeft = buffer.size();
      if (iconv(cd_, &in, &inLeft, &o, &oLeft) != static_cast<std::size_t>(-1) &&
          iconv(cd_, nullptr, nullptr, &o, &oLeft) != static_cast<std::size_t>(-1)) {
        return std::string(buffer.data(), static_cast<std::size_t>(o - buffer.data()));
      }
    }
    return "<GBK " + HexText(gbk) + ">";
  }

 private:
  std::string target_;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

bool SimPresentCard(Session& session, const std::string& words) {
  if (words == "none") return true;
  // The same grammar as every --sim-card (KIND ARG...); the kind may be
  // left out, as an identity card is the only kind this command reads.
  const std::string card = words.empty() ? "id" : (words == "id" || words.rfind("id ", 0) == 0) ? words : "id " + words;
  if (!SimRequest(session, "insert " + std::to_string(kSimSeat) + " " + card)) {
    return false;
  }
  std::fprintf(stderr, "kpdev: virtual reader: identity card presented\n");
  return true;
}

// Copies the decoded bitmap to `target`; prints what became of the photo.
void SavePhoto(const std::string& decoded, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (decoded.empty() || !fs::exists(decoded, error)) {
    const std::string directory =
        decoded.empty() ? std::string("the library's directory") : fs::path(decoded).parent_path().string();
    Report::Get().Field("photo", "not decoded (no photo decoder beside the library in " + directory + ")", nullptr);
    return;
  }
  if (fs::exists(target, error) && fs::equivalent(decoded, target, error)) {
    Report::Get().Field("photo", target);
    return;
  }
  fs::copy_file(decoded, target, fs::copy_options::overwrite_existing, error);
  if (error) {
    Report::Get().Field("photo", "not saved to " + target + ": " + error.message() + " (decoded: " + decoded + ")",
                        nullptr);
    return;
  }
  Report::Get().Field("photo", "saved to " + target, target);
}

int RunRead(const GlobalOptions& global, const IdOptions& options) {
  Session session(global, options.reader);
  if (!session.Open()) return session.FailureExit();
  if (session.simulated() && !SimPresentCard(session, options.simCard)) return kExitSimFailed;

  auto storage = std::make_unique<char[]>(kFieldCount * kFieldRoom);
  char* fields[kFieldCount];
  for (int i = 0; i < kFieldCount; ++i) fields[i] = storage.get() + i * kFieldRoom;

  Report::Get().Note("waiting up to " + std::to_string(options.timeoutMs) + " ms for an identity card");
  const int r = KP_DEV_ID_Read(session.handle(), options.timeoutMs, fields);
  if (r == KP_DEV_ERR_ID_TIME_LIMIT) {
    Report::Get().CallFailed("KP_DEV_ID_Read", r,
                             "no identity card within " + std::to_string(options.timeoutMs) + " ms");
    return kExitNoCard;
  }
  if (r != 0) return ReportFailure("KP_DEV_ID_Read", r);

  const FromGbk converter;
  Report& out = Report::Get();
  out.SetLabelWidth(10);
  for (int i = 0; i < kFieldCount - 1; ++i) {
    const std::string value = converter.Convert(fields[i]);
    std::string shown = value;
    // Dates as people write them; the validity is "from-until".
    if (i == 3) shown = IdDate(value) == value ? value : value + " (" + IdDate(value) + ")";
    if (i == 7 && value.size() == 17 && value[8] == '-') {
      shown = value + " (" + IdDate(value.substr(0, 8)) + " to " + IdDate(value.substr(9)) + ")";
    }
    out.Field(kLabels[i], shown, value);
  }
  SavePhoto(fields[kFieldCount - 1], options.photo);
  return kExitOk;
}

void Install(Tool& tool) {
  auto read = std::make_shared<IdOptions>();
  CLI::App* id = tool.AddCommand("id", "read a resident identity card on a type-0 reader", [&tool, read]() -> int {
    if (tool.app().get_subcommand("id")->get_subcommand("read")->parsed()) return RunRead(tool.global(), *read);
    return kExitUsage;
  });
  id->require_subcommand(1);
  CLI::App* readCmd = id->add_subcommand("read", "wait for a card, print its nine fields and save its photo");
  AddReaderOptions(readCmd, &read->reader, ReaderDefaults{0, 9600});
  readCmd->add_option("--timeout", read->timeoutMs, "milliseconds to wait for a card")
      ->check(CLI::Range(0, 600000))
      ->capture_default_str();
  readCmd->add_option("--photo", read->photo, "where to save the photo bitmap")->capture_default_str();
  readCmd
      ->add_option("--sim-card", read->simCard,
                   "with --sim: the card presented: [id] KEY=VALUE... as in the virtual reader's insert request "
                   "(name= sex= nation= birth= address= number= authority= validity= photo=), or none (default: the "
                   "sample card)")
      ->type_name("WORDS");
}

}  // namespace

KPDEV_TOOL_COMMANDS(id, Install);

}  // namespace kpdev::tool
