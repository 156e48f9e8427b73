#include "platform/serial_line.h"

namespace kp::platform {
namespace {
LineFactory g_lineFactory = nullptr;
}  // namespace

void SetLineFactoryOverride(LineFactory factory) { g_lineFactory = factory; }

std::unique_ptr<Line> MakeLine() {
  if (g_lineFactory != nullptr) return g_lineFactory();
  return std::make_unique<SerialLine>();
}

}  // namespace kp::platform
