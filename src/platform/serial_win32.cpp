// The serial line on Win32: one COM port opened for overlapped I/O.
//
// The port is configured so that a read never waits in the driver (it
// returns at once with what is queued); writes and reads that the driver
// still leaves pending are waited for on an event for at most 3000 ms.
//
// Waiting for input sleeps on an event.  A read of the port is posted
// first: a driver that keeps such a read pending until a byte arrives (as
// Wine's does) completes it with the byte.  A driver that answers at once
// with nothing (as Windows' own does with these timeouts) is asked for its
// next received-character event instead.  Bytes taken from the driver while
// waiting are kept in the line's own queue and handed out first.  A wait
// that watches a cancel waits for the line's wake event beside the
// request's, and a cancel ends it by setting that event.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <deque>
#include <memory>

#include "base/trace.h"
#include "platform/network_target.h"
#include "platform/platform.h"
#include "platform/serial_line.h"
#include "platform/wake.h"
#include "wire/com_port.h"

namespace kp::platform {
namespace {

// Driver queue sizes asked for at open.
constexpr DWORD kQueueSize = 10000;
// Events the port reports: received character, CTS, DSR, RLSD, break and
// line error.  The port is first given an empty mask, which also ends any
// wait on events that another handle holder may have left behind.
constexpr DWORD kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR;
static_assert(kEventMask == 0xF9, "event mask of the port");
// How long a write or read that the driver left pending may take.
constexpr DWORD kPendingWaitMs = 3000;
// The driver's own limit for one write; the 3000 ms wait ends a stuck write
// long before it.
constexpr DWORD kWriteTotalTimeoutMs = 20000;
// Every queue, both directions, pending requests included.
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeAll == 0x0F, "purge of both queues");
// The line-settings record as the driver expects it (DCBlength 28).
static_assert(sizeof(DCB) == 28, "DCB layout");

// Bytes the line keeps taken from the driver.  Far above any read the
// reader layer makes; once reached, further input stays in the driver.
constexpr std::size_t kQueueLimit = 1u << 20;
// Bytes taken from the driver by one read while waiting for input.
constexpr DWORD kChunk = 1024;

// A manual-reset event, initially not signalled, for one OVERLAPPED record.
class Event {
 public:
  Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Ends a request that is still pending before its OVERLAPPED record, its
// event and its buffer go away: the driver is asked to cancel it, and the
// wait for its completion makes sure the driver has let go of all three.
// Returns the bytes the request transferred all the same (a read may have
// taken some before the cancel reached it).
DWORD Abandon(HANDLE port, OVERLAPPED* ov) {
  (void)CancelIoEx(port, ov);
  DWORD transferred = 0;
  (void)GetOverlappedResult(port, ov, &transferred, TRUE);
  return transferred;
}

DWORD Remaining(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  if (now >= deadline) return 0;
  const ULONGLONG left = deadline - now;
  return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}

DWORD ClampToDword(std::size_t n) { return n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n); }

// Waits for a request's event and, when there is one, a wake event: true
// when the request's event was signalled within waitMs.  A wake, like a
// timeout, leaves the request pending for the caller to abandon.
bool WaitRequest(HANDLE event, HANDLE wake, DWORD waitMs) {
  if (wake == nullptr) return WaitForSingleObject(event, waitMs) == WAIT_OBJECT_0;
  const HANDLE both[2] = {event, wake};
  return WaitForMultipleObjects(2, both, FALSE, waitMs) == WAIT_OBJECT_0;
}

}  // namespace

std::string SerialDevicePath(int port) {
  // Only a device server on the network replaces the system's port:
  // Windows programs name their ports by number alone.
  std::string target = GetEnv(wire::ComVariable(port).c_str());
  if (IsNetworkTarget(target)) return target;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
  return name;
}

struct SerialLine::Impl {
  HANDLE handle = nullptr;
  // The line settings as last applied; closing and writing change only the
  // RTS and DTR fields and apply the record again.
  DCB dcb{};
  // Bytes already taken from the driver while waiting for input.
  std::deque<std::uint8_t> queue;
  // A line error (framing, parity, overrun ...) seen by a look at the queue
  // count while waiting: it still fails the next read, as it would have
  // had the driver kept it.
  bool lineError = false;
  // What a cancel wakes a wait through; made at the first wait that
  // watches a cancel.
  std::unique_ptr<WakeEvent> wake;

