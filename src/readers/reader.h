// CReader, the reader core, and what its modules share.  Every device
// operation is written once, in the module of its technology; where the
// reader families differ, the operation consults the family it was made for
// (readers/family.h, where the differences stand side by side).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/convert.h"
#include "readers/family.h"
#include "serial/port_text.h"
#include "serial/serial_port.h"

namespace kp {

// Work buffer of a command frame, and the bound of the texts the device
// exchanges.
constexpr std::size_t kTextBuffer = 2080;
// Longest command data text: frame text and its NUL must fit kTextBuffer.
constexpr int kMaxDataChars = 2066;
// Longest answer body taken, in characters.
constexpr std::size_t kMaxBodyChars = kTextBuffer - 1;
// Restarts of an exchange whose answer does not begin with STX.
constexpr int kMaxNonStxRestarts = 3;
constexpr int kDefaultTimeoutMs = 800;

// Baud code of the device commands and escape sequences:
// 19200 → 1, 38400 → 2, 57600 → 3, 115200 → 4, anything else → 0.
int BaudCode(int baud);
// Device status word → result code (0, -305 … -328, or -9).
int MapStatusWord(int status);
// What is left of timeoutMs since the tick `start` (0 once it has passed).
int RemainingMs(std::uint32_t start, int timeoutMs);

// Value blocks are addressed by sector and block in the interface and by
// one absolute block number on the device.  Any argument values are
// accepted: the arithmetic wraps as 32-bit two's complement (what callers
// of the original platform got), computed unsigned so it never overflows.
inline int AbsoluteBlock(int sector, int block) {
  const std::uint32_t wrapped = static_cast<std::uint32_t>(sector) * 4u + static_cast<std::uint32_t>(block);
  return static_cast<int>(wrapped);
}

// Base of the per-reader state blocks of the modules (CReader::State).
class ModuleState {
 public:
  virtual ~ModuleState() = default;
};

// The reader core: one reader on one serial port.  It owns the port, the
// family the reader was made for, the module the open selected, the frame
// exchange and the escape sequences; the card technologies are modules over
// it (readers/module.h), each in a header and source of its own.
class CReader {
 public:
  explicit CReader(const ReaderFamily& family) : family_(family), opened_(&OpenedModuleOf(-1)) {}
  ~CReader() = default;  // closes the serial port, sends nothing
  CReader(const CReader&) = delete;
  CReader& operator=(const CReader&) = delete;

  const ReaderFamily& family() const { return family_; }

  // ---- open, close and the module switch (reader.cpp)
  int OpenDevice(int deviceType, const PortSpec& target);
  int CloseDevice();
  int SetDeviceModule(int module);
  int CheckIsOpen() const { return openedType; }
  // The buzzer: answered by nothing, served by every open.
  int IC_Voice(int on);
  int SelectModuleB();
  int SelectModuleI(int baudCode);
  int SelectModuleS(int baudCode);
  int ReadModuleReply();
  // The ESC $ sequence of escape ('I', 'B', 'S'); -20 for none.
  int SelectModule(char escape, int baudCode);

  // ---- the gate
  // 0 when this reader, as opened, serves tech and knows feature; else -20.
  // Reached through Use<Module> (readers/module.h), never per operation:
  // each module declares its technology once (kTech); a feature that every
  // operation of a module needs is the module's too (kFeature, AT45DB041),
  // one that only some operations need (password read-back, the AT88SC102
  // erase, the AT88SC1608 extras) is named by the export with the operation.
  int Gate(Tech tech, unsigned feature = kNoFeature) const;

  // ---- the frame exchange (reader.cpp)
  // One command frame and its answer.  data is the command data as the
  // device reads it: hex text of the fields, callers' texts among them as
  // they came (at most kMaxDataChars, else -5).  *body receives the
  // answer's body characters as sent (status word and data, two a byte);
  // an answer announcing more than kMaxBodyChars is refused with -8 and the
  // rest of it read and dropped.
  int Exchange(int command, std::string_view data, std::string* body, int timeoutMs);

  // One decoded answer of the command pattern.
  struct Reply {
    int status = 0;  // device status word
    Bytes data;      // body bytes after the status word
  };

  // The command pattern shared by nearly every device operation: exchange
  // the command, decode the answer, map its status word.  Returns the
  // exchange's failure, else (when mapStatus) the mapped status word; the
  // reply is filled whenever the exchange itself succeeded.
  int Command(int command, const std::string& dataHex, int timeoutMs, Reply* reply, bool mapStatus = true);

  // Reads and drops count bytes, giving up at the first read that times
  // out; true when all came.
  bool DiscardInput(std::size_t count, int timeoutMs);
  // The answer being read broke off or was garbled: the line is out of step
  // until it has been quiet.  Returns result.
  int Broken(int result);
  // Writes raw bytes, then reads the module reply.
  int SendEscape(const std::uint8_t* bytes, std::uint16_t length);

  CSerialPort& serialPort() { return port_; }
  int portNumber() const { return portNumber_; }
  int baudRate() const { return baudRate_; }
  // What the last open selected (readers/family.h).
  const OpenedModule& opened() const { return *opened_; }

  // Device type of the last open (type 5 stored as 0 where the family says
  // so), -1 before: it names the module the open switched the reader to
  // (1 the IC module, 2 the magnetic head, 3 the S module; 0, 61 and 62
  // have no module switch).  KP_DEV_CheckIsOpen reports it as the "module".
  int openedType = -1;

  // ---- state a module keeps for the life of the reader
  // The module's own block (the answers to reset of the cached seats, the
  // arm of the magnetic head, the path of the last photo), made on first
  // use; S derives from ModuleState.  The core knows none of them.
  template <typename S>
  S& State() {
    static const std::size_t slot = NextStateSlot();
    if (states_.size() <= slot) states_.resize(slot + 1);
    if (!states_[slot]) states_[slot] = std::make_unique<S>();
    return static_cast<S&>(*states_[slot]);
  }

 private:
  static std::size_t NextStateSlot();

  const ReaderFamily& family_;
  const OpenedModule* opened_;
  CSerialPort port_;
  int portNumber_ = 0;
  int baudRate_ = 0;
  std::vector<std::unique_ptr<ModuleState>> states_;
};

}  // namespace kp
