#include "core/output_queue.h"

#include <algorithm>
#include <utility>

namespace kpsim {

bool OutputQueue::Schedule(TimePoint earliest, Bytes bytes, std::function<void()> after_send) {
  if (bytes.size() > kCapacity - bytes_) return false;
  const TimePoint due = queue_.empty() ? earliest : std::max(earliest, queue_.back().due);
  bytes_ += bytes.size();
  queue_.push_back(Transmission{due, std::move(bytes), std::move(after_send)});
  return true;
}

std::optional<TimePoint> OutputQueue::NextDue() const {
  if (queue_.empty()) return std::nullopt;
  return queue_.front().due;
}

std::vector<Transmission> OutputQueue::TakeDue(TimePoint now) {
  std::vector<Transmission> due;
  while (!queue_.empty() && queue_.front().due <= now) {
    bytes_ -= queue_.front().bytes.size();
    due.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return due;
}

std::optional<Transmission> OutputQueue::TakeNext(TimePoint now) {
  if (queue_.empty() || queue_.front().due > now) return std::nullopt;
  bytes_ -= queue_.front().bytes.size();
  Transmission next = std::move(queue_.front());
  queue_.pop_front();
  return next;
}

void OutputQueue::Clear() {
  queue_.clear();
  bytes_ = 0;
}

}  // namespace kpsim
