// A WebSocket message of kpdevd's clients, turned into an operation; and
// the same bytes as the headers and configuration the service checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "policy.h"
#include "request.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool UpperHex(const std::string& text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return text.size() % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kpdev::service::Request request;
  std::string error;
  if (kpdev::service::ParseRequest(text, &request, &error)) {
    // What reaches a reader is always in range.
    Require(request.port >= 1 && request.port <= 32);
    Require(request.sector >= 0 && request.sector <= 15 && request.block >= 0 && request.block <= 3);
    Require(request.timeoutMs >= 0 && request.timeoutMs <= 3600 * 1000);
    Require(request.key.size() == 12 && UpperHex(request.key));
    Require(request.apdus.size() <= kpdev::service::kMaxApdus);
    for (const std::string& apdu : request.apdus) {
      Require(apdu.size() >= 8 && apdu.size() <= kpdev::service::kMaxApduHex && UpperHex(apdu));
    }
    Require(request.ports.size() <= 32);
    for (const int port : request.ports) Require(port >= 1 && port <= 32);
    Require(request.id.is_null() || request.id.is_number_integer() || request.id.is_string());
    Require(std::string(kpdev::service::OpName(request.op)) != "?");
  } else {
    Require(!error.empty());
  }
  (void)kpdev::service::HostAllowed(text, 8618);
  (void)kpdev::service::OriginAllowed(text, kpdev::service::OwnOrigins(8618));
  kpdev::service::Config config;
  (void)kpdev::service::ParseConfig(text, &config, &error);
  return 0;
}
