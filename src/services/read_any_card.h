// The read-any-card loop: it opens and closes readers itself, through the
// registry, and drives each under a lease.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/cancel.h"

namespace kp {

// State of the read-any-card loop in progress, shared with
// KP_DEV_CancelReadAll: the cancel, and the handle of the loop's reader.
extern CancelToken g_readAllCancel;
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
// Reaches a running loop from any thread, without waiting for it: the loop
// ends at its next look (the end of a pass, the next round of the magnetic
// wait, the next command of a bank card's dialogue).  A loop that starts
// afterwards is not ended by it.
void CancelReadAll();

}  // namespace kp