  bool Apply() { return SetCommState(handle, &dcb) != FALSE; }

  void Release() {
    CloseHandle(handle);
    handle = nullptr;
    queue.clear();
    lineError = false;
  }

  // Bytes in the driver's input queue.  Asking clears the driver's error
  // state, which with fAbortOnError set would otherwise fail every request;
  // an error found is remembered for the next read.
  DWORD Queued() {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handle, &errors, &stat)) return 0;
    if (errors != 0) lineError = true;
    return stat.cbInQue;
  }

  std::size_t Available() { return queue.size() + Queued(); }

  int OverlappedWrite(const std::uint8_t* data, DWORD length);

  enum class Pull { kBytes, kNothingAtOnce, kTimedOut, kFailed };
  // wake (may be null) ends a wait early, as its time running out would.
  Pull PullInput(HANDLE event, HANDLE wake, DWORD waitMs);
  enum class CharEvent { kSeen, kTimedOut, kUnsupported };
  CharEvent WaitCharEvent(HANDLE event, HANDLE wake, DWORD waitMs);
};

SerialLine::SerialLine() : impl_(std::make_unique<Impl>()) {}

SerialLine::~SerialLine() { Close(); }

bool SerialLine::IsOpen() const { return impl_->handle != nullptr; }

bool SerialLine::Open(int port, const LineSettings& settings) {
  Close();
  Impl& d = *impl_;
  const std::string name = SerialDevicePath(port);
  HANDLE h =
      CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
  d.handle = h;

  if (!SetCommMask(h, 0)) {
    d.Release();
    return false;
  }
  (void)SetCommMask(h, kEventMask);

  if (!SetupComm(h, kQueueSize, kQueueSize)) {
    d.Release();
    return false;
  }

  // Reads return at once with whatever is queued (interval MAXDWORD, no
  // totals); a write may take the driver at most 20 s.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutMs;
  if (!SetCommTimeouts(h, &timeouts)) {
    d.Release();
    return false;
  }

  // The driver's other settings (XON/XOFF characters and limits, the flags
  // not named below) are kept as it reports them.  A driver that cannot
  // even report its state cannot be configured: the open fails.
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!GetCommState(h, &dcb)) {
    d.Release();
    return false;
  }
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
  dcb.Parity = static_cast<BYTE>(settings.parity);
  dcb.StopBits = static_cast<BYTE>(settings.stopBits);
  // In terms of the flag word: AND NOT 0x206C, then OR 0x5013.  No hardware
  // handshake; binary mode, parity checked, a line error aborts the pending
  // requests until it is cleared; DTR and RTS raised.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fAbortOnError = TRUE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  d.dcb = dcb;
  if (!d.Apply()) {
    d.Release();
    return false;
  }
  return true;
}

void SerialLine::Close() {
  Impl& d = *impl_;
  if (d.handle == nullptr) return;
  // RTS, then DTR, fall before the handle goes, so the device sees the
  // host leave; whatever is still queued either way is dropped.
  d.dcb.fRtsControl = RTS_CONTROL_DISABLE;
  (void)d.Apply();
  d.dcb.fDtrControl = DTR_CONTROL_DISABLE;
  (void)d.Apply();
  (void)PurgeComm(d.handle, kPurgeAll);
  d.Release();
}

int SerialLine::Impl::OverlappedWrite(const std::uint8_t* data, DWORD length) {
  // A line error left over from an earlier exchange would abort this write;
  // it belongs to that exchange, not to the answer of this one.
  DWORD errors = 0;
  if (!ClearCommError(handle, &errors, nullptr)) {
    DebugTrace("Send -0");
    return -1;
  }
  lineError = false;
  Event event;
  if (!event) {
    DebugTrace("Send -1");
    return -1;
  }
  OVERLAPPED ov{};
  ov.hEvent = event.get();
  DWORD written = 0;
  if (!WriteFile(handle, data, length, &written, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      DebugTrace("Send -2");
      return -1;
    }
    const DWORD wait = WaitForSingleObject(event.get(), kPendingWaitMs);
    if (wait == WAIT_OBJECT_0) {
      if (!GetOverlappedResult(handle, &ov, &written, FALSE)) {
        DebugTrace("Send -2");
        return -1;
      }
    } else {
      (void)Abandon(handle, &ov);
      DebugTrace(wait == WAIT_TIMEOUT ? "Send -3" : "Send -4");
      return -1;
    }
  }
  // The count written is not compared with the length: the driver's write
  // timeout is far beyond the wait, so a completed write is a whole one.
  DebugTrace("Send ok");
  return 0;
}

