// The virtual reader's firmware: device state, the protocols it speaks, its
// seats, and the instruments of the emulator around it (traffic log, fault
// plan, control verbs).  It does no I/O: the caller hands it the host's
// bytes with the host's line speed and the time, and takes the bytes due on
// the line.  Simulator drives it from a pseudo-terminal; tests drive it
// directly with their own clock.
//
// Line model: the device has its own speed.  Bytes the host sends at
// another speed are noise to the device (ignored, logged as H~D).  Bytes the
// device sends while the host listens at another speed are lost (logged as
// D~H).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/card_factory.h"
#include "core/command_registry.h"
#include "core/control_verbs.h"
#include "core/device_state.h"
#include "core/faults.h"
#include "core/frame.h"
#include "core/output_queue.h"
#include "core/pacing.h"
#include "core/rng.h"
#include "core/seats.h"
#include "core/stream_dispatcher.h"
#include "core/traffic_log.h"

namespace kpsim {

struct ReaderOptions {
  Family family = Family::kT1;
  std::optional<Bytes> version;  // the family's default when unset
  int baud = kStartupBaud;
  std::uint64_t seed = 1;
  // Real-time line and device (see core/pacing.h); off: answers are due at once.
  bool pacing = false;
};

// How the next answer will be treated, decided before the request is acted
// on: a swallowed request is not executed at all.
struct AnswerPlan {
  AnswerKind kind = AnswerKind::kFrame;
  std::optional<Fault> shape;
  unsigned delay_ms = 0;

  bool swallowed() const { return shape && shape->kind == FaultKind::kSilent; }
};

class VirtualReader {
 public:
  explicit VirtualReader(const ReaderOptions& options = {});
  VirtualReader(const VirtualReader&) = delete;
  VirtualReader& operator=(const VirtualReader&) = delete;

  // The line.  `host_baud` is the host's current speed; 0 when unknown,
  // which counts as matching.
  void OnHostBytes(const std::uint8_t* data, std::size_t size, int host_baud, TimePoint now);
  // Bytes due on the line by `now`, in order; runs their after-send actions.
  Bytes Service(int host_baud, TimePoint now);
  // When Service has something to do next, if anything.
  std::optional<TimePoint> NextDeadline() const;

  // Pacing: bytes take their wire time and commands their processing time.
  // Turning it off delivers what is still on the line at once.
  void SetPacing(bool on);
  bool pacing() const { return pacing_; }
  DeviceTimes& device_times() { return device_times_; }
  // Names the processing time of the next answer queued (a raw protocol
  // that knows which of its commands it is answering).
  void UseDeviceTime(const std::string& key) { next_work_ = device_times_.ForKey(key); }

  // One control request line; the reply line without newline.
  std::string HandleControl(const std::string& line);

  DeviceState& state() { return state_; }
  const DeviceState& state() const { return state_; }
  TrafficLog& traffic() { return traffic_; }
  FaultPlan& faults() { return faults_; }
  SeatTable& seats() { return seats_; }
  Rng& rng() { return rng_; }
  TimePoint now() const { return now_; }

  // Plug-in points for technology modules.
  CommandRegistry& commands() { return commands_; }
  StreamDispatcher& stream() { return stream_; }
  ControlVerbs& control() { return control_; }
  CardFactory& card_kinds() { return card_kinds_; }

  // Changes the family; the version follows unless it was set explicitly.
  void SetFamily(Family family);
  void SetVersion(Bytes version);
  // Clears the traffic log and the counters.
  void ClearRecords();

  // Answering, for protocol modules.  PlanAnswer consumes the faults armed
  // for this kind of answer; SendFrame/SendRaw apply them and queue the
  // bytes.  A swallowed plan sends nothing.
  AnswerPlan PlanAnswer(AnswerKind kind);
  void SendFrame(const AnswerPlan& plan, std::uint16_t status, const Bytes& data,
                 std::function<void()> after_send = {});
  void SendRaw(const AnswerPlan& plan, Bytes bytes, std::function<void()> after_send = {});

  // Called by the frame protocol for each complete frame.
  void OnCommandFrame(const CommandFrame& frame);
  // Runs `action` once, when the next command frame with this code is
  // heard, before the frame is acted on: something that happens at a
  // chosen moment of the host's sequence (a card swiped while the host
  // powers a chip card on).
  void OnNextFrame(std::uint16_t code, std::function<void()> action);
  void OnBadFrame(std::uint16_t status);

  // Receives every byte logged, as it is logged (the simulator's --verbose).
  void SetObserver(std::function<void(Direction, const std::uint8_t*, std::size_t)> observer) {
    observer_ = std::move(observer);
  }

 private:
  // Host bytes on their way to the device: they arrive one wire time apart.
  struct Inbound {
    Bytes bytes;
    int host_baud = 0;
    TimePoint start;
    std::chrono::nanoseconds per_byte{0};
    std::size_t delivered = 0;
  };
  // The transmission the device is sending, byte by byte.
  struct OnLine {
    Transmission sending;
    TimePoint start;
    std::chrono::nanoseconds per_byte{0};
    std::size_t sent = 0;
  };

  void Hear(const std::uint8_t* data, std::size_t size, int host_baud, TimePoint at);
  void DeliverInbound(TimePoint now);
  void Emit(const std::uint8_t* data, std::size_t size, int host_baud, Bytes* line);
  Bytes ServicePaced(int host_baud, TimePoint now);
  void Record(Direction direction, const std::uint8_t* data, std::size_t size);
  void Queue(const AnswerPlan& plan, Bytes bytes, std::function<void()> after_send);
  // Answers with the status word of a "status" fault, the request unexecuted.
  bool RefusedByFault(const AnswerPlan& plan);

  DeviceState state_;
  bool version_set_ = false;
  TrafficLog traffic_;
  FaultPlan faults_;
  SeatTable seats_;
  Rng rng_;
  TimePoint now_{};
  OutputQueue output_;
  CommandRegistry commands_;
  StreamDispatcher stream_;
  ControlVerbs control_;
  CardFactory card_kinds_;
  std::function<void(Direction, const std::uint8_t*, std::size_t)> observer_;
  std::vector<std::pair<std::uint16_t, std::function<void()>>> frame_hooks_;
  bool pacing_ = false;
  DeviceTimes device_times_;
  std::optional<std::chrono::microseconds> next_work_;
  std::deque<Inbound> inbound_;
  TimePoint rx_free_{};
  std::optional<OnLine> on_line_;
  TimePoint tx_free_{};
};

// Installs the built-in protocols, commands and control verbs.  Technology
// modules add their Install function here.
void InstallBuiltinModules(VirtualReader& reader);

}  // namespace kpsim
