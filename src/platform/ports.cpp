#include "platform/ports.h"

#include <algorithm>
#include <cstddef>
#include <mutex>

namespace kp::platform {

namespace {

std::mutex g_overrideMutex;
bool g_overridden = false;
std::vector<int> g_override;

}  // namespace

std::vector<int> ListSerialPorts() {
  {
    std::lock_guard<std::mutex> lock(g_overrideMutex);
    if (g_overridden) return g_override;
  }
  return SystemSerialPorts();
}

void SetSerialPortListOverride(const std::vector<int>* ports) {
  std::lock_guard<std::mutex> lock(g_overrideMutex);
  g_overridden = ports != nullptr;
  g_override.clear();
  if (ports != nullptr) {
    g_override.assign(ports->begin(),
                      ports->begin() + static_cast<std::ptrdiff_t>(std::min(ports->size(), kMaxListedPorts)));
  }
}

}  // namespace kp::platform
