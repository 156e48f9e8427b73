// What a device server may send the network line, and the texts a
// KPDEV_COM<n> variable may hold.  The first byte chooses.
//
// Bytes from a server: fed whole and in pieces the rest of the input
// decides, the data and the replies must come out the same; no more data
// than bytes came in, and no more reply bytes than came in (one three-byte
// reply per three-byte negotiation at most).
// Target texts: a text that parses prints back to a text that parses to
// the same target, and its prefix length is its whole length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

#include "platform/network_target.h"
#include "platform/rfc2217.h"

namespace {

struct Result {
  std::deque<std::uint8_t> data;
  kp::Bytes replies;
};

Result Feed(const std::uint8_t* in, std::size_t size, const std::uint8_t* cuts, std::size_t cutCount) {
  kp::platform::rfc2217::Session session;
  kp::Bytes greeting;
  session.Start(&greeting);
  Result r;
  std::size_t at = 0;
  for (std::size_t i = 0; at < size; ++i) {
    const std::size_t piece = cutCount == 0 ? size : 1 + cuts[i % cutCount] % 16;
    const std::size_t n = piece < size - at ? piece : size - at;
    session.Take(in + at, n, &r.data, &r.replies);
    at += n;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  if (mode % 2 == 0) {
    // The last quarter of the input cuts the rest into reads.
    const std::size_t cutCount = size / 4;
    const std::size_t body = size - cutCount;
    const Result whole = Feed(data, body, nullptr, 0);
    const Result pieces = Feed(data, body, data + body, cutCount);
    if (whole.data != pieces.data || whole.replies != pieces.replies) std::abort();
    if (whole.data.size() > body || whole.replies.size() > body) std::abort();
    return 0;
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  kp::platform::NetworkTarget target;
  if (!kp::platform::ParseNetworkTarget(text, &target)) return 0;
  if (!kp::platform::IsNetworkTarget(text) || kp::platform::NetworkTargetPrefixLength(text) != text.size())
    std::abort();
  kp::platform::NetworkTarget again;
  if (!kp::platform::ParseNetworkTarget(kp::platform::NetworkTargetText(target), &again) || again.port != target.port ||
      again.protocol != target.protocol) {
    std::abort();
  }
  return 0;
}