int SerialLine::Write(const std::uint8_t* data, std::size_t length) {
  Impl& d = *impl_;
  if (d.handle == nullptr || length > MAXDWORD) {
    DebugTrace("Send -0");
    return -1;
  }
  const DWORD n = static_cast<DWORD>(length);
  if (d.dcb.fRtsControl != RTS_CONTROL_DISABLE) return d.OverlappedWrite(data, n);
  // A line whose RTS was dropped raises it for the length of the write.
  d.dcb.fRtsControl = RTS_CONTROL_ENABLE;
  (void)d.Apply();
  const int result = d.OverlappedWrite(data, n);
  d.dcb.fRtsControl = RTS_CONTROL_DISABLE;
  (void)d.Apply();
  return result;
}

int SerialLine::ReadQueued(std::uint8_t* buffer, std::size_t room, std::size_t* got) {
  Impl& d = *impl_;
  if (got != nullptr) *got = 0;
  if (d.handle == nullptr) {
    DebugTrace("GetString -2");
    return -1;
  }
  // Bytes taken while waiting come first.
  std::size_t n = std::min(room, d.queue.size());
  std::copy_n(d.queue.begin(), n, buffer);
  d.queue.erase(d.queue.begin(), d.queue.begin() + static_cast<std::ptrdiff_t>(n));

  // The driver is read only for bytes it holds: asked for more than that,
  // some drivers keep the read pending until input arrives instead of
  // answering at once.
  const DWORD queued = n < room ? d.Queued() : 0;
  if (queued > 0) {
    Event event;
    if (!event) {
      DebugTrace("GetString -1");
      return -1;
    }
    OVERLAPPED ov{};
    ov.hEvent = event.get();
    DWORD count = 0;
    if (!ReadFile(d.handle, buffer + n, std::min(ClampToDword(room - n), queued), &count, &ov)) {
      if (GetLastError() == ERROR_IO_PENDING) {
        const DWORD wait = WaitForSingleObject(event.get(), kPendingWaitMs);
        if (wait != WAIT_OBJECT_0) {
          // What the cancelled read took stays for the next read.
          const DWORD late = Abandon(d.handle, &ov);
          d.queue.insert(d.queue.begin(), buffer, buffer + n + late);
          DebugTrace(wait == WAIT_TIMEOUT ? "GetString -3" : "GetString -4");
          return -1;
        }
        if (!GetOverlappedResult(d.handle, &ov, &count, FALSE)) {
          d.queue.insert(d.queue.begin(), buffer, buffer + n);
          DebugTrace("GetString -2");
          return -1;
        }
      } else {
        // Refused at once (with fAbortOnError, a line error not yet
        // cleared): nothing was read from the driver.
        count = 0;
      }
    }
    n += count;
  }
  if (n == 0) {
    DebugTrace("GetString -7");
    return -1;
  }
  // The bytes of a read during which the line reported an error cannot be
  // trusted and are dropped.
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(d.handle, &errors, &stat)) {
    DebugTrace("GetString -5");
    return -1;
  }
  if (errors != 0 || d.lineError) {
    d.lineError = false;
    DebugTrace("GetString -6");
    return -1;
  }
  if (got != nullptr) *got = n;
  DebugTrace("GetString ok");
  return 0;
}

// One read of the port for up to kChunk bytes into the line's queue.  It
// returns at once with what the driver holds; a driver that keeps it
// pending until input arrives is waited for at most waitMs, then the read
// is cancelled.
SerialLine::Impl::Pull SerialLine::Impl::PullInput(HANDLE event, HANDLE wake, DWORD waitMs) {
  std::uint8_t chunk[kChunk];
  const DWORD room = static_cast<DWORD>(std::min<std::size_t>(kChunk, kQueueLimit - queue.size()));
  OVERLAPPED ov{};
  ov.hEvent = event;
  ResetEvent(event);
  DWORD count = 0;
  Pull result = Pull::kBytes;
  if (!ReadFile(handle, chunk, room, &count, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) return Pull::kFailed;
    if (WaitRequest(event, wake, waitMs)) {
      if (!GetOverlappedResult(handle, &ov, &count, FALSE)) return Pull::kFailed;
    } else {
      count = Abandon(handle, &ov);
      result = Pull::kTimedOut;
    }
  }
  queue.insert(queue.end(), chunk, chunk + count);
  if (count > 0) return Pull::kBytes;
  return result == Pull::kTimedOut ? Pull::kTimedOut : Pull::kNothingAtOnce;
}

