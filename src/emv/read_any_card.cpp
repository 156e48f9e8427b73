// The read-any-card loop: the library opens the reader on the caller's port
// itself, tries every enabled card technology in a fixed order, closes the
// reader, and (KP_DEV_ReadAll_A) repeats until a card is read, the time
// runs out or KP_DEV_CancelReadAll is called.
#include <cstdio>
#include <cstring>
#include <string>

#include "api/registry.h"
#include "emv/services.h"
#include "idcard/id_library.h"
#include "kp_dev.h"
#include "log/log.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "reader/results.h"
#include "reader/tracks.h"

namespace kp {

std::atomic<std::uint8_t> g_readAllCancel{0};
std::atomic<int> g_readAllHandle{0};
std::atomic<int> g_readAllType{0};

std::mutex& ReadAllReaderLock() {
  static std::mutex lock;
  return lock;
}

namespace {

enum CardKind : int {
  kNoCard = 0,
  kMagneticCard = 1,
  kStoreCardBlock = 2,
  kContactBankCard = 3,
  kContactlessBankCard = 4,
};

constexpr int kContactSeat = 0;
constexpr int kContactlessSeat = 255;
// Rooms declared to the card operations, and the texts behind them (an
// answer of n bytes comes back as 2n characters and a NUL).
constexpr int kUidRoomBytes = 63;
constexpr int kAnswerRoomBytes = 512;
constexpr int kBlockRoomChars = 128;
constexpr unsigned kPassPauseMs = 50;

// "!!!开户串口失败 %d" (the reader's port did not open), in code page 936.
constexpr char kOpenFailedLog[] = "!!!\xBF\xAA\xBB\xA7\xB4\xAE\xBF\xDA\xCA\xA7\xB0\xDC %d";

bool Flag(int value) { return (value & 0xFF) != 0; }

// Opens the reader of the loop: the type is remembered for the log line of a
// failed open, the handle for KP_DEV_CancelReadAll.
int OpenReader(int deviceType, int port, int baud, int* handle) {
  char portText[64];
  std::snprintf(portText, sizeof portText, "COM%d:%d:N:8:1", port, baud);
  g_readAllType = deviceType;
  int r;
  {
    std::lock_guard<std::mutex> lock(ReadAllReaderLock());
    r = KP_DEV_OpenDevice(deviceType, portText, handle);
    if (r == 0) g_readAllHandle = *handle;
  }
  if (r != 0) WriteLog(kOpenFailedLog, deviceType);
  return r;
}

void CloseReader(int handle) {
  std::lock_guard<std::mutex> lock(ReadAllReaderLock());
  KP_DEV_CloseDevice(handle);
}

// The contactless store card: activate, authenticate the sector, read the
// block straight into the result text.
bool TryStoreCard(int handle, const ReadAllArgs& args) {
  int cardType = 0;
  int uidLen = kUidRoomBytes;
  char uid[2 * kUidRoomBytes + 2] = {};
  int atsLen = kAnswerRoomBytes;
  char ats[2 * kAnswerRoomBytes + 2] = {};
  if (KP_DEV_IC_ConnectlessActiveStoreCard(handle, &cardType, &uidLen, uid, &atsLen, ats) != 0) return false;
  if (KP_DEV_IC_ConnectlessCertifySector(handle, args.sector, args.keyType, args.keyHex) != 0) return false;
  int blockLen = kBlockRoomChars;
  return KP_DEV_IC_ConnectlessReadBlock(handle, args.sector, args.block, &blockLen, args.result) == 0;
}

bool TryContactBankCard(int handle, const ReadAllArgs& args) {
  int atrLen = kAnswerRoomBytes;
  char atr[2 * kAnswerRoomBytes + 2] = {};
  if (KP_DEV_IC_PowerOn(handle, kContactSeat, &atrLen, atr) != 0) return false;
  // The card stays powered: the reader is closed right after.
  return KP_DEV_ReadFinanceICTrack2(handle, kContactSeat, 0, args.result) == 0;
}

bool TryContactlessBankCard(int handle, const ReadAllArgs& args) {
  int cardType = 0;
  int uidLen = kUidRoomBytes;
  char uid[2 * kUidRoomBytes + 2] = {};
  int atsLen = kAnswerRoomBytes;
  char ats[2 * kAnswerRoomBytes + 2] = {};
  const bool read = KP_DEV_IC_ConnectlessActive(handle, &cardType, &uidLen, uid, &atsLen, ats) == 0 &&
                    KP_DEV_ReadFinanceICTrack2(handle, kContactlessSeat, 0, args.result) == 0;
  // The field is released whatever happened.
  KP_DEV_IC_ConnectlessHalt(handle);
  return read;
}

// The chip card technologies the caller enabled, in a fixed order, on the
// reader open under handle.  A failure of one only moves on to the next.
// The reader is closed in every case.
int TryChipCards(int handle, const ReadAllArgs& args) {
  *args.cardKind = kNoCard;
  int kind = kNoCard;
  if (Flag(args.tryStoreCard) && TryStoreCard(handle, args)) {
    kind = kStoreCardBlock;
  } else if (Flag(args.tryContactBank) && TryContactBankCard(handle, args)) {
    kind = kContactBankCard;
  } else if (Flag(args.tryContactlessBank) && TryContactlessBankCard(handle, args)) {
    kind = kContactlessBankCard;
  }
  CloseReader(handle);
  if (kind == kNoCard) return kNothingYet;
  *args.cardKind = kind;
  return kOk;
}

bool Usable(const ReadAllArgs& args) { return args.cardKind != nullptr && args.result != nullptr; }

}  // namespace

int ReadAllRepeat(const ReadAllArgs& args) {
  if (!Usable(args)) return kErrParam;
  g_readAllCancel = 0;
  const std::uint32_t start = platform::TickMs();
  for (;;) {
    // Whatever an earlier pass or call left open on the loop's handle.
    CloseReader(g_readAllHandle);

    if (ReadIdViaLibrary(args.port, args.cardKind, args.result) == 0) return kOk;

    int handle = 0;
    const int opened = OpenReader(61, args.port, 115200, &handle);
    if (opened != 0) return opened;

    // Track buffers as large as the head's whole answer, so a long swipe
    // never runs past them.
    char track1[kSwipeRoom] = {};
    char track2[kSwipeRoom] = {};
    if (KP_DEV_Magnetic_ReadTrack(handle, track1, track2) == 0) {
      *args.cardKind = kMagneticCard;
      JoinTracks(track1, track2, args.result);
      CloseReader(handle);
      return kOk;
    }
    if (TryChipCards(handle, args) == 0) return kOk;  // the reader is closed
    CloseReader(handle);

    if (args.timeoutMs == 0) return kNothingYet;
    platform::PumpOneMessage();
    if (g_readAllCancel) return kNothingYet;
    if (static_cast<std::uint32_t>(platform::TickMs() - start) > args.timeoutMs) return kNothingYet;
    platform::SleepMs(kPassPauseMs);
  }
}

int ReadAll(const ReadAllArgs& args) {
  if (!Usable(args)) return kErrParam;
  int handle = 0;
  int r = OpenReader(1, args.port, 9600, &handle);
  if (r != 0) return r;
  if (TryChipCards(handle, args) == 0) return kOk;

  CloseReader(handle);
  r = OpenReader(2, args.port, 9600, &handle);
  if (r != 0) return r;
  CReader* reader = nullptr;
  // The magnetic reader waits on its own; a timeout below 300 ms wraps round
  // and the wait ends only with a card or a cancel.
  if (Registry().Find(handle, &reader) && reader->ReadAll(args.timeoutMs - 300u, args.result) == 0) {
    *args.cardKind = kMagneticCard;
    return kOk;  // this reader stays open until the next loop's first pass
  }

  CloseReader(handle);
  r = OpenReader(1, args.port, 9600, &handle);
  if (r != 0) return r;
  if (TryChipCards(handle, args) == 0) return kOk;
  CloseReader(handle);
  return kNothingYet;
}

}  // namespace kp
