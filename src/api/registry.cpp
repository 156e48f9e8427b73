#include "api/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "reader/reader_t0.h"
#include "reader/reader_t1.h"
#include "reader/reader_t61.h"

namespace kp {

CReaderRegistry& Registry() {
  // Built before the first export runs and destroyed at unload, closing
  // every port still open.
  static CReaderRegistry registry;
  return registry;
}

int CReaderRegistry::HandleOf(const char* portSpec) {
  if (portSpec == nullptr) return -1;
  char portText[128] = {};
  std::snprintf(portText, sizeof portText, "%s", portSpec);
  if (portText[0] == '\0' || std::strlen(portText) <= 3) return -1;
  const long n = std::strtol(portText + 3, nullptr, 10);
  if (n < 1 || n > 0x7FFFFFFFL) return -1;
  return static_cast<int>(n);
}

std::unique_ptr<CReader> CReaderRegistry::Create(int deviceType) {
  switch (deviceType) {
    case 0:
      return std::make_unique<CReaderT0>();
    case 1:
    case 2:
    case 5:
      return std::make_unique<CReaderT1>();
    case 61:
    case 62:
      return std::make_unique<CReaderT61>();
    default:
      return nullptr;
  }
}

int CReaderRegistry::Add(CReader** reader, const char* portSpec, int deviceType) {
  const int handle = HandleOf(portSpec);
  if (handle < 1) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e.handle == handle) {
      *reader = e.reader.get();
      return handle;
    }
  }
  std::unique_ptr<CReader> created = Create(deviceType);
  if (!created) {
    *reader = nullptr;
    return -1;
  }
  *reader = created.get();
  entries_.push_back(Entry{handle, std::move(created)});
  return handle;
}

int CReaderRegistry::Find(int handle, CReader** reader) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& e : entries_) {
    if (e.handle == handle) {
      *reader = e.reader.get();
      return 1;
    }
  }
  return 0;
}

void CReaderRegistry::Remove(int handle) {
  std::unique_ptr<CReader> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->handle == handle) {
        doomed = std::move(it->reader);
        entries_.erase(it);
        break;
      }
    }
  }
  // The reader (and its port) goes outside the lock: closing a port must not
  // hold up other threads' lookups.
}

void CReaderRegistry::DestroyAll() {
  std::vector<Entry> doomed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doomed.swap(entries_);
  }
}

}  // namespace kp
