#include "card_reader.h"

#include <windows.h>

#include <cstdio>

#include "kp_dev.h"

namespace kpwine {
namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void PutNibbles(Bytes& wire, unsigned value, int count) {
  for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) {
    wire.push_back(static_cast<std::uint8_t>(0x30 + ((value >> shift) & 0x0F)));
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find(' ', at);
    const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!word.empty()) words.push_back(word);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return words;
}

}  // namespace

Bytes HexBytes(const std::string& text) {
  Bytes bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int v = Nibble(c);
    if (v < 0) throw ControlError("not hex: '" + text + "'");
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) throw ControlError("odd hex text: '" + text + "'");
  return bytes;
}

Bytes CommandFrame(std::uint16_t code, const std::string& dataHex) {
  const Bytes data = HexBytes(dataHex);
  std::uint8_t sum = static_cast<std::uint8_t>((code >> 8) ^ (code & 0xFF));
  for (std::uint8_t b : data) sum ^= b;
  Bytes wire{0x02};
  PutNibbles(wire, static_cast<unsigned>(data.size() + 2), 4);
  PutNibbles(wire, code, 4);
  for (std::uint8_t b : data) PutNibbles(wire, b, 2);
  PutNibbles(wire, sum, 2);
  wire.push_back(0x03);
  return wire;
}

Bytes C003() { return CommandFrame(0xC003); }

Bytes Frames(const std::vector<Bytes>& frames) {
  Bytes all;
  for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

void CardReaderTest::SetUp() {
  control_ = std::make_unique<SimControl>(ControlPortFromEnv());
  com_ = ComPortFromEnv();
  // Every test starts from the same reader: default family and speed, the
  // IC module on the line, no armed fault, empty seats, an idle head.
  control_->Ok("fault clear");
  control_->Ok("family t1");
  control_->Ok("baud 9600");
  control_->Ok("module I");
  for (const std::string& word : Words(control_->Ok("cards"))) {
    control_->Ok("remove " + word.substr(0, word.find('=')));
  }
  control_->Request("head drop");  // "err" when no card is held: fine
  control_->Ok("clear");
}

void CardReaderTest::TearDown() {
  KP_DEV_CloseDevice(com_);
  for (const std::string& word : Words(control_->Ok("cards"))) {
    control_->Request("remove " + word.substr(0, word.find('=')));
  }
}

void CardReaderTest::Family(const std::string& family) { control_->Ok("family " + family); }

void CardReaderTest::Insert(const std::string& card) { control_->Ok("insert " + card); }

void CardReaderTest::OpenReader(int type) {
  char port[64];
  std::snprintf(port, sizeof port, "COM%d:9600:N:8:1", com_);
  int handle = 0;
  ASSERT_EQ(KP_DEV_OpenDevice(type, port, &handle), 0);
  ASSERT_EQ(handle, com_);
  control_->Ok("clear");
}

std::string CardReaderTest::Control(const std::string& line) { return control_->Ok(line); }

Bytes CardReaderTest::Sent() {
  const Bytes sent = control_->Traffic("H>D");
  control_->Ok("clear");
  return sent;
}

Bytes CardReaderTest::SentAtLeast(std::size_t count) {
  const ULONGLONG deadline = GetTickCount64() + 2000;
  Bytes sent = control_->Traffic("H>D");
  while (sent.size() < count && GetTickCount64() < deadline) {
    // The reader's bytes arrive on a line this program cannot watch; ask
    // again after a short pause.
    Sleep(5);
    sent = control_->Traffic("H>D");
  }
  control_->Ok("clear");
  return sent;
}

}  // namespace kpwine
