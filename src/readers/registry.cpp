#include "readers/registry.h"

#include "base/results.h"
#include "readers/family.h"

namespace kp {

CReaderRegistry& Registry() {
  // Built before the first export runs and destroyed at unload, closing
  // every port still open.
  static CReaderRegistry registry;
  return registry;
}

std::unique_ptr<CReader> CReaderRegistry::Create(int deviceType) {
  const ReaderFamily* family = FamilyOf(deviceType);
  if (family == nullptr) return nullptr;
  return std::make_unique<CReader>(*family);
}

std::shared_ptr<ReaderSlot> CReaderRegistry::Find(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e.handle == handle) return e.slot;
  }
  return nullptr;
}

ReaderLease CReaderRegistry::Lease(int handle) {
  for (;;) {
    std::shared_ptr<ReaderSlot> slot = Find(handle);
    if (!slot) return {};
    std::unique_lock<std::mutex> lock(slot->operation);
    // Closed while we waited: look again, the handle may have been opened
    // anew by then.
    if (!slot->closed) return ReaderLease(std::move(slot), std::move(lock));
  }
}

ReaderLease CReaderRegistry::LeaseOrCreate(int handle, int deviceType) {
  if (handle < 1) return {};
  for (;;) {
    if (ReaderLease lease = Lease(handle)) return lease;
    // A new reader, locked before anyone can see it.  Its lock is taken
    // outside the registry's mutex, which is only ever taken inside a
    // reader's lock (Remove), never the other way round.
    std::unique_ptr<CReader> created = Create(deviceType);
    if (!created) return {};
    auto fresh = std::make_shared<ReaderSlot>(std::move(created));
    std::unique_lock<std::mutex> held(fresh->operation);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool taken = false;
      for (const auto& e : entries_) taken = taken || e.handle == handle;
      if (!taken) {
        entries_.push_back(Entry{handle, fresh});
        return ReaderLease(std::move(fresh), std::move(held));
      }
    }
    // Another thread registered the handle meanwhile: use its reader.
  }
}

void CReaderRegistry::Remove(const ReaderLease& lease) {
  if (!lease) return;
  lease.slot()->closed = true;  // the lease holds the operation lock
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->slot == lease.slot()) {
      entries_.erase(it);
      return;
    }
  }
}

int CReaderRegistry::Open(int deviceType, const PortSpec& target, ReaderLease* keep) {
  ReaderLease lease = LeaseOrCreate(target.handle, deviceType);
  if (!lease) return kErrOpen;
  const int r = lease->OpenDevice(deviceType, target);
  if (r != 0) {
    Remove(lease);
    return r;
  }
  if (keep) *keep = std::move(lease);
  return kOk;
}

int CReaderRegistry::Close(int handle) {
  ReaderLease lease = Lease(handle);
  if (!lease) return kOk;
  return Close(lease);
}

int CReaderRegistry::Close(ReaderLease& lease) {
  if (!lease) return kOk;
  const int r = lease->CloseDevice();
  Remove(lease);
  lease = ReaderLease();
  return r;
}

void CReaderRegistry::DestroyAll() {
  std::vector<Entry> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doomed.swap(entries_);
  }
  // The readers (and their ports) go outside the lock.
}

}  // namespace kp
