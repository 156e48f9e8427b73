// CReaderRegistry: the process-wide map from a handle (the COM port number)
// to the reader driving that port, and the factory that picks the reader
// class from the device type.  One mutex guards the list itself; it is not
// held across reader operations, so different ports can be opened, used and
// closed from different threads.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "reader/reader.h"

namespace kp {

class CReaderRegistry {
 public:
  CReaderRegistry() = default;
  ~CReaderRegistry() { DestroyAll(); }
  CReaderRegistry(const CReaderRegistry&) = delete;
  CReaderRegistry& operator=(const CReaderRegistry&) = delete;

  // Registers a new reader for the port of portSpec, or finds the one
  // already registered (whatever deviceType is given now).  Returns the
  // handle and sets *reader, or -1 with *reader left null.
  int Add(CReader** reader, const char* portSpec, int deviceType);
  // 1 with *reader set when registered; 0 with *reader untouched otherwise.
  int Find(int handle, CReader** reader);
  // Unlinks the handle and destroys its reader; no effect when unknown.
  void Remove(int handle);
  // Destroys every reader (closing its port without device traffic).
  void DestroyAll();

  // Handle of a port text: the number at its 4th character, or -1.
  static int HandleOf(const char* portSpec);
  // New reader of the class that serves deviceType, or null.
  static std::unique_ptr<CReader> Create(int deviceType);

 private:
  struct Entry {
    int handle;
    std::unique_ptr<CReader> reader;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;  // in order of registration
};

// The one registry of the process.
CReaderRegistry& Registry();

}  // namespace kp
