// What the card-technology tests under Wine share: command frames built
// from their documented layout, and a fixture that opens the DLL on the
// virtual reader's COM port with chosen cards in its seats and reports
// what the host put on the line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim_control.h"

namespace kpwine {

// Bytes written as hex text ("1B2442"); blanks are allowed for reading.
Bytes HexBytes(const std::string& text);

// A command frame as the host sends it: STX, N = data bytes + 2 as four
// nibble characters (0x30 + value), the command code as four, the data as
// two per byte, the XOR of the code's two bytes and the data as two, ETX.
Bytes CommandFrame(std::uint16_t code, const std::string& dataHex = "");

// The frame 0xC003 the host issues before a power-on of seats 0 to 4 and
// after a contactless halt.
Bytes C003();

// Several frames back to back, as one run of host bytes.
Bytes Frames(const std::vector<Bytes>& frames);

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

class CardReaderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Switches the reader's firmware family before the open (t1, t61).
  void Family(const std::string& family);
  // Puts a card in a seat: "SEAT KIND [ARG...]".
  void Insert(const std::string& card);
  // Opens the reader as a device type at 9600 baud and forgets the traffic
  // of the open; the handle is the COM port number.
  void OpenReader(int type);
  int h() const { return com_; }

  // A control request that must succeed; the text after "ok".
  std::string Control(const std::string& line);
  // The host's bytes since the last call of Sent or SentAtLeast (or since
  // the open), then forgotten.
  Bytes Sent();
  // As Sent, but first waits (up to 2 s) until at least `count` host bytes
  // have reached the reader: for sequences the reader never answers, whose
  // bytes may still be on their way when the call returns.
  Bytes SentAtLeast(std::size_t count);

  std::unique_ptr<SimControl> control_;
  int com_ = 0;
};

}  // namespace kpwine
