// Helpers for the bank-card tests: a scripted card behind the scripted
// device.  Every APDU travels in a 0x3226 frame (seat byte, APDU bytes); the
// device answers with status 0000 and the card's response bytes, SW1 SW2 at
// the end.  The card data here follow the usual EMV encodings: TLV with
// one-byte lengths, response format 1 for GET PROCESSING OPTIONS.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kp_dev.h"
#include "logic/emv_card_data.h"
#include "wire/fixture.h"

namespace emvtest {

using kptest::Bytes;
using kptest::CommandFrame;
using kptest::FakeDevice;
using kptest::Frames;
using kptest::FromHex;

inline Bytes Apdu(int seat, const std::string& apduHex) {
  Bytes data{static_cast<std::uint8_t>(seat)};
  const Bytes apdu = FromHex(apduHex);
  data.insert(data.end(), apdu.begin(), apdu.end());
  return CommandFrame(0x3226, data);
}

inline Frames Apdus(int seat, const std::vector<std::string>& apdus) {
  Frames frames;
  for (const std::string& a : apdus) frames.push_back(Apdu(seat, a));
  return frames;
}

// The card's answer to the next APDU.
inline void Card(FakeDevice& dev, const std::string& responseHex) { dev.ReplyFrame(0x0000, FromHex(responseHex)); }

// Scripts the card up to and including the GPO answer.
inline void ScriptUpToGpo(FakeDevice& dev, const std::string& afl) {
  Card(dev, PseAnswer());
  Card(dev, DirectoryRecord());
  Card(dev, SelectAnswer());
  Card(dev, GpoAnswer(afl));
}

// Gives the test its own log directory and reads the day's file back.
class LogDir {
 public:
  LogDir() {
    char pattern[] = "/tmp/kpdev-emvlog-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root_ = pattern;
    setenv("KPDEV_LOG_ROOT", root_.c_str(), 1);
  }
  ~LogDir() {
    unsetenv("KPDEV_LOG_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  // Every day file's content, concatenated.
  std::string Text() const {
    std::string all;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root_ + "/LOG/KP606", ignored)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      all += text.str();
    }
    return all;
  }

 private:
  std::string root_;
};

// A type-61 reader at 115200 baud open on a scripted device (no traffic at
// open or close), with a log directory of its own.
class CardTest : public kptest::ReaderTest {
 protected:
  explicit CardTest(int com) : ReaderTest(com) {}
  void SetUp() override { Open(61, 115200); }

  LogDir log_;
};

}  // namespace emvtest
