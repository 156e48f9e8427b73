// What the memory-card operations (SLE44x8, AT88SC, AT24Cxx/AT45DB041)
// share: their device commands, the fixed-width fields of their data texts
// and the rules by which answers reach the caller's buffers.
//
// Bad arguments end an operation with -5 before anything is sent: a null
// text, or a null output that the operation would write, is refused rather
// than dereferenced, and a data text too long for one command frame is
// refused rather than cut.  Only the SLE4428 protection flags are optional:
// a null flag buffer just skips them.
#pragma once

#include <string>

#include "base/convert.h"
#include "readers/module.h"

namespace kp {
namespace memory {

// Every memory-card command gets the same answer time on every reader family.
constexpr int kTimeoutMs = 800;

constexpr int kCmdVerifyPwd = 0x3234;
constexpr int kCmdRead = 0x3235;
constexpr int kCmdWrite = 0x3236;
constexpr int kCmdReadPwd = 0x3237;
constexpr int kCmdModifyPwd = 0x3238;
constexpr int kCmdFuse = 0x3239;
constexpr int kCmdReadProtection = 0x323A;
constexpr int kCmdWriteProtection = 0x323B;
constexpr int kCmdReadCounter = 0x323C;
constexpr int kCmdInitAuthentication = 0x323D;
constexpr int kCmdAuthentication = 0x323E;
constexpr int kCmdReadFuse = 0x323F;
constexpr int kCmdEraseOrConditionalWrite = 0x3240;

// Arguments become text fields through their low 16 bits, taken unsigned;
// addresses and lengths are range-checked in that form too.
inline unsigned Low16(int value) { return static_cast<unsigned>(value) & 0xFFFFu; }

// Number of bytes a hex text stands for: its characters / 2, rounded down.
int ByteCount(const char* hex);

// Builds a command data text field by field.  A value wider than its field
// is printed in full and the field grows, as the device has always received
// it; such values are the caller's responsibility.
class Fields {
 public:
  Fields& Byte(int value);     // "%02X"
  Fields& Word(int value);     // "%04X"
  Fields& Address(int value);  // low byte, then high byte, "%02X" each
  Fields& Text(const char* hex);
  const std::string& str() const { return text_; }

 private:
  void Append(const char* format, unsigned value);
  std::string text_;
};

// A read delivers only a complete answer: when it holds exactly n bytes
// (n > 0) they are appended as hex text at the NUL of out, which is
// terminated again; any other answer leaves out as it was.
void AppendExactRead(const Bytes& data, unsigned n, char* out);

// The SLE4428 read answers either the n data bytes or the n data bytes
// followed by one protection flag per byte.  The data go to dataOut as
// AppendExactRead does; the flags are printed "%d" one after another from
// the start of protectOut, each print starting one character after the
// previous one (so 0/1 flags give n digits).  A null protectOut skips them.
void DeliverSle4428Read(const Bytes& data, unsigned n, char* dataOut, char* protectOut);

// A counter or fuse value: the first answer byte, 0 when there is none.
inline int FirstByte(const Bytes& data) { return data.empty() ? 0 : data[0]; }

// What the memory-card modules share on the reader: a data read appended to
// dataOut; a counter stored at count (when deliver, also on an error
// status); a password read back into pwdOut; a password change; a plain
// write; the text check of the family.  Every memory chip is a card
// technology.
class MemoryModule : public Module {
 public:
  static constexpr Tech kTech = Tech::kCard;
  using Module::Module;

 protected:
  int ReadMemory(int command, const std::string& dataHex, int length, char* dataOut);
  int ReadCounter(const std::string& dataHex, int* count, bool deliver = true);
  int ReadPwdData(const std::string& dataHex, char* pwdOut);
  int ChangePassword(Fields head, const char* pwdHex);
  // The plain write; zone (optional) follows the seat.
  int WriteMemory(int seat, const int* zone, int address, const char* dataHex);
  bool TextOk(const char* text) const;
};

}  // namespace memory
}  // namespace kp
