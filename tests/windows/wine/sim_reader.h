// What the tests under Wine share: the virtual reader's control interface,
// reached over Winsock on 127.0.0.1, and a fixture that resets the reader,
// opens the DLL on the reader's COM port and reports what the host put on
// the line.  scripts/test-wine.sh passes the control port in
// KPDEV_SIM_CONTROL and the COM port number in KPDEV_SIM_COM.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace kpwine {

// Hex text without its blanks, in upper case.
std::string Unspaced(std::string hex);

// A command frame as the host sends it: STX, N = data bytes + 2 as four
// nibble characters (0x30 + value), the command code as four, the data as
// two per byte, the XOR of the code's two bytes and the data as two, ETX.
// Returned as hex text.
std::string CommandFrame(std::uint16_t code, const std::string& dataHex = "");

// A caller's text buffer filled with a marker, so that what a call leaves
// alone shows.
struct Text {
  explicit Text(char fill = 'Z') {
    std::memset(chars, fill, sizeof chars);
    chars[sizeof chars - 1] = '\0';
  }
  std::string At(std::size_t from, std::size_t count) const { return std::string(chars + from, count); }
  char chars[1024];
};

class SimReaderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A control request that must succeed; the text after "ok".
  std::string Control(const std::string& line);
  // The reply line as it is ("err ..." included).
  std::string Request(const std::string& line);
  // "COMn:baud:N:8:1" for the reader's port.
  std::string PortText(int baud) const;
  // Opens the reader as a device type and forgets the traffic of the open;
  // the handle is the COM port number.
  void OpenReader(int type, int baud = 9600);
  int h() const { return com_; }
  // The host's bytes (as hex) since the last call or the open, then
  // forgotten; SentAtLeast first waits (up to 2 s) for `count` bytes, for
  // sequences that get no answer and may still be on their way.
  std::string Sent();
  std::string SentAtLeast(std::size_t count);

 private:
  std::uintptr_t socket_ = ~std::uintptr_t{0};
  std::string pending_;
  int com_ = 0;
};

}  // namespace kpwine
