// The driver's one door into the kpdev library. Everything the IFD handler
// asks of the reader goes through ReaderLink, which speaks the library's
// exported C interface only; the handler never sees handles, COM numbers or
// hexadecimal texts. Results are the library's result codes (KP_DEV_OK,
// KP_DEV_ERR_NO_CARD ... from kp_dev.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "wire/bytes.h"

namespace kpifd {

using kp::wire::Bytes;

// Seat states reported by the reader (the library's numbering).
enum SeatState : int { kSeatEmpty = 1, kSeatUnpowered = 2, kSeatPowered = 3, kSeatMute = 4, kSeatHalted = 20 };

constexpr int kContactSeat = 0;
constexpr int kFieldSeat = 255;

struct Activation {
  int type = 0;
  Bytes uid;
  Bytes ats;  // empty for a sector card
};

class ReaderLink {
 public:
  // Opens the reader of device type `type` on `device`. baud 0 searches the
  // speeds in the library's order and keeps the first at which the reader
  // answers its version request. On failure `why` says what went wrong.
  static std::unique_ptr<ReaderLink> open(const std::string& device, int type, int baud, std::string& why);
  ~ReaderLink();
  ReaderLink(const ReaderLink&) = delete;
  ReaderLink& operator=(const ReaderLink&) = delete;

  int com() const { return com_; }
  int baud() const { return baud_; }
  const std::string& version() const { return version_; }

  // The presence poll.  The library keeps the line in step: after an APDU
  // whose answer came too late, this request waits for that answer and
  // drops it, so a late APDU answer is never read as a seat state (pcscd
  // would take the state it lacks for a card removed).
  int seat_state(int seat, int& state);
  int power_on(int seat, Bytes& atr);
  int power_off(int seat);
  // Raw APDU exchange; the answer ends in SW1 SW2.
  int apdu(int seat, const std::uint8_t* cmd, std::size_t len, Bytes& answer);

  int activate(Activation& card);
  int halt();
  int authenticate(int sector, int key_type, const std::uint8_t key[6]);
  int read_block(int block, std::uint8_t out[16]);
  int write_block(int block, const std::uint8_t in[16]);

  // Largest APDU the reader's command frame carries.
  static constexpr std::size_t kMaxApdu = 1032;

 private:
  ReaderLink(int com, int handle, int baud) : com_(com), handle_(handle), baud_(baud) {}
  int com_;
  int handle_;
  int baud_;
  std::string version_;
};

}  // namespace kpifd
