// Financial IC card services, the read-any-card loop and automatic open:
// the bodies of the exports that do more than forward to one reader slot.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kp {

// State of the read-any-card loop in progress, shared with
// KP_DEV_CancelReadAll.
extern std::atomic<std::uint8_t> g_readAllCancel;
extern std::atomic<int> g_readAllHandle;
extern std::atomic<int> g_readAllType;
// Held by the loop while it opens or closes its reader, and by
// KP_DEV_CancelReadAll while it reaches the reader of g_readAllHandle, so
// that a cancel from another thread never meets a reader being destroyed.
// Never held while the loop waits.
std::mutex& ReadAllReaderLock();

int SendApduChained(int handle, int seat, int reserved, const char* apdu, char* response);
int ReadFinanceICTrack2(int handle, int seat, int reserved, char* track2);
int ReadICCardInfo(int handle, int seat, int reserved, char* track2, char* panSeq, char* aid);
int ReadICCardGPOData(int handle, int seat, int reserved, char* records, int capacity);
int GetICTraceInfo(int handle, int seat, int reserved, const char* aid, const char* transType, const char* amount,
                   char* chipData);
int FindSubStr(const char* response, const char* tag, char* valueOut);

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

int AutoOpenDevice(int* port, int* baud, int* handle, int deviceType);

}  // namespace kp
