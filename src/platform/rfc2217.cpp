#include "platform/rfc2217.h"

#include "platform/serial_line.h"

namespace kp::platform::rfc2217 {
namespace {

// RFC 2217 parity and stop-size codes, indexed by the line's own codes
// (parity: none, odd, even, mark, space; stop bits: one, one and a half, two).
constexpr std::uint8_t kParityCode[] = {1, 2, 3, 4, 5};
constexpr std::uint8_t kStopSizeCode[] = {1, 3, 2};

// Options the client takes on (binary data, no go-ahead, and on its own
// side the COM-PORT-OPTION); the server's echo and anything else are
// refused, so every byte received is the device's or the server's message.
bool ServerMay(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }
bool ClientWill(std::uint8_t option) { return ServerMay(option) || option == kComPortOption; }

}  // namespace

void AppendData(Bytes* out, const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out->push_back(data[i]);
    if (data[i] == kIac) out->push_back(kIac);
  }
}

void AppendCommand(Bytes* out, std::uint8_t command, const std::uint8_t* value, std::size_t count) {
  out->insert(out->end(), {kIac, kSb, kComPortOption, command});
  AppendData(out, value, count);
  out->insert(out->end(), {kIac, kSe});
}

void AppendSettings(Bytes* out, const LineSettings& settings) {
  const auto baud = static_cast<std::uint32_t>(settings.baud);
  const std::uint8_t speed[] = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                                static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
  AppendCommand(out, kSetBaudRate, speed, sizeof speed);
  const auto size = static_cast<std::uint8_t>(settings.dataBits);
  AppendCommand(out, kSetDataSize, &size, 1);
  // The serial port accepts only the codes these tables cover.
  const std::uint8_t parity = kParityCode[settings.parity >= 0 && settings.parity <= 4 ? settings.parity : 0];
  AppendCommand(out, kSetParity, &parity, 1);
  const std::uint8_t stop = kStopSizeCode[settings.stopBits >= 0 && settings.stopBits <= 2 ? settings.stopBits : 0];
  AppendCommand(out, kSetStopSize, &stop, 1);
}

Session::Session() {
  for (std::size_t i = 0; i < 256; ++i) us_[i] = him_[i] = Side::kNo;
}

void Session::Start(Bytes* out) {
  out->insert(out->end(), {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kSuppressGoAhead, kIac, kDo,
                           kSuppressGoAhead, kIac, kWill, kComPortOption});
  us_[kBinary] = us_[kSuppressGoAhead] = us_[kComPortOption] = Side::kAsked;
  him_[kBinary] = him_[kSuppressGoAhead] = Side::kAsked;
}

// Option negotiation without loops (after RFC 1143): an answer to what we
// asked is taken silently, a request is answered once, and a refusal of
// what is already off is not answered at all.
void Session::Negotiate(std::uint8_t verb, std::uint8_t option, Bytes* replies) {
  // WILL and WONT are about the server's side of the option, DO and DONT
  // about ours; each side is answered with the other pair.
  const bool serverSide = verb == kWill || verb == kWont;
  Side& side = serverSide ? him_[option] : us_[option];
  const std::uint8_t yes = serverSide ? kDo : kWill;
  const std::uint8_t no = serverSide ? kDont : kWont;
  auto reply = [&](std::uint8_t answer) { replies->insert(replies->end(), {kIac, answer, option}); };
  if (verb == kWill || verb == kDo) {
    if (side == Side::kNo) {
      const bool take = serverSide ? ServerMay(option) : ClientWill(option);
      reply(take ? yes : no);
      if (!take) return;
    }
    side = Side::kYes;
    return;
  }
  if (side == Side::kYes) reply(no);
  if (!serverSide && side != Side::kNo && option == kComPortOption) comPortRefused_ = true;
  side = Side::kNo;
}

void Session::Subnegotiation() {
  // Only the speed's acknowledgement is looked at: the open waits for it.
  // The other acknowledgements, the signature, line and modem state
  // notifications and flow-control requests are read and dropped.
  constexpr std::size_t kSpeedLength = 2 + 4;
  if (subLength_ >= kSpeedLength && sub_[0] == kComPortOption && sub_[1] == kServerOffset + kSetBaudRate) {
    ++speedAcks_;
    ackedSpeed_ = static_cast<std::uint32_t>(sub_[2]) << 24 | static_cast<std::uint32_t>(sub_[3]) << 16 |
                  static_cast<std::uint32_t>(sub_[4]) << 8 | sub_[5];
  }
}

void Session::Take(const std::uint8_t* in, std::size_t count, std::deque<std::uint8_t>* data, Bytes* replies) {
  std::size_t i = 0;
  while (i < count) {
    const std::uint8_t b = in[i];
    bool taken = true;
    switch (state_) {
      case State::kData:
        if (b == kIac) {
          state_ = State::kIac;
        } else {
          data->push_back(b);
        }
        break;
      case State::kIac:
        if (b == kIac) {
          data->push_back(b);
          state_ = State::kData;
        } else if (b >= kWill) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kSb) {
          subLength_ = 0;
          state_ = State::kSub;
        } else {
          // NOP, data mark, break, go-ahead and the other two-byte commands
          // carry nothing for a serial line.
          state_ = State::kData;
        }
        break;
      case State::kVerb:
        Negotiate(verb_, b, replies);
        state_ = State::kData;
        break;
      case State::kSub:
        if (b == kIac) {
          state_ = State::kSubIac;
        } else if (subLength_ < kMaxSub) {
          sub_[subLength_++] = b;
        }
        break;
      case State::kSubIac:
        if (b == kIac) {
          if (subLength_ < kMaxSub) sub_[subLength_++] = b;
          state_ = State::kSub;
        } else if (b == kSe) {
          Subnegotiation();
          state_ = State::kData;
        } else {
          // A command inside a subnegotiation ends it unread; the command
          // itself is taken as such.
          state_ = State::kIac;
          taken = false;
        }
        break;
    }
    if (taken) ++i;
  }
}

}  // namespace kp::platform::rfc2217
