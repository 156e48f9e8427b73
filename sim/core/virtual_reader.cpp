#include "core/virtual_reader.h"

#include <algorithm>

#include "core/answer_shaping.h"

namespace kpsim {

namespace {

// Received bytes per burst at the host: a 16550-style receive FIFO's
// interrupt level.
constexpr std::size_t kHostBurst = 8;

}  // namespace

VirtualReader::VirtualReader(const ReaderOptions& options) : rng_(options.seed) {
  state_.family = options.family;
  state_.baud = options.baud;
  version_set_ = options.version.has_value();
  pacing_ = options.pacing;
  state_.version = options.version ? *options.version : DefaultVersion(options.family);
  InstallBuiltinModules(*this);
}

void VirtualReader::OnHostBytes(const std::uint8_t* data, std::size_t size, int host_baud, TimePoint now) {
  now_ = now;
  if (size == 0) return;
  if (!pacing_) {
    Hear(data, size, host_baud, now);
    return;
  }
  // The bytes left the host at its own speed (an unknown or odd speed is
  // timed at the device's) and queue behind those still on the wire.
  Inbound inbound;
  inbound.bytes.assign(data, data + size);
  inbound.host_baud = host_baud;
  inbound.start = std::max(now, rx_free_);
  inbound.per_byte = WireTime(1, host_baud > 0 ? host_baud : state_.baud);
  rx_free_ = inbound.start + inbound.per_byte * static_cast<long long>(size);
  inbound_.push_back(std::move(inbound));
  DeliverInbound(now);
}

void VirtualReader::Hear(const std::uint8_t* data, std::size_t size, int host_baud, TimePoint at) {
  if (host_baud != 0 && host_baud != state_.baud) {
    Record(Direction::kHostNoise, data, size);
    state_.counters.noise_bytes += size;
    return;
  }
  Record(Direction::kHostToDevice, data, size);
  stream_.Feed(data, size, at, *this);
}

void VirtualReader::DeliverInbound(TimePoint now) {
  while (!inbound_.empty()) {
    Inbound& front = inbound_.front();
    std::size_t arrived = front.bytes.size();
    if (now < front.start + front.per_byte * static_cast<long long>(arrived)) {
      arrived = now < front.start ? 0 : static_cast<std::size_t>((now - front.start) / front.per_byte);
    }
    if (arrived > front.delivered) {
      // The device acts at the moment the last of these bytes arrived.
      now_ = front.start + front.per_byte * static_cast<long long>(arrived);
      Hear(front.bytes.data() + front.delivered, arrived - front.delivered, front.host_baud, now_);
      front.delivered = arrived;
      now_ = now;
    }
    if (front.delivered < front.bytes.size()) return;
    inbound_.pop_front();
  }
}

void VirtualReader::Emit(const std::uint8_t* data, std::size_t size, int host_baud, Bytes* line) {
  if (host_baud != 0 && host_baud != state_.baud) {
    Record(Direction::kDeviceLost, data, size);
    state_.counters.lost_bytes += size;
  } else {
    Record(Direction::kDeviceToHost, data, size);
    line->insert(line->end(), data, data + size);
  }
}

Bytes VirtualReader::ServicePaced(int host_baud, TimePoint now) {
  Bytes line;
  for (;;) {
    if (!on_line_) {
      std::optional<Transmission> next = output_.TakeNext(now);
      if (!next) break;
      OnLine sending;
      sending.start = std::max(next->due, tx_free_);
      sending.per_byte = WireTime(1, state_.baud);
      sending.sending = std::move(*next);
      on_line_ = std::move(sending);
    }
    OnLine& current = *on_line_;
    const std::size_t total = current.sending.bytes.size();
    std::size_t done = total;
    if (now < current.start + current.per_byte * static_cast<long long>(total)) {
      done = now < current.start ? 0 : static_cast<std::size_t>((now - current.start) / current.per_byte);
    }
    // The host's UART hands received bytes over in bursts (its receive FIFO
    // raises an interrupt every kHostBurst bytes); the last bytes of an
    // answer go as soon as the last one is in.
    if (done < total) done = current.sent + (done - current.sent) / kHostBurst * kHostBurst;
    if (done > current.sent) {
      Emit(current.sending.bytes.data() + current.sent, done - current.sent, host_baud, &line);
      current.sent = done;
    }
    if (current.sent < total) break;
    tx_free_ = current.start + current.per_byte * static_cast<long long>(total);
    std::function<void()> after_send = std::move(current.sending.after_send);
    on_line_.reset();
    if (after_send) after_send();
  }
  return line;
}

void VirtualReader::SetPacing(bool on) {
  if (pacing_ == on) return;
  pacing_ = on;
  if (!on) {
    // What is still on the wire arrives now; what is being sent goes out whole.
    for (Inbound& inbound : inbound_) {
      Hear(inbound.bytes.data() + inbound.delivered, inbound.bytes.size() - inbound.delivered, inbound.host_baud, now_);
    }
    inbound_.clear();
    if (on_line_) {
      Bytes ignored;
      Emit(on_line_->sending.bytes.data() + on_line_->sent, on_line_->sending.bytes.size() - on_line_->sent,
           state_.host.baud, &ignored);
      std::function<void()> after_send = std::move(on_line_->sending.after_send);
      on_line_.reset();
      if (after_send) after_send();
    }
  }
  rx_free_ = tx_free_ = TimePoint{};
}

Bytes VirtualReader::Service(int host_baud, TimePoint now) {
  now_ = now;
  if (pacing_) {
    DeliverInbound(now);
    stream_.Expire(now, *this);
    return ServicePaced(host_baud, now);
  }
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
  std::optional<TimePoint> output = output_.NextDue();
  std::optional<TimePoint> input = stream_.Deadline();
  if (on_line_) {
    const std::size_t burst = std::min(on_line_->sent + kHostBurst, on_line_->sending.bytes.size());
    output = on_line_->start + on_line_->per_byte * static_cast<long long>(burst);
  } else if (output && pacing_) {
    output = std::max(*output, tx_free_) + WireTime(1, state_.baud);
  }
  if (!inbound_.empty()) {
    const Inbound& front = inbound_.front();
    const TimePoint arrival = front.start + front.per_byte * static_cast<long long>(front.delivered + 1);
    input = input ? std::min(*input, arrival) : arrival;
  }
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
  TimePoint due = now_ + std::chrono::milliseconds(plan.delay_ms);
  if (pacing_) {
    if (!next_work_) next_work_ = device_times_.ForKey(plan.kind == AnswerKind::kModuleReply ? "escape" : "raw");
    due += *next_work_;
    state_.counters.device_us += static_cast<std::uint64_t>(next_work_->count());
  }
  next_work_.reset();
  output_.Schedule(due, std::move(bytes), std::move(after_send));
}

void VirtualReader::OnNextFrame(std::uint16_t code, std::function<void()> action) {
  frame_hooks_.emplace_back(code, std::move(action));
}

void VirtualReader::OnCommandFrame(const CommandFrame& frame) {
  for (auto it = frame_hooks_.begin(); it != frame_hooks_.end();) {
    if (it->first != frame.word) {
      ++it;
      continue;
    }
    const std::function<void()> action = std::move(it->second);
    frame_hooks_.erase(it);
    action();
    break;
  }
  ++state_.counters.frames;
  const CommandEntry* entry = commands_.Find(frame.word);
  const bool known = entry != nullptr && (entry->families & MaskOf(state_.family)) != 0;
  next_work_ = device_times_.ForCommand(frame.word);
  if (known && !entry->answers) {
    entry->handler(*this, frame.data);
    next_work_.reset();
    return;
  }
  const AnswerPlan plan = PlanAnswer(AnswerKind::kFrame);
  if (plan.swallowed() || RefusedByFault(plan)) {
    next_work_.reset();
    return;
  }
  Reply reply;
  if (known) {
    reply = entry->handler(*this, frame.data);
  } else {
    ++state_.counters.unknown_commands;
    reply = Reply::Status(kStatusUnknownCommand);
  }
  SendFrame(plan, reply.status, reply.data, std::move(reply.after_send));
  next_work_.reset();
}

void VirtualReader::OnBadFrame(std::uint16_t status) {
  ++state_.counters.frames;
  if (status == kStatusBadChecksum) {
    ++state_.counters.bad_checksums;
  } else {
    ++state_.counters.bad_frames;
  }
  next_work_ = device_times_.ForKey("frame");
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
