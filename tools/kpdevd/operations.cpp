// Until the tool's operations live in a library of their own, this file
// builds their documents here, field for field as `kpdev --json` does, with
// the tool's decoders (tools/kpdev/decode.h).
#include "operations.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "decode.h"
#include "documents.h"
#include "id_presence.h"
#include "kp_dev.h"
#ifndef _WIN32
#include "ports.h"
#endif

namespace kpdev::service {

namespace {

using kpdev::tool::AtrDocument;
using kpdev::tool::CardKindName;
using kpdev::tool::SplitBars;
using kpdev::tool::TrackDocument;
using kpdev::tool::Visible;

constexpr int kFieldSeat = 255;
constexpr std::size_t kTextRoom = 512;
constexpr std::size_t kTrackRoom = 1024;
constexpr std::size_t kResultRoom = 4096;
constexpr std::size_t kResponseRoom = 2 * 1033 + 8;
constexpr int kIdFields = 9;
constexpr std::size_t kIdFieldRoom = 512;
// The head is asked for a swipe this often while a mag-read waits.
constexpr auto kSwipePoll = std::chrono::milliseconds(100);

std::string PortText(int port, int baud) {
  return "COM" + std::to_string(port) + ":" + std::to_string(baud) + ":N:8:1";
}

std::string Hex2(int byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

// GBK identity texts as UTF-8; bytes that do not convert as \xHH.
std::string FromGbk(const std::string& gbk) {
  bool ascii = true;
  for (unsigned char c : gbk) ascii = ascii && c < 0x80;
  if (ascii) return gbk;
#ifdef _WIN32
  const int size = static_cast<int>(gbk.size());
  const int wide = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), size, nullptr, 0);
  if (wide <= 0) return Visible(gbk);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data(), size, text.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
#else
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return Visible(gbk);
  std::string buffer(gbk.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(gbk.data());
  std::size_t inLeft = gbk.size();
  char* o = buffer.data();
  std::size_t oLeft = buffer.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  if (!ok) return Visible(gbk);
  buffer.resize(buffer.size() - oLeft);
  return buffer;
#endif
}

// The document of one operation, as the tool's report builds it.
class Doc {
 public:
  explicit Doc(const char* command) { doc_["command"] = command; }
  nlohmann::json& operator[](const char* key) { return doc_[key]; }
  // A failed call; returns the exit code as the tool chooses it.
  int Failed(const std::string& call, int code) {
    nlohmann::json error = ResultJson(code);
    error["call"] = call;
    int exit = kExitCallFailed;
    if (code == KP_DEV_ERR_NO_CARD) {
      error["message"] = "no card in the seat or field";
      exit = kExitNoCard;
    } else if (code == KP_DEV_ERR_READ) {
      error["message"] = "nothing answered: is the reader attached, powered, and at this speed?";
      exit = kExitNoReader;
    }
    doc_["error"] = error;
    return exit;
  }
  int Message(const std::string& message, int exit) {
    doc_["error"]["message"] = message;
    return exit;
  }
  nlohmann::json Finish(int exit) {
    doc_["exit"] = exit;
    return std::move(doc_);
  }