// Sleeps until the driver reports an event of the port's mask (a received
// character above all) or waitMs passes.
SerialLine::Impl::CharEvent SerialLine::Impl::WaitCharEvent(HANDLE event, HANDLE wake, DWORD waitMs) {
  OVERLAPPED ov{};
  ov.hEvent = event;
  ResetEvent(event);
  DWORD events = 0;
  if (WaitCommEvent(handle, &events, &ov)) return CharEvent::kSeen;  // recorded before the call
  if (GetLastError() != ERROR_IO_PENDING) return CharEvent::kUnsupported;
  // A byte that came between the read that found nothing and the posting
  // of this wait may have raised its event before the wait existed.
  if (Queued() > 0) {
    (void)Abandon(handle, &ov);
    return CharEvent::kSeen;
  }
  if (!WaitRequest(event, wake, waitMs)) {
    (void)Abandon(handle, &ov);
    return CharEvent::kTimedOut;
  }
  DWORD ignored = 0;
  return GetOverlappedResult(handle, &ov, &ignored, FALSE) ? CharEvent::kSeen : CharEvent::kUnsupported;
}

bool SerialLine::WaitInput(std::size_t atLeast, int timeoutMs, const CancelWatch* cancel) {
  Impl& d = *impl_;
  if (d.handle == nullptr) return false;
  if (d.Available() >= atLeast) return true;
  if (timeoutMs <= 0) return false;

  Event event;
  if (!event) return false;
  WakeEvent* wakeEvent = WakeFor(&d.wake, cancel);
  const HANDLE wake = wakeEvent != nullptr ? static_cast<HANDLE>(wakeEvent->handle()) : nullptr;
  const WakeOnCancel lent(cancel, wakeEvent);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  bool failedBefore = false;
  for (;;) {
    // A full own queue cannot grow; waiting on would only spin.
    if (d.queue.size() >= kQueueLimit) return false;
    // Taken back before the count is looked at: a cancel after this sets
    // the event again.
    if (wakeEvent != nullptr) wakeEvent->Clear();
    if (cancel != nullptr && cancel->Cancelled()) return d.Available() >= atLeast;
    const DWORD left = Remaining(deadline);
    if (left == 0) return d.Available() >= atLeast;

    switch (d.PullInput(event.get(), wake, left)) {
      case Impl::Pull::kBytes:
        failedBefore = false;
        break;
      case Impl::Pull::kTimedOut:
        // With a wake event the wait may have been woken instead: the top
        // of the loop tells a cancel from the time running out.
        if (wake == nullptr) return d.Available() >= atLeast;
        break;
      case Impl::Pull::kFailed:
        // With fAbortOnError a line error fails every request until it is
        // cleared, which the count below does.  A second failure in a row
        // means the port itself has failed.
        if (failedBefore) return d.Available() >= atLeast;
        failedBefore = true;
        break;
      case Impl::Pull::kNothingAtOnce:
        switch (d.WaitCharEvent(event.get(), wake, left)) {
          case Impl::CharEvent::kSeen:
            break;
          case Impl::CharEvent::kTimedOut:
            if (wake == nullptr) return d.Available() >= atLeast;
            break;
          case Impl::CharEvent::kUnsupported:
            // A driver that neither keeps a read pending nor reports
            // events: look again after a short pause.
            SleepMs(std::min<DWORD>(left, 2));
            break;
        }
        break;
    }
    if (d.Available() >= atLeast) return true;
  }
}

std::size_t SerialLine::InputCount() {
  Impl& d = *impl_;
  if (d.handle == nullptr) return 0;
  const std::size_t n = d.Available();
  // Asking for the count clears a pending line error.
  d.lineError = false;
  return n;
}

// The driver reports a vanished device through failing calls only; the
// reads and writes that fail give their own codes.
bool SerialLine::Failed() { return false; }

int SerialLine::Purge() {
  Impl& d = *impl_;
  if (d.handle == nullptr) return 0;
  d.queue.clear();
  return PurgeComm(d.handle, kPurgeAll) ? 1 : 0;
}

}  // namespace kp::platform
