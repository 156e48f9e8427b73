// One request of a WebSocket client, checked before anything is queued for
// a reader: the text must be one JSON object with a known "op", and every
// value the operation uses must be in range.  Pure: nothing here talks to a
// reader or a socket, so the parser can be driven by any bytes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace kpdev::service {

enum class Op {
  kHello,        // pairing token
  kVersion,      // open, version text and module, close
  kReadAll,      // the read-any-card loop
  kCancel,       // ends waiting read-any-card loops
  kIdRead,       // identity card on a type-0 reader
  kEmvInfo,      // bank card: AID, Track 2, PAN sequence number
  kMagRead,      // magnetic tracks after a swipe
  kCpuPowerOn,   // contact seat: answer to reset
  kCpuApdu,      // contact seat: APDUs
  kRfActivate,   // contactless card in the field: type, UID, ATS
  kRfReadBlock,  // store card: authenticate a sector, read a block
  kSubscribe,    // events of a reader
  kUnsubscribe,
  kPorts,  // the serial devices and their COM numbers; opens nothing
  kProbe,  // which readers answer on which ports (those in use left alone)
};

// The op's name on the wire ("read-all", ...).
const char* OpName(Op op);

struct Request {
  nlohmann::json id;  // echoed in the answer; null when the client gave none
  Op op = Op::kVersion;
  int port = 1;
  int type = 1;  // probe: -1 for every family
  int baud = 9600;
  int seat = 0;
  int timeoutMs = 0;  // read-all, mag-read, id-read
  bool storeCard = false;
  bool contact = true;
  bool contactless = true;
  int sector = 1;
  int block = 0;
  int keyType = 0x60;
  std::string key = "FFFFFFFFFFFF";
  std::vector<std::string> apdus;  // upper-case hex
  bool powerOn = true;             // cpu-apdu: power the card on first
  int intervalMs = 500;            // subscribe
  std::string token;               // hello
  std::vector<int> ports;          // probe: the COM numbers to search; empty: all
};

// Limits of one request; longer texts are refused before they are parsed.
constexpr std::size_t kMaxApdus = 32;
constexpr std::size_t kMaxApduHex = 2 * 261;

// Parses one message.  false with `error` (one line, no echo of the
// client's values) when it is not a valid request; `out->id` is set as far
// as it could be read, so the refusal can still name the request.
bool ParseRequest(std::string_view text, Request* out, std::string* error);

}  // namespace kpdev::service