 private:
  nlohmann::json doc_ = nlohmann::json::object();
};

// A reader opened for one operation, closed when it goes.
class Opened {
 public:
  Opened(const Request& r, Doc& doc) {
    const std::string text = PortText(r.port, r.baud);
    result_ = KP_DEV_OpenDevice(r.type, text.c_str(), &handle_);
    if (result_ == 0) return;
    const std::string call = "KP_DEV_OpenDevice(" + std::to_string(r.type) + ", \"" + text + "\")";
    // -1 is a port that does not open; anything else is a reader that did
    // not answer the opening sequence.
    exit_ = doc.Failed(call, result_);
    if (result_ == KP_DEV_ERR_OPEN) {
      exit_ = kExitOpenFailed;
    } else {
      exit_ = kExitNoReader;
      doc["error"]["message"] =
          "no reader answering at " + std::to_string(r.baud) + " baud as type " + std::to_string(r.type);
    }
  }
  ~Opened() {
    if (result_ == 0) KP_DEV_CloseDevice(handle_);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  bool ok() const { return result_ == 0; }
  int exit() const { return exit_; }
  int handle() const { return handle_; }

 private:
  int handle_ = 0;
  int result_ = 0;
  int exit_ = kExitOk;
};

int Version(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  doc["reader"] = {{"port", r.port}, {"baud", r.baud}, {"type", r.type}, {"virtual", false}};
  doc["library"] = LibraryVersion();
  char version[4200] = {};
  const int v = KP_DEV_GetDeviceVersion(reader.handle(), version);
  if (v != 0) return doc.Failed("KP_DEV_GetDeviceVersion", v);
  doc["version"] = version;
  int module = -1;
  const int m = KP_DEV_CheckIsOpen(reader.handle(), &module);
  if (m != 0) return doc.Failed("KP_DEV_CheckIsOpen", m);
  doc["module"] = module;
  return kExitOk;
}

int PowerOn(int handle, int seat, Doc& doc) {
  char atr[80] = {};
  int length = 33;
  const int r = KP_DEV_IC_PowerOn(handle, seat, &length, atr);
  if (r != 0) return doc.Failed("KP_DEV_IC_PowerOn", r);
  doc["atr"] = AtrDocument(length > 0 ? atr : "");
  return kExitOk;
}

int Activate(int handle, Doc& doc, bool all) {
  int type = 0, uidLen = 10, atsLen = 254;
  char uid[32] = {}, ats[520] = {};
  const int r = KP_DEV_IC_ConnectlessActive(handle, &type, &uidLen, uid, &atsLen, ats);
  if (r != 0) return doc.Failed("KP_DEV_IC_ConnectlessActive", r);
  if (all) doc["type"] = Hex2(type);
  doc["uid"] = uid;
  if (all) doc["ats"] = atsLen > 0 ? ats : "";
  return kExitOk;
}

int EmvInfo(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  const int h = reader.handle();
  const bool field = r.seat == kFieldSeat;
  if (const int e = field ? Activate(h, doc, false) : PowerOn(h, r.seat, doc)) return e;
  char track2[kTextRoom] = {}, panSeq[kTextRoom] = {}, aid[kTextRoom] = {};
  const int c = KP_DEV_ReadICCardInfo(h, r.seat, 0, track2, panSeq, aid);
  // What was read before a failure is shown too.
  if (aid[0] != '\0') doc["aid"] = aid;
  if (track2[0] != '\0') doc["track2"] = TrackDocument(track2);
  if (panSeq[0] != '\0') doc["panseq"] = panSeq;
  const int exit = c == 0 ? kExitOk : doc.Failed("KP_DEV_ReadICCardInfo", c);
  if (field) {
    KP_DEV_IC_ConnectlessHalt(h);
  } else {
    KP_DEV_IC_PowerOff(h, r.seat);
  }
  return exit;
}

int CpuPowerOn(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  return PowerOn(reader.handle(), r.seat, doc);
}

int CpuApdu(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  if (r.powerOn) {
    if (const int e = PowerOn(reader.handle(), r.seat, doc)) return e;
  }
  doc["exchanges"] = nlohmann::json::array();
  for (const std::string& apdu : r.apdus) {
    std::vector<char> response(kResponseRoom, '\0');
    const int c =
        KP_DEV_IC_SendApdu(reader.handle(), r.seat, 0, apdu.c_str(), static_cast<int>(apdu.size()), response.data());
    if (c != 0) return doc.Failed("KP_DEV_IC_SendApdu", c);
    const std::string answer(response.data());
    const std::string sw = answer.size() >= 4 ? answer.substr(answer.size() - 4) : "";
    doc["exchanges"].push_back(
        {{"command", apdu}, {"response", answer}, {"data", answer.substr(0, answer.size() - sw.size())}, {"sw", sw}});
  }
  return kExitOk;
}

int RfActivate(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  return Activate(reader.handle(), doc, true);
}

int RfReadBlock(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  const int h = reader.handle();
  int type = 0, uidLen = 10, atsLen = 254;
  char uid[32] = {}, ats[520] = {};
  int c = KP_DEV_IC_ConnectlessActiveStoreCard(h, &type, &uidLen, uid, &atsLen, ats);
  if (c != 0) return doc.Failed("KP_DEV_IC_ConnectlessActiveStoreCard", c);
  c = KP_DEV_IC_ConnectlessCertifySector(h, r.sector, r.keyType, r.key.c_str());
  if (c != 0) return doc.Failed("KP_DEV_IC_ConnectlessCertifySector", c);
  doc["sector"] = r.sector;
  char data[33] = {};
  int room = 32;
  c = KP_DEV_IC_ConnectlessReadBlock(h, r.sector, r.block, &room, data);
  if (c != 0) return doc.Failed("KP_DEV_IC_ConnectlessReadBlock", c);
  doc["data"] = data;
  return kExitOk;
}

int MagRead(const Request& r, Doc& doc) {
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  const int h = reader.handle();
  const int a = KP_DEV_Magnetic_Accept(h);
  if (a != 0) return doc.Failed("KP_DEV_Magnetic_Accept", a);
  std::vector<char> track1(kTrackRoom), track2(kTrackRoom);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.timeoutMs);
  int c = KP_DEV_NOTHING_YET;
  for (;;) {
    std::fill(track1.begin(), track1.end(), '\0');
    std::fill(track2.begin(), track2.end(), '\0');
    c = KP_DEV_Magnetic_ReadTrack(h, track1.data(), track2.data());
    if (c != KP_DEV_NOTHING_YET || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kSwipePoll);
  }
  if (c == KP_DEV_NOTHING_YET) {
    KP_DEV_Magnetic_CancelAccept(h);
    return doc.Message("no card swiped within " + std::to_string(r.timeoutMs / 1000) + " s", kExitNoCard);
  }
  if (c != 0) return doc.Failed("KP_DEV_Magnetic_ReadTrack", c);
  doc["track1"] = TrackDocument(Visible(track1.data()), true);
  doc["track2"] = TrackDocument(Visible(track2.data()));
  return kExitOk;
}

int IdRead(const Request& r, Doc& doc) {
  static const char* const kLabels[] = {"name",   "sex",       "nation",   "birth", "address",
                                        "number", "authority", "validity", "photo"};
  Opened reader(r, doc);
  if (!reader.ok()) return reader.exit();
  std::vector<char> storage(kIdFields * kIdFieldRoom, '\0');
  char* fields[kIdFields];
  for (int i = 0; i < kIdFields; ++i) fields[i] = storage.data() + i * kIdFieldRoom;
  const int c = KP_DEV_ID_Read(reader.handle(), r.timeoutMs, fields);
  if (c == KP_DEV_ERR_ID_TIME_LIMIT) {
    doc.Failed("KP_DEV_ID_Read", c);
    return doc.Message("no identity card within " + std::to_string(r.timeoutMs) + " ms", kExitNoCard);
  }
  if (c != 0) return doc.Failed("KP_DEV_ID_Read", c);
  // The photo stays on this machine: its path means nothing to a web page.
  for (int i = 0; i < kIdFields - 1; ++i) doc[kLabels[i]] = FromGbk(fields[i]);
  return kExitOk;
}

// ------------------------------------------------------------ read-any-card

// The library keeps one read-any-card loop per process (its cancel and the
// handle it remembers are process-wide), so loops run one after another.
// A cancel counts: a loop that starts after a cancel it was queued before
// ends at once, and a running one is cancelled again every 50 ms until it
// returns, because the loop clears the library's flag as it starts.
struct LoopControl {
  std::mutex run;  // held by the running loop
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t cancels = 0;  // cancels requested so far
  int waiting = 0;            // loops queued or running
};

LoopControl& Loops() {
  static LoopControl control;
  return control;
}

int ReadAll(const Request& r, std::uint64_t seen, Doc& doc) {
  LoopControl& loops = Loops();
  std::lock_guard<std::mutex> running(loops.run);
  bool done = false;
  bool cancelled = false;
  {
    std::lock_guard<std::mutex> lock(loops.mutex);
    cancelled = loops.cancels != seen;
  }
  int result = KP_DEV_NOTHING_YET;
  int kind = 0;
  std::vector<char> text(kResultRoom, '\0');
  if (!cancelled) {
    std::thread canceller([&] {
      std::unique_lock<std::mutex> lock(loops.mutex);
      while (!done) {
        if (loops.cancels != seen) {
          lock.unlock();
          KP_DEV_CancelReadAll();
          lock.lock();
          loops.changed.wait_for(lock, std::chrono::milliseconds(50));
        } else {
          loops.changed.wait(lock);
        }
      }
    });
    result =
        KP_DEV_ReadAll_A(r.port, 0, static_cast<unsigned>(r.timeoutMs), r.storeCard ? 1 : 0, r.sector, r.block,
                         r.keyType, r.key.c_str(), r.contact ? 1 : 0, r.contactless ? 1 : 0, 0, &kind, text.data());
    {
      std::lock_guard<std::mutex> lock(loops.mutex);
      done = true;
      cancelled = loops.cancels != seen;
    }
    loops.changed.notify_all();
    canceller.join();
  }
  {
    std::lock_guard<std::mutex> lock(loops.mutex);
    --loops.waiting;
  }
  text.back() = '\0';
  if (result == 0) {
    const std::string found(text.data());
    doc["kind"] = {{"code", kind}, {"name", CardKindName(kind)}};
    switch (kind) {
      case 1: {
        const std::vector<std::string> tracks = SplitBars(found);
        doc["track1"] = TrackDocument(Visible(tracks[0]), true);
        doc["track2"] = TrackDocument(tracks.size() < 2 ? "" : Visible(tracks[1]));
        break;
      }
      case 2:
        doc["block"] = found;
        break;
      case 3:
      case 4:
        doc["track2"] = TrackDocument(found);
        break;
      case 5: {
        static const char* const kLabels[] = {"name",   "sex",       "nation",   "birth", "address",
                                              "number", "authority", "validity", "photo"};
        const std::vector<std::string> fields = SplitBars(found);
        for (std::size_t i = 0; i < fields.size() && i < 9; ++i) doc[kLabels[i]] = Visible(fields[i]);
        break;
      }
      default:
        doc["data"] = Visible(found);
    }
    return kExitOk;
  }
  if (result == KP_DEV_NOTHING_YET && cancelled) return doc.Message("cancelled, no card read", kExitCancelled);
  if (result == KP_DEV_NOTHING_YET) {
    return doc.Message("no card within " + std::to_string(r.timeoutMs / 1000) + " s", kExitNoCard);
  }
  return doc.Failed("KP_DEV_ReadAll_A on COM" + std::to_string(r.port), result);
}

}  // namespace

std::uint64_t EnterReadAll() {
  LoopControl& loops = Loops();
  std::lock_guard<std::mutex> lock(loops.mutex);
  ++loops.waiting;
  return loops.cancels;
}

nlohmann::json RunOperation(const Request& request, std::uint64_t ticket) {
  Doc doc(OpName(request.op));
  int exit = kExitUsage;
  switch (request.op) {
    case Op::kVersion:
      exit = Version(request, doc);
      break;
    case Op::kReadAll:
      exit = ReadAll(request, ticket, doc);
      break;
    case Op::kIdRead:
      exit = IdRead(request, doc);
      break;
    case Op::kEmvInfo:
      exit = EmvInfo(request, doc);
      break;
    case Op::kMagRead:
      exit = MagRead(request, doc);
      break;
    case Op::kCpuPowerOn:
      exit = CpuPowerOn(request, doc);
      break;
    case Op::kCpuApdu:
      exit = CpuApdu(request, doc);
      break;
    case Op::kRfActivate:
      exit = RfActivate(request, doc);
      break;
    case Op::kRfReadBlock:
      exit = RfReadBlock(request, doc);
      break;
    default:
      exit = doc.Message("not a reader operation", kExitUsage);
  }
  return doc.Finish(exit);
}

#ifdef _WIN32
// The listing walks /dev and the probe asks the device nodes; the Windows
// build has neither, and names the reader's COM number in each request.
constexpr char kNoListing[] =
    "not available in the Windows build of kpdevd: name the reader's COM number in each request";
#endif

nlohmann::json ListPorts() {
  Doc doc("ports");
#ifdef _WIN32
  return doc.Finish(doc.Message(kNoListing, kExitCallFailed));
#else
  nlohmann::json list = nlohmann::json::array();
  for (const kpdev::tool::PortEntry& entry : kpdev::tool::CollectPorts()) list.push_back(kpdev::tool::PortJson(entry));
  doc["ports"] = list;
  return doc.Finish(kExitOk);
#endif
}

nlohmann::json RunProbe(const Request& request, kpdev::tool::ProbeOptions hooks) {
  Doc doc("probe");
#ifdef _WIN32
  (void)request;
  (void)hooks;
  return doc.Finish(doc.Message(kNoListing, kExitCallFailed));
#else
  hooks.type = request.type;
  hooks.ports = request.ports;
  hooks.quiet = true;
  hooks.note = nullptr;
  // Several threads: the environment is not to be changed.
  hooks.mapUnmapped = false;
  const kpdev::tool::ProbeReport report = kpdev::tool::Probe(hooks);
  for (const auto& [key, value] : report.document.items()) doc[key.c_str()] = value;
  if (report.failure.empty()) return doc.Finish(kExitOk);
  return doc.Finish(doc.Message(report.failure, report.exit));
#endif
}

int CancelReadAll() {
  LoopControl& loops = Loops();
  int waiting = 0;
  {
    std::lock_guard<std::mutex> lock(loops.mutex);
    ++loops.cancels;
    waiting = loops.waiting;
  }
  loops.changed.notify_all();
  return waiting;
}

std::unique_ptr<kpdev::tool::Watcher> MakeEventWatch(int port, int type, int baud, int intervalMs,
                                                     std::function<void(nlohmann::json event)> emit) {
  kpdev::tool::WatchTarget target;
  target.port = port;
  target.type = type;
  target.baud = baud;
  target.intervalMs = intervalMs;
#ifndef _WIN32
  // The identity module is asked on the device node itself; on Windows the
  // library's handle is the only way to the port, so identity cards are
  // not watched there ("id unwatched" is never sent: the check is absent).
  target.identity = [](const std::string& device, int b) { return kpdev::tool::CheckIdentityCard(device, b); };
#endif
  target.pause = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  auto watch =
      std::make_unique<kpdev::tool::Watcher>(target, [port, emit = std::move(emit)](kpdev::tool::WatchEvent event) {
        event.fields["port"] = port;
        emit(std::move(event.fields));
      });
  watch->Start(PortText(port, baud) + " type " + std::to_string(type),
               {{"port", port}, {"type", type}, {"baud", baud}, {"interval_ms", intervalMs}});
  return watch;
}

}  // namespace kpdev::service
