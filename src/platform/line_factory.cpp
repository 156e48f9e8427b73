#include "platform/network_line.h"
#include "platform/network_target.h"
#include "platform/serial_line.h"

namespace kp::platform {
namespace {

LineFactory g_lineFactory = nullptr;

// The line of a COM number: which kind it is depends on what the number
// stands for when it is opened (a device, or a device server on the
// network), so the choice is made at each open and the line of the other
// kind goes away.
class ComLine final : public Line {
 public:
  ComLine() : line_(std::make_unique<SerialLine>()) {}

  bool Open(int port, const LineSettings& settings) override {
    const bool network = IsNetworkTarget(SerialDevicePath(port));
    if (network != network_) {
      line_.reset();  // a kept connection or an open device is let go first
      if (network) {
        line_ = std::make_unique<NetworkLine>();
      } else {
        line_ = std::make_unique<SerialLine>();
      }
      network_ = network;
    }
    return line_->Open(port, settings);
  }
  void Close() override { line_->Close(); }
  bool IsOpen() const override { return line_->IsOpen(); }
  int Write(const std::uint8_t* data, std::size_t length) override { return line_->Write(data, length); }
  int ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) override {
    return line_->ReadQueued(buffer, room, got);
  }
  bool WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) override {
    return line_->WaitInput(atLeast, timeoutMs, cancel);
  }
  std::size_t InputCount() override { return line_->InputCount(); }
  int Purge() override { return line_->Purge(); }
  bool Failed() override { return line_->Failed(); }

 private:
  std::unique_ptr<Line> line_;
  bool network_ = false;
};

}  // namespace

void SetLineFactoryOverride(LineFactory factory) { g_lineFactory = factory; }

std::unique_ptr<Line> MakeLine() {
  if (g_lineFactory != nullptr) return g_lineFactory();
  return std::make_unique<ComLine>();
}

}  // namespace kp::platform
