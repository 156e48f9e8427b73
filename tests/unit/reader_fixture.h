// A reader of one type opened through the exports on a scripted device, as
// the card and device tests use it: the device acknowledges the module
// switch that types 1 and 2 send when opened (and type 1 when closed), and
// the test scripts the answers and reads back the frames each call sent.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_device.h"

namespace kptest {

using Frames = std::vector<Bytes>;

// ESC '0': the device's acknowledgement of a module escape sequence.
extern const Bytes kEscOk;

// The requests `dev` received since the last call, one entry per request.
Frames SentBy(FakeDevice& dev);

class ReaderTest : public ::testing::Test {
 protected:
  explicit ReaderTest(int com) : dev_(com) {}
  void TearDown() override { Close(); }

  // Opens the reader as `type` (closing the one open before) and forgets
  // the traffic of the open.
  int Open(int type, int baud = 9600);
  void Close();
  // The requests since the last call or the open, one entry per request.
  Frames Sent();
  // The one request sent since the last call; empty when there were more.
  Bytes OnlyRequest();
  // Answers the next request with status 0000 and `data`.
  void Ok(const Bytes& data = {}) { dev_.ReplyFrame(0x0000, data); }

  // A call answered with status 0000 that must succeed after sending the
  // one frame of `command` with `data` (hex text).
  struct Call {
    int (*call)(int handle);
    std::uint16_t command;
    const char* data;
  };
  void ExpectFrames(const std::vector<Call>& calls);

  FakeDevice dev_;
  int h_ = -1;
  int type_ = -1;
};

}  // namespace kptest
