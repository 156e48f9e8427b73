#include "core/virtual_reader.h"

#include <algorithm>

#include "core/answer_shaping.h"

namespace kpsim {

VirtualReader::VirtualReader(const ReaderOptions& options) : rng_(options.seed) {
  state_.family = options.family;
  state_.baud = options.baud;
  version_set_ = options.version.has_value();
  state_.version = options.version ? *options.version : DefaultVersion(options.family);
  InstallBuiltinModules(*this);
}

void VirtualReader::OnHostBytes(const std::uint8_t* data, std::size_t size, int host_baud, TimePoint now) {
  now_ = now;
  if (size == 0) return;
  if (host_baud != 0 && host_baud != state_.baud) {
    Record(Direction::kHostNoise, data, size);
    state_.counters.noise_bytes += size;
    return;
  }
  Record(Direction::kHostToDevice, data, size);
  stream_.Feed(data, size, now, *this);
}

Bytes VirtualReader::Service(int host_baud, TimePoint now) {
  now_ = now;
  stream_.Expire(now, *this);
  Bytes line;
  for (Transmission& sent : output_.TakeDue(now)) {
    if (host_baud != 0 && host_baud != state_.baud) {
      Record(Direction::kDeviceLost, sent.bytes.data(), sent.bytes.size());
      state_.counters.lost_bytes += sent.bytes.size();
    } else {
      Record(Direction::kDeviceToHost, sent.bytes.data(), sent.bytes.size());
      line.insert(line.end(), sent.bytes.begin(), sent.bytes.end());
    }
    if (sent.after_send) sent.after_send();
  }
  return line;
}

std::optional<TimePoint> VirtualReader::NextDeadline() const {
  const std::optional<TimePoint> output = output_.NextDue();
  const std::optional<TimePoint> input = stream_.Deadline();
  if (!output) return input;
  if (!input) return output;
  return std::min(*output, *input);
}

std::string VirtualReader::HandleControl(const std::string& line) { return control_.Handle(*this, line); }

void VirtualReader::SetFamily(Family family) {
  state_.family = family;
  if (!version_set_) state_.version = DefaultVersion(family);
}

void VirtualReader::SetVersion(Bytes version) {
  state_.version = std::move(version);
  version_set_ = true;
}

void VirtualReader::ClearRecords() {
  traffic_.Clear();
  state_.counters = Counters{};
}

AnswerPlan VirtualReader::PlanAnswer(AnswerKind kind) {
  AnswerPlan plan;
  plan.kind = kind;
  plan.shape = faults_.TakeShape(kind);
  plan.delay_ms = faults_.TakeDelay(kind);
  if (plan.swallowed()) ++state_.counters.swallowed;
  return plan;
}

void VirtualReader::SendFrame(const AnswerPlan& plan, std::uint16_t status, const Bytes& data,
                              std::function<void()> after_send) {
  if (plan.swallowed()) return;
  Bytes bytes = plan.shape ? ShapeFrameAnswer(*plan.shape, status, data, rng_) : EncodeAnswerFrame(status, data);
  Queue(plan, std::move(bytes), std::move(after_send));
}

void VirtualReader::SendRaw(const AnswerPlan& plan, Bytes bytes, std::function<void()> after_send) {
  if (plan.swallowed()) return;
  if (plan.shape) bytes = ShapeRawAnswer(*plan.shape, bytes, rng_);
  Queue(plan, std::move(bytes), std::move(after_send));
}

void VirtualReader::Queue(const AnswerPlan& plan, Bytes bytes, std::function<void()> after_send) {
  ++state_.counters.answers;
  const TimePoint due = now_ + std::chrono::milliseconds(plan.delay_ms);
  output_.Schedule(due, std::move(bytes), std::move(after_send));
}

void VirtualReader::OnCommandFrame(const CommandFrame& frame) {
  ++state_.counters.frames;
  const CommandEntry* entry = commands_.Find(frame.code);
  const bool known = entry != nullptr && (entry->families & MaskOf(state_.family)) != 0;
  if (known && !entry->answers) {
    entry->handler(*this, frame.data);
    return;
  }
  const AnswerPlan plan = PlanAnswer(AnswerKind::kFrame);
  if (plan.swallowed() || RefusedByFault(plan)) return;
  Reply reply;
  if (known) {
    reply = entry->handler(*this, frame.data);
  } else {
    ++state_.counters.unknown_commands;
    reply = Reply::Status(kStatusUnknownCommand);
  }
  SendFrame(plan, reply.status, reply.data, std::move(reply.after_send));
}

void VirtualReader::OnBadFrame(std::uint16_t status) {
  ++state_.counters.frames;
  if (status == kStatusBadChecksum) {
    ++state_.counters.bad_checksums;
  } else {
    ++state_.counters.bad_frames;
  }
  const AnswerPlan plan = PlanAnswer(AnswerKind::kFrame);
  if (RefusedByFault(plan)) return;
  SendFrame(plan, status, {});
}

bool VirtualReader::RefusedByFault(const AnswerPlan& plan) {
  if (!plan.shape || plan.shape->kind != FaultKind::kStatus) return false;
  SendFrame(AnswerPlan{plan.kind, std::nullopt, plan.delay_ms}, static_cast<std::uint16_t>(plan.shape->param), {});
  return true;
}

void VirtualReader::Record(Direction direction, const std::uint8_t* data, std::size_t size) {
  traffic_.Record(direction, data, size);
  if (observer_) observer_(direction, data, size);
}

}  // namespace kpsim
