// The line discipline: every byte that comes in is accounted for as the
// answer the host waits for, as data the magnetic head sent on its own
// (kept for the next magnetic read), or as bytes that belong to no request
// (a late answer, noise: dropped and traced).
//
// Answer frames carry no command code, so a late answer cannot be told from
// the next one by its content.  But the device answers strictly in order,
// one answer per request, and every unit announces its length.  So the
// host keeps, per COM port, what the device still owes: after an answer
// failed to come, the next request waits (on the line, bounded) until the
// owed answer has come and been dropped, or until it can no longer come.
// Only the request after a fault pays; in step, a request goes out at once.
//
// The wait is for a device known to answer: one that has answered at least
// once at the port's speed.  A port probed for a reader that is not there
// (or not at that speed) owes nothing anyone waits for.
#include <cstdio>
#include <mutex>

#include "base/trace.h"
#include "platform/platform.h"
#include "serial/serial_port.h"

namespace kp {

namespace {

enum class Step : std::uint8_t {
  kInStep,   // nothing owed
  kOwed,     // an answer owed, none of it received yet
  kStalled,  // an answer broke off or was garbled: its rest may still come
};

struct KeptUnit {
  Unit unit;
  std::vector<std::uint8_t> bytes;
  std::uint32_t tick;
};

// What the host knows of one COM port's line.  It outlives the readers
// that open the port: the read-any-card loop closes and reopens its reader
// every pass, and neither a late answer nor a swipe cares.
struct PortLine {
  std::mutex mutex;
  int baud = 0;        // speed of the last open
  bool alive = false;  // the device has answered at that speed
  Step step = Step::kInStep;
  Unit owed = Unit::kNone;
  std::uint32_t deadline = 0;  // kOwed: the answer cannot begin after this tick
  std::uint32_t since = 0;     // kStalled: when the answer broke off
  std::deque<KeptUnit> kept;   // the magnetic head's units, oldest first
};

constexpr int kPorts = 33;  // COM1 .. COM32 (0 is no port)
PortLine g_lines[kPorts];

PortLine* LineOf(int port) { return port > 0 && port < kPorts ? &g_lines[port] : nullptr; }

// Bytes one settling takes at most, and (below) how long it may take: a
// device that never stops talking cannot hold the caller.
constexpr std::size_t kMostSettled = std::size_t{64} * 1024;
// The longest answer frame on the wire (1,039 body bytes): the owed
// answer may be that long once it has begun.
constexpr std::size_t kLongestAnswerBytes = 5 + 2 * 1039 + 3;

int MsFrom(std::uint32_t now, std::uint32_t tick) {
  const auto left = static_cast<std::int32_t>(tick - now);
  return left > 0 ? left : 0;
}

const char* UnitName(Unit unit) {
  switch (unit) {
    case Unit::kFrame:
      return "answer frame";
    case Unit::kModuleReply:
      return "module reply";
    case Unit::kText:
      return "version text";
    case Unit::kIdentity:
      return "identity-module answer";
    case Unit::kSwipe:
      return "track data";
    case Unit::kHeadReply:
      return "write outcome";
    case Unit::kNone:
    default:
      return "answer";
  }
}

// "<what> <unit name> <detail>", e.g. "dropped a late answer frame".
void TraceUnit(const char* what, Unit unit, const char* detail = "") {
  if (!TraceEnabled()) return;
  char line[128];
  std::snprintf(line, sizeof line, "%s %s%s", what, UnitName(unit), detail);
  DebugTrace(line);
}

void TraceDropped(std::size_t count) {
  if (count == 0 || !TraceEnabled()) return;
  char line[64];
  std::snprintf(line, sizeof line, "dropped %zu stale bytes", count);
  DebugTrace(line);
}

}  // namespace

void ForgetLineStates() {
  for (PortLine& line : g_lines) {
    std::lock_guard<std::mutex> lock(line.mutex);
    line.baud = 0;
    line.alive = false;
    line.step = Step::kInStep;
    line.owed = Unit::kNone;
    line.kept.clear();
  }
}

void CSerialPort::Attach() {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return;
  std::lock_guard<std::mutex> lock(line->mutex);
  // At another speed an answer still owed arrives as noise, if at all, and
  // whether the device answers is to be seen again.
  if (line->baud != baud_) {
    line->step = Step::kInStep;
    line->alive = false;
  }
  line->baud = baud_;
}

void CSerialPort::Expect(Unit answer, std::size_t requestBytes) {
  PortLine* line = LineOf(port_);
  if (line == nullptr || answer == Unit::kNone) return;
  const std::uint32_t reached = platform::TickMs() + static_cast<std::uint32_t>(WireTimeMs(requestBytes));
  std::lock_guard<std::mutex> lock(line->mutex);
  line->step = Step::kOwed;
  line->owed = answer;
  // The answer may begin up to kLongestAnswerMs after the request reached
  // the device, and is then seen within one input gap.
  line->deadline = reached + static_cast<std::uint32_t>(kLongestAnswerMs + InputGapMs());
}

void CSerialPort::AnswerComplete() {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return;
  std::lock_guard<std::mutex> lock(line->mutex);
  line->step = Step::kInStep;
  line->alive = true;
}

void CSerialPort::AnswerBroken() {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return;
  std::lock_guard<std::mutex> lock(line->mutex);
  line->step = Step::kStalled;
  line->since = platform::TickMs();
}

void CSerialPort::PrepareRequest() {
  if (line_->IsOpen()) Settle(true);
}

void CSerialPort::Listen(int ms, const CancelWatch* cancel) {
  const std::uint32_t end = platform::TickMs() + static_cast<std::uint32_t>(ms > 0 ? ms : 0);
  while (line_->IsOpen()) {
    Settle(false);
    const int left = MsFrom(platform::TickMs(), end);
    if (left <= 0) break;
    if (!WaitForInput(1, left, cancel) && (line_->Failed() || (cancel != nullptr && cancel->Cancelled()))) break;
  }
}

void CSerialPort::Settle(bool waitForOwed) {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return;
  Step step;
  Unit owed;
  std::uint32_t deadline;
  std::uint32_t lastHeard;
  bool alive;
  {
    std::lock_guard<std::mutex> lock(line->mutex);
    step = line->step;
    owed = line->owed;
    deadline = line->deadline;
    lastHeard = line->since;
    alive = line->alive;
  }
  const std::uint32_t started = platform::TickMs();
  // The owed answer's latest beginning and its whole length on the wire.
  const auto most = static_cast<std::uint32_t>(kLongestAnswerMs + WireTimeMs(kLongestAnswerBytes) + InputGapMs());
  InboundParser parser(step == Step::kOwed ? owed : Unit::kNone);
  bool owedCame = step != Step::kOwed;
  std::size_t total = 0;
  std::size_t dropped = 0;
  for (;;) {
    std::uint8_t chunk[256];
    const std::size_t n = TakeQueued(chunk, sizeof chunk);
    if (n > 0) lastHeard = platform::TickMs();
    for (std::size_t i = 0; i < n; ++i) {
      const Unit unit = parser.Feed(chunk[i]);
      if (unit == Unit::kNone) continue;
      if (unit == Unit::kSwipe || unit == Unit::kHeadReply) {
        Keep(parser.headUnit());
      } else if (!owedCame && unit == owed) {
        owedCame = true;
        alive = true;
        TraceUnit("dropped a late", unit);
      } else {
        alive = true;
        TraceUnit("dropped an unasked", unit);
      }
    }
    dropped += parser.TakeNoise();
    total += n;
    if (total >= kMostSettled || platform::TickMs() - started > most) break;
    if (n > 0) continue;

    // Nothing queued now: wait only for what is still owed.
    const std::uint32_t now = platform::TickMs();
    int wait = 0;
    if (parser.Open()) {
      wait = InputGapMs();  // the rest of a unit that has begun
    } else if (waitForOwed && !owedCame && alive) {
      wait = MsFrom(now, deadline);
    } else if (waitForOwed && step == Step::kStalled) {
      wait = MsFrom(now, lastHeard + static_cast<std::uint32_t>(InputGapMs()));
    }
    if (wait > 0 && WaitForInput(1, wait)) continue;
    if (parser.Open()) {
      // The unit stopped halfway: its bytes were noise.
      parser.Abandon();
      dropped += parser.TakeNoise();
      if (!line_->Failed()) continue;
    }
    break;
  }
  TraceDropped(dropped);
  if (waitForOwed && !owedCame && alive) {
    char waited[48];
    std::snprintf(waited, sizeof waited, " within %ld ms", static_cast<long>(platform::TickMs() - started));
    TraceUnit("no late", owed, waited);
  }
  std::lock_guard<std::mutex> lock(line->mutex);
  line->alive = line->alive || alive;
  if (waitForOwed || (step == Step::kOwed && owedCame)) {
    line->step = Step::kInStep;
  } else if (step == Step::kStalled) {
    line->since = lastHeard;
  }
}

bool CSerialPort::AwaitAnswer(int timeoutMs) {
  const std::uint32_t deadline = platform::TickMs() + static_cast<std::uint32_t>(timeoutMs > 0 ? timeoutMs : 0);
  // A head sends one unit per card; more than the kept ones before one
  // answer is no head, and is left to the answer's reader.
  for (std::size_t units = 0;; ++units) {
    if (!WaitForInput(1, MsFrom(platform::TickMs(), deadline))) return false;
    const std::size_t head = units < kMostKept ? HeadUnitAhead() : 0;
    if (head == 0) return true;
    std::vector<std::uint8_t> unit(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(head));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(head));
    Keep(unit);
  }
}

