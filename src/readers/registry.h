// CReaderRegistry: the process-wide map from a handle (the COM port number)
// to the reader driving that port, and the factory that picks the reader
// family from the device type.
//
// The registry and every lease share ownership of a reader, so a reader
// lives until the last operation on it has ended, whatever other threads
// do with its handle meanwhile.  A lease also holds the reader's operation
// lock: operations on one reader run one after the other (their frames never
// interleave on the line), while readers on different ports work in
// parallel.  The registry's own mutex guards only the list and is never held
// while an operation runs or waits.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "readers/reader.h"
#include "serial/port_text.h"

namespace kp {

// One registered reader and the lock its operations take turns on.
struct ReaderSlot {
  explicit ReaderSlot(std::unique_ptr<CReader> r) : reader(std::move(r)) {}
  const std::unique_ptr<CReader> reader;
  std::mutex operation;
  bool closed = false;  // unlinked from the registry; guarded by operation
};

// Exclusive use of one registered reader for the length of an operation.
class ReaderLease {
 public:
  ReaderLease() = default;
  ReaderLease(std::shared_ptr<ReaderSlot> slot, std::unique_lock<std::mutex> lock)
      : slot_(std::move(slot)), lock_(std::move(lock)) {}
  ReaderLease(ReaderLease&&) noexcept = default;
  // The old reader's lock is let go before the reader itself, which may go
  // with it.
  ReaderLease& operator=(ReaderLease&& other) noexcept {
    lock_ = std::move(other.lock_);
    slot_ = std::move(other.slot_);
    return *this;
  }

  explicit operator bool() const { return slot_ != nullptr; }
  CReader& operator*() const { return *slot_->reader; }
  CReader* operator->() const { return slot_->reader.get(); }
  const std::shared_ptr<ReaderSlot>& slot() const { return slot_; }

 private:
  // Declared in this order so the lock ends before the slot it locks.
  std::shared_ptr<ReaderSlot> slot_;
  std::unique_lock<std::mutex> lock_;
};

class CReaderRegistry {
 public:
  CReaderRegistry() = default;
  ~CReaderRegistry() { DestroyAll(); }
  CReaderRegistry(const CReaderRegistry&) = delete;
  CReaderRegistry& operator=(const CReaderRegistry&) = delete;

  // Leases the reader registered for handle, waiting for an operation that
  // runs on it; an empty lease when none is registered (also when the
  // reader was closed while this call waited).
  ReaderLease Lease(int handle);
  // Leases the reader registered for handle, or registers a new one of the
  // family that serves deviceType.  Empty when handle is below 1 or no family
  // serves deviceType.  A new reader is leased before it becomes visible, so
  // nobody uses it before its open has run.
  ReaderLease LeaseOrCreate(int handle, int deviceType);
  // Opens a reader of deviceType on the port of target: the one registered
  // for its handle (whatever its type), or a new one.  A failed open
  // unlinks the reader, even one that had been open before.  On success the
  // lease is handed to *keep when given, so the caller goes on using the
  // reader without another thread coming in between.  0, -1 (no handle, no
  // family for deviceType) or the reader's open result.
  int Open(int deviceType, const PortSpec& target, ReaderLease* keep = nullptr);
  // Closes the reader of handle (after its running operation) and unlinks
  // it; 0 when none is registered.
  int Close(int handle);
  // Closes the leased reader and unlinks it; the lease is emptied.
  int Close(ReaderLease& lease);
  // Unlinks the leased reader; it is destroyed with its last lease.
  void Remove(const ReaderLease& lease);
  // Unlinks every reader (each closes its port, without device traffic,
  // when its last lease ends).
  void DestroyAll();

  // New reader of the family that serves deviceType, or null.
  static std::unique_ptr<CReader> Create(int deviceType);

 private:
  struct Entry {
    int handle;
    std::shared_ptr<ReaderSlot> slot;
  };
  std::shared_ptr<ReaderSlot> Find(int handle);

  std::mutex mutex_;
  std::vector<Entry> entries_;  // in order of registration
};

// The one registry of the process.
CReaderRegistry& Registry();

}  // namespace kp
