// The client's half of Telnet with the COM-PORT-OPTION (RFC 2217), as pure
// functions and one state machine on bytes: no socket, no clock.
//
// Every byte the library writes travels as data, a 0xFF doubled (IAC IAC);
// line settings, control lines and purges travel as subnegotiations
// IAC SB COM-PORT-OPTION <command> <value> IAC SE.  What the device server
// sends back is split into the device's data and the server's own
// messages: option negotiation (answered), acknowledgements of the
// commands (the speed's is counted, the open waits for it), and
// notifications of line and modem state (read and ignored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "base/convert.h"

namespace kp::platform {
struct LineSettings;
}

namespace kp::platform::rfc2217 {

// Telnet commands.
constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

// Telnet options.
constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kEcho = 1;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands, client to server; the server answers each with
// the same command plus 100.
constexpr std::uint8_t kSignature = 0;
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;

// SET-CONTROL values for the two lines the serial port drives.
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kRtsOff = 12;
// PURGE-DATA: the server's buffer of what the device sent (receive), and
// both that and the one towards the device.
constexpr std::uint8_t kPurgeReceived = 1;
constexpr std::uint8_t kPurgeBoth = 3;

// Appends data bytes as they travel: each 0xFF doubled.
void AppendData(Bytes* out, const std::uint8_t* data, std::size_t count);
// Appends IAC SB COM-PORT-OPTION command value IAC SE (the value escaped).
void AppendCommand(Bytes* out, std::uint8_t command, const std::uint8_t* value, std::size_t count);
// SET-BAUDRATE (four bytes, high first), SET-DATASIZE, SET-PARITY and
// SET-STOPSIZE for the settings.
void AppendSettings(Bytes* out, const LineSettings& settings);

// One connection's Telnet state: what the client asked for and what the
// server has said, read from the bytes it sent, in order, whatever their
// split into reads.
class Session {
 public:
  Session();

  // What a new connection starts with: binary transmission and suppressed
  // go-ahead both ways, and the client's WILL COM-PORT-OPTION.
  void Start(Bytes* out);

  // Data bytes go to `data` (IAC IAC as one 0xFF); what the server's option
  // negotiation calls for is appended to `replies`, to be sent back.  Bytes
  // of a message split over two reads wait for the rest.
  void Take(const std::uint8_t* in, std::size_t count, std::deque<std::uint8_t>* data, Bytes* replies);

  // The server said it will not take COM-PORT-OPTION commands (DONT).
  bool comPortRefused() const { return comPortRefused_; }
  // Acknowledgements of SET-BAUDRATE so far, and the speed of the last.
  unsigned speedAcks() const { return speedAcks_; }
  std::uint32_t ackedSpeed() const { return ackedSpeed_; }

 private:
  enum class State { kData, kIac, kVerb, kSub, kSubIac };
  enum class Side : std::uint8_t { kNo, kYes, kAsked };

  void Negotiate(std::uint8_t verb, std::uint8_t option, Bytes* replies);
  void Subnegotiation();

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  // The subnegotiation being read: option, command and value, cut at
  // kMaxSub bytes (no message of the option is longer; the rest of a longer
  // one is read and dropped).
  static constexpr std::size_t kMaxSub = 16;
  std::uint8_t sub_[kMaxSub] = {};
  std::size_t subLength_ = 0;
  // Options on our side (WILL/WONT) and on the server's (DO/DONT).
  Side us_[256];
  Side him_[256];
  bool comPortRefused_ = false;
  unsigned speedAcks_ = 0;
  std::uint32_t ackedSpeed_ = 0;
};

}  // namespace kp::platform::rfc2217