std::size_t CSerialPort::HeadUnitAhead() {
  // ESC s (track data) or ESC w (a write outcome); the second byte may
  // still be on its way.
  if (!Hold(1) || held_[0] != 0x1B) return 0;
  if (!Hold(2) && !(WaitForInput(2, InputGapMs()) && Hold(2))) return 0;
  if (held_[1] == 's') {
    // The tracks run to FS; data that stops short of it is what there is.
    for (std::size_t i = 2;; ++i) {
      if (i >= kMaxHeadUnit) return kMaxHeadUnit;
      if (!Hold(i + 1) && !(WaitForInput(i + 1, InputGapMs()) && Hold(i + 1))) return i;
      if (held_[i] == 0x1C) return i + 1;
    }
  }
  if (held_[1] != 'w') return 0;
  // ESC w p|q, or ESC w T p|q.
  for (std::size_t i = 2; i < 4; ++i) {
    if (!Hold(i + 1) && !(WaitForInput(i + 1, InputGapMs()) && Hold(i + 1))) return 0;
    if (held_[i] == 'p' || held_[i] == 'q') return i + 1;
    if (held_[i] != 'T' || i != 2) return 0;
  }
  return 0;
}

void CSerialPort::Keep(const std::vector<std::uint8_t>& unit) {
  PortLine* line = LineOf(port_);
  if (line == nullptr || unit.size() < 2) return;
  const Unit kind = unit[1] == 's' ? Unit::kSwipe : Unit::kHeadReply;
  // Track data cut short (its FS never came) would read as other tracks.
  if (kind == Unit::kSwipe && unit.back() != 0x1C && unit.size() < kMaxHeadUnit) {
    TraceDropped(unit.size());
    return;
  }
  TraceUnit("kept", kind, " for the next magnetic read");
  std::lock_guard<std::mutex> lock(line->mutex);
  if (line->kept.size() >= kMostKept) line->kept.pop_front();
  line->kept.push_back(KeptUnit{kind, unit, platform::TickMs()});
}

