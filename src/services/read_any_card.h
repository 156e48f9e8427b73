// The read-any-card loop: it opens and closes readers itself, through the
// registry, and drives each under a lease.
#pragma once

#include <atomic>
#include <cstdint>

namespace kp {

// State of the read-any-card loop in progress, shared with
// KP_DEV_CancelReadAll: the cancel flag and the handle of the loop's reader.
extern std::atomic<std::uint8_t> g_readAllCancel;
extern std::atomic<int> g_readAllHandle;

struct ReadAllArgs {
  int port;
  unsigned int timeoutMs;
  int tryStoreCard;
  int sector;
  int block;
  int keyType;
  const char* keyHex;
  int tryContactBank;
  int tryContactlessBank;
  int* cardKind;
  char* result;
};
int ReadAll(const ReadAllArgs& args);
int ReadAllRepeat(const ReadAllArgs& args);
// Reaches a running loop at once, from any thread: sets the flag and stops
// the magnetic wait of the loop's reader without waiting for it.
void CancelReadAll();

}  // namespace kp
