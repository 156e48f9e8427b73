#include "watcher.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "decode.h"
#include "documents.h"
#include "kp_dev.h"
#include "platform/network_target.h"
#include "wire/com_port.h"

namespace kpdev::tool {

namespace {

constexpr int kContactSeat = 0;
constexpr int kFieldSeat = 255;
constexpr int kEmpty = 1, kPresent = 2, kPowered = 3;  // seat states as the status command reports them
constexpr std::size_t kTrackRoom = 1024;

std::string Hex2(int byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

}  // namespace

std::string ComDevicePath(int port) {
  const char* value = std::getenv(kp::wire::ComVariable(port).c_str());
#ifdef _WIN32
  if (value != nullptr && kp::platform::IsNetworkTarget(value)) return value;
  return "\\\\.\\COM" + std::to_string(port);
#else
  return kp::wire::PosixComPath(port, value);
#endif
}

namespace {

// Local time with milliseconds.
std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40], out[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(out, sizeof out, "%s.%03d", text, static_cast<int>(ms));
  return out;
}

}  // namespace

WatchEvent MakeWatchEvent(const std::string& where, const std::string& what, const std::string& details,
                          nlohmann::json fields, const std::vector<std::string>& more) {
  WatchEvent event;
  const std::string time = Now();
  fields["time"] = time;
  fields["where"] = where;
  fields["event"] = what;
  event.fields = std::move(fields);
  char line[160];
  std::snprintf(line, sizeof line, "%s  %-9s %-9s", time.c_str(), where.c_str(), what.c_str());
  event.lines.push_back(std::string(line) + (details.empty() ? "" : " " + details));
  event.lines.insert(event.lines.end(), more.begin(), more.end());
  return event;
}

Watcher::Watcher(WatchTarget target, Sink sink)
    : target_(std::move(target)),
      sink_(std::move(sink)),
      open_(target_.opened),
      idServed_(target_.type == 0 && target_.identity) {
  if (!target_.pause) target_.pause = [](int) {};
}

Watcher::~Watcher() = default;

std::string Watcher::PortText() const {
  return "COM" + std::to_string(target_.port) + ":" + std::to_string(target_.baud) + ":N:8:1";
}

void Watcher::Event(const std::string& where, const std::string& what, const std::string& details,
                    nlohmann::json fields, const std::vector<std::string>& more) {
  sink_(MakeWatchEvent(where, what, details, std::move(fields), more));
}

void Watcher::Start(const std::string& details, nlohmann::json fields) {
  Event("reader", "watching", details, std::move(fields));
  if (open_) ArmHead();
}

void Watcher::Release() {
  if (open_) KP_DEV_CloseDevice(target_.port);
  open_ = false;
  headArmed_ = false;
}

bool Watcher::Open() {
  int handle = 0;
  const int r = KP_DEV_OpenDevice(target_.type, PortText().c_str(), &handle);
  if (r != 0) return Lost(r);
  open_ = true;
  ArmHead();
  return true;
}

bool Watcher::Poll() {
  if (!open_ && !Open()) return false;
  int state = -1;
  int r = 0;
  if (contactServed_) {
    r = KP_DEV_IC_GetStatus(target_.port, kContactSeat, &state);
    // A reader of another module (the magnetic head's) has no seats.
    if (r == KP_DEV_ERR_NOT_SUPPORTED) {
      contactServed_ = fieldServed_ = false;
    } else if (r != 0) {
      return Lost(r);
    } else {
      Contact(state);
    }
  }
  if (fieldServed_) {
    state = -1;
    r = KP_DEV_IC_GetStatus(target_.port, kFieldSeat, &state);
    if (r == KP_DEV_ERR_NOT_SUPPORTED) {
      fieldServed_ = false;
    } else if (r != 0) {
      return Lost(r);
    } else {
      Field(state);
    }
  }
  if (headArmed_) ReadHead(true);
  if (headBehindModule_) HeadThroughMagneticModule();
  if (idServed_) return Identity();
  return true;
}

bool Watcher::Reopen() {
  KP_DEV_CloseDevice(target_.port);
  open_ = false;
  int h = 0;
  if (KP_DEV_OpenDevice(target_.type, PortText().c_str(), &h) != 0) return false;
  open_ = true;
  int state = -1;
  const int r = KP_DEV_IC_GetStatus(h, kContactSeat, &state);
  if (r != 0 && r != KP_DEV_ERR_NOT_SUPPORTED) return false;
  lost_ = false;
  contact_ = field_ = id_ = -1;
  Event("reader", "back", "answering again");
  ArmHead();
  return true;
}

bool Watcher::Lost(int r) {
  if (!lost_) {
    lost_ = true;
    Event("reader", "lost", ResultText(r) + "; retrying every " + std::to_string(target_.intervalMs) + " ms",
          {{"result", ResultJson(r)}});
  }
  return false;
}

void Watcher::Contact(int state) {
  if (state == contact_) return;
  const int before = contact_;
  contact_ = state;
  const nlohmann::json code{{"state", {{"code", state}, {"name", CardStateName(state)}}}};
  if (state == kEmpty) {
    Event("seat 0", before < 0 ? "empty" : "removed", "", code);
    return;
  }
  if (state == kPresent || state == kPowered) {
    if (before <= kEmpty) Event("seat 0", "inserted", CardStateName(state), code);
    if (target_.powerOn) PowerOn();
    return;
  }
  Event("seat 0", "state", std::to_string(state) + " (" + CardStateName(state) + ")", code);
}

void Watcher::PowerOn() {
  char atr[80] = {};
  int length = 33;
  const int r = KP_DEV_IC_PowerOn(target_.port, kContactSeat, &length, atr);
  if (r != 0) {
    Event("seat 0", "no-atr", ResultText(r), {{"result", ResultJson(r)}});
    return;
  }
  contact_ = kPowered;
  Bytes bytes;
  HexToBytes(atr, &bytes);
  const Atr parsed = ParseAtr(bytes);
  const nlohmann::json fields{{"atr", AtrDocument(atr)}};
  Event("seat 0", "powered", std::string("ATR ") + atr, fields, AtrLines(parsed, "    "));
}

void Watcher::Field(int state) {
  if (state == field_) return;
  const int before = field_;
  field_ = state;
  if (state == kEmpty) {
    Event("field", before < 0 ? "empty" : "left", "");
    return;
  }
  if (state == kPresent && before != kPowered) {
    int type = 0, uidLen = 10, atsLen = 254;
    char uid[32] = {}, ats[520] = {};
    const int r = KP_DEV_IC_ConnectlessActive(target_.port, &type, &uidLen, uid, &atsLen, ats);
    if (r != 0) {
      Event("field", "arrived", "(not activated: " + ResultText(r) + ")", {{"result", ResultJson(r)}});
      return;
    }
    field_ = kPowered;
    Event("field", "arrived",
          std::string("UID ") + uid + ", type " + Hex2(type) + (atsLen > 0 ? std::string(", ATS ") + ats : ""),
          {{"uid", uid}, {"type", Hex2(type)}, {"ats", atsLen > 0 ? ats : ""}});
    return;
  }
  if (state == kPowered && before <= kEmpty) {
    Event("field", "arrived", "(already activated)");
    return;
  }
  Event("field", "state", std::to_string(state) + " (" + CardStateName(state) + ")",
        {{"state", {{"code", state}, {"name", CardStateName(state)}}}});
}

void Watcher::ArmHead() {
  headArmed_ = KP_DEV_Magnetic_Accept(target_.port) == 0;
  // A type-1 reader serves its seats through the IC module; its head is
  // reached through the magnetic module, visited once per poll.
  headBehindModule_ = !headArmed_ && target_.type == 1;
}

// One visit to the head of a type-1 reader: the port is reopened as a
// type-2 reader (module B), the head armed, and a card swiped since the
// last visit, which waited at the head, comes over and is read; the head
// is then disarmed, so that a card swiped after the visit waits at the
// head for the next one, and the port reopened as type 1 (module I).
void Watcher::HeadThroughMagneticModule() {
  constexpr int kHeadAnswerMs = 50;  // the head hands a waiting card over at once
  constexpr int kDisarmRaceMs = 30;  // a swipe just before the disarm is then on the line
  const std::string portText = PortText();
  int h = 0;
  if (KP_DEV_OpenDevice(2, portText.c_str(), &h) == 0) {
    ReadHead(false);  // what the last visit's closing kept
    if (KP_DEV_Magnetic_Accept(h) == 0) {
      target_.pause(kHeadAnswerMs);
      ReadHead(false);
      KP_DEV_Magnetic_CancelAccept(h);
      target_.pause(kDisarmRaceMs);
    }
  }
  if (KP_DEV_OpenDevice(1, portText.c_str(), &h) != 0) Lost(KP_DEV_ERR_OPEN);
}

// The identity module's own presence check, without reading the card: it
// is asked on a line of its own while the library's handle is closed
// (id_presence.h); a type-0 reader is reopened without a byte sent.
bool Watcher::Identity() {
  KP_DEV_CloseDevice(target_.port);
  const IdPresence presence = target_.identity(ComDevicePath(target_.port), target_.baud);
  int h = 0;
  const int r = KP_DEV_OpenDevice(target_.type, PortText().c_str(), &h);
  if (r != 0) {
    open_ = false;
    return Lost(r);
  }
  if (presence == IdPresence::kUnavailable || presence == IdPresence::kNoModule) {
    idServed_ = false;
    Event("id", "unwatched",
          presence == IdPresence::kNoModule ? "no identity module answered" : "the device cannot be asked directly");
    return true;
  }
  const int state = presence == IdPresence::kPresent ? kPresent : kEmpty;
  if (state == id_) return true;
  const int before = id_;
  id_ = state;
  if (state == kPresent) {
    Event("id", "present", "identity card present ('kpdev id read' reads it)");
  } else {
    Event("id", before < 0 ? "empty" : "removed", "");
  }
  return true;
}

// Reports the swipe the head has for us, if any; rearm: arm the head again
// after a card (it is armed for one card and for 29 s).
void Watcher::ReadHead(bool rearm) {
  char track1[kTrackRoom] = {}, track2[kTrackRoom] = {};
  const int r = KP_DEV_Magnetic_ReadTrack(target_.port, track1, track2);
  if (r == KP_DEV_NOTHING_YET) return;
  if (r == 0) {
    const Track t1 = ParseTrack1(track1), t2 = ParseTrack2(track2);
    const nlohmann::json fields{{"track1", TrackDocument(track1, true)}, {"track2", TrackDocument(track2)}};
    std::vector<std::string> more;
    for (const auto& [label, value] : TrackFields(t2.ok ? t2 : t1)) more.push_back("    " + label + " " + value);
    Event("head", "swipe",
          std::string("track1 ") + (track1[0] ? track1 : "-") + "  track2 " + (track2[0] ? track2 : "-"), fields, more);
  } else if (r != KP_DEV_ERR_WAIT) {
    Event("head", "failed", ResultText(r), {{"result", ResultJson(r)}});
  }
  if (rearm) ArmHead();
}

}  // namespace kpdev::tool