bool CSerialPort::TakeKept(Unit unit, std::vector<std::uint8_t>* bytes) {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return false;
  const std::uint32_t now = platform::TickMs();
  std::lock_guard<std::mutex> lock(line->mutex);
  // Too old to belong to any read still waiting for it.
  while (!line->kept.empty() && now - line->kept.front().tick > static_cast<std::uint32_t>(kKeptForMs)) {
    line->kept.pop_front();
  }
  for (auto it = line->kept.begin(); it != line->kept.end(); ++it) {
    if (it->unit != unit) continue;
    if (bytes != nullptr) *bytes = std::move(it->bytes);
    line->kept.erase(it);
    return true;
  }
  return false;
}

bool CSerialPort::HasKept(Unit unit) {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return false;
  const std::uint32_t now = platform::TickMs();
  std::lock_guard<std::mutex> lock(line->mutex);
  for (const KeptUnit& k : line->kept) {
    if (k.unit == unit && now - k.tick <= static_cast<std::uint32_t>(kKeptForMs)) return true;
  }
  return false;
}

void CSerialPort::DropKept() {
  PortLine* line = LineOf(port_);
  if (line == nullptr) return;
  std::lock_guard<std::mutex> lock(line->mutex);
  line->kept.clear();
}

std::size_t CSerialPort::CompleteHeadData(std::uint8_t* data, std::size_t count, std::size_t room) {
  if (count < 2 || data[0] != 0x1B || data[1] != 's') return count;
  for (std::size_t i = 0; i < count; ++i) {
    if (data[i] == 0x1C) return count;  // FS: the data is whole
  }
  while (count < room) {
    if (!WaitForInput(1, InputGapMs())) break;
    const std::size_t n = TakeQueued(data + count, 1);
    if (n == 0) break;
    count += n;
    if (data[count - 1] == 0x1C) break;
  }
  return count;
}

}  // namespace kp
