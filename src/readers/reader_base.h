// CReaderBase: what the three reader classes share — the serial port, the
// framed command exchange, status mapping, module escape sequences and the
// buzzer.
#pragma once

#include <cstddef>
#include <string>

#include "base/convert.h"
#include "readers/reader.h"
#include "serial/serial_port.h"

namespace kp {

// Work buffers of command and response texts.
constexpr std::size_t kTextBuffer = 2080;
// Longest command data text: frame text and its NUL must fit kTextBuffer.
constexpr int kMaxDataChars = 2066;
// Restarts of an exchange whose answer does not begin with STX.
constexpr int kMaxNonStxRestarts = 3;
constexpr int kDefaultTimeoutMs = 800;

// Baud code of the device commands and escape sequences:
// 19200 → 1, 38400 → 2, 57600 → 3, 115200 → 4, anything else → 0.
int BaudCode(int baud);
// Device status word → result code (0, -305 … -328, or -9).
int MapStatusWord(int status);

class CReaderBase : public CReader {
 public:
  ~CReaderBase() override = default;

  int SelectModuleB() override;
  int SelectModuleI(int baudCode) override;
  int SelectModuleS(int baudCode) override;
  int ReadModuleReply() override;
  int SetDeviceModule(int module) override;
  int CheckIsOpen() override;
  int IC_Voice(int on) override;
  int MapStatus(int status) override;
  int Exchange(int command, const char* data, int length, char* response, int timeoutMs) override;

  CSerialPort& serialPort() { return port_; }
  int portNumber() const { return portNumber_; }
  int baudRate() const { return baudRate_; }

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

 protected:
  // Exchange with an explicit response room (the slot form assumes
  // kTextBuffer bytes).  An answer that announces more body than room - 1
  // characters is refused with -8 and the input is discarded.
  int ExchangeInto(int command, const char* data, int length, char* response, std::size_t room, int timeoutMs);

  // Drops input nobody waits for any more (an answer that came after its
  // command timed out), so the next command reads its own answer; traced.
  void DropStaleInput(bool tracing);
  // Reads and drops count bytes, giving up at the first read that times out.
  void DiscardInput(std::size_t count, int timeoutMs);
  // Records module, port and baud of an open.
  void SetOpenTarget(int deviceType, const PortSpec& target, bool storeType5AsZero);
  // Writes raw bytes, then reads the module reply.
  int SendEscape(const std::uint8_t* bytes, std::uint16_t length);

  CSerialPort port_;
  int portNumber_ = 0;
  int baudRate_ = 0;
};

}  // namespace kp
