#include "reader_fixture.h"

#include "kp_dev.h"

namespace kptest {

const Bytes kEscOk = {0x1B, '0'};

int ReaderTest::Open(int type, int baud) {
  Close();
  if (type == 1 || type == 2) dev_.Reply(kEscOk);
  EXPECT_EQ(KP_DEV_OpenDevice(type, dev_.PortSpec(baud).c_str(), &h_), 0);
  type_ = type;
  dev_.ClearReceived();
  return h_;
}

void ReaderTest::Close() {
  if (type_ == 1) dev_.Reply(kEscOk);  // closing puts the IC module back to 9600 baud
  if (type_ >= 0) KP_DEV_CloseDevice(h_);
  type_ = -1;
  dev_.ClearReceived();
}

Frames SentBy(FakeDevice& dev) {
  const Frames sent = dev.Requests();
  dev.ClearReceived();
  return sent;
}

Frames ReaderTest::Sent() { return SentBy(dev_); }

Bytes ReaderTest::OnlyRequest() {
  const Frames sent = Sent();
  return sent.size() == 1 ? sent[0] : Bytes{};
}

void ReaderTest::ExpectFrames(const std::vector<Call>& calls) {
  for (const Call& c : calls) {
    SCOPED_TRACE(c.data);
    dev_.ClearReceived();
    Ok();
    EXPECT_EQ(c.call(h_), 0);
    EXPECT_EQ(OnlyRequest(), CommandFrame(c.command, FromHex(c.data)));
  }
}

}  // namespace kptest
