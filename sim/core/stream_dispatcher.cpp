#include "core/stream_dispatcher.h"

#include "core/virtual_reader.h"

namespace kpsim {

void StreamDispatcher::Add(std::unique_ptr<RawProtocol> protocol) { protocols_.push_back(std::move(protocol)); }

void StreamDispatcher::Feed(const std::uint8_t* data, std::size_t size, TimePoint now, VirtualReader& reader) {
  if (size == 0) return;
  Expire(now, reader);
  pending_.insert(pending_.end(), data, data + size);
  last_byte_ = now;
  Drain(reader);
  if (pending_.size() >= kMaxPending) {
    reader.state().counters.ignored_bytes += pending_.size();
    pending_.clear();
  }
}

void StreamDispatcher::Expire(TimePoint now, VirtualReader& reader) {
  if (pending_.empty() || now - last_byte_ < kInterByteTimeout) return;
  reader.state().counters.ignored_bytes += pending_.size();
  pending_.clear();
}

std::optional<TimePoint> StreamDispatcher::Deadline() const {
  if (pending_.empty()) return std::nullopt;
  return last_byte_ + kInterByteTimeout;
}

void StreamDispatcher::Drain(VirtualReader& reader) {
  std::size_t start = 0;
  while (start < pending_.size()) {
    const std::uint8_t* data = pending_.data() + start;
    const std::size_t size = pending_.size() - start;
    ParseResult result;
    for (const auto& protocol : protocols_) {
      if (!protocol->Serves(reader.state())) continue;
      result = protocol->Parse(data, size, reader);
      if (result.state != ParseState::kNoMatch) break;
    }
    if (result.state == ParseState::kNeedMore) break;
    if (result.state == ParseState::kDone && result.consumed > 0) {
      start += result.consumed < size ? result.consumed : size;
    } else {
      ++reader.state().counters.ignored_bytes;
      ++start;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
}

}  // namespace kpsim
