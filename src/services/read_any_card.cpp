// The read-any-card loop: the library opens the reader on the caller's port
// itself, tries every enabled card technology in a fixed order, closes the
// reader, and (KP_DEV_ReadAll_A) repeats until a card is read, the time
// runs out or KP_DEV_CancelReadAll is called.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "services/read_any_card.h"

#include "base/results.h"
#include "idcard/id_library.h"
#include "log/log.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "readers/contact.h"
#include "readers/contactless.h"
#include "readers/magnetic.h"
#include "readers/registry.h"
#include "readers/tracks.h"
#include "serial/port_text.h"
#include "services/emv.h"

namespace kp {

CancelToken g_readAllCancel;
std::atomic<int> g_readAllHandle{0};

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
constexpr int kPassPauseMs = 50;

// "!!!开户串口失败 %d" (the reader's port did not open), in code page 936.
constexpr char kOpenFailedLog[] = "!!!\xBF\xAA\xBB\xA7\xB4\xAE\xBF\xDA\xCA\xA7\xB0\xDC %d";

bool Flag(int value) { return (value & 0xFF) != 0; }

// Opens the reader of the loop and leases it until the loop closes it; the
// handle is remembered, so that the next loop's first pass closes a reader
// this one leaves open.
int OpenReader(int deviceType, int port, int baud, ReaderLease* lease) {
  const PortSpec target = MakePortSpec(port, baud);
  const int r = Registry().Open(deviceType, target, lease);
  if (r == 0) g_readAllHandle = target.handle;
  if (r != 0) WriteLog(kOpenFailedLog, deviceType);
  return r;
}

void CloseReader(ReaderLease& lease) { Registry().Close(lease); }

// The contactless store card: activate, authenticate the sector, read the
// block straight into the result text.
bool TryStoreCard(CReader& reader, const ReadAllArgs& args) {
  int cardType = 0;
  int uidLen = kUidRoomBytes;
  char uid[2 * kUidRoomBytes + 2] = {};
  int atsLen = kAnswerRoomBytes;
  char ats[2 * kAnswerRoomBytes + 2] = {};
  Use<Contactless> contactless(reader);
  if (!contactless) return false;
  if (contactless->IC_ConnectlessActiveStoreCard(&cardType, &uidLen, uid, &atsLen, ats) != 0) return false;
  if (contactless->IC_ConnectlessCertifySector(args.sector, args.keyType, args.keyHex) != 0) return false;
  int blockLen = kBlockRoomChars;
  return contactless->IC_ConnectlessReadBlock(AbsoluteBlock(args.sector, args.block), &blockLen, args.result) == 0;
}

bool TryContactBankCard(CReader& reader, const ReadAllArgs& args, const std::function<bool()>* stop) {
  int atrLen = kAnswerRoomBytes;
  char atr[2 * kAnswerRoomBytes + 2] = {};
  Use<ContactCard> contact(reader);
  if (!contact || contact->IC_PowerOn(kContactSeat, &atrLen, atr) != 0) return false;
  // The card stays powered: the reader is closed right after.
  return ReadFinanceICTrack2(CardChannel{&reader, kContactSeat, 0, stop}, args.result) == 0;
}

bool TryContactlessBankCard(CReader& reader, const ReadAllArgs& args, const std::function<bool()>* stop) {
  int cardType = 0;
  int uidLen = kUidRoomBytes;
  char uid[2 * kUidRoomBytes + 2] = {};
  int atsLen = kAnswerRoomBytes;
  char ats[2 * kAnswerRoomBytes + 2] = {};
  Use<Contactless> contactless(reader);
  if (!contactless) return false;
  const bool read = contactless->IC_ConnectlessActive(&cardType, &uidLen, uid, &atsLen, ats) == 0 &&
                    ReadFinanceICTrack2(CardChannel{&reader, kContactlessSeat, 0, stop}, args.result) == 0;
  // The field is released whatever happened.
  contactless->IC_ConnectlessHalt();
  return read;
}

// The chip card technologies the caller enabled, in a fixed order, on the
// leased reader.  A failure of one only moves on to the next.  `stop` (may
// be null) ends a bank card's dialogue early.  The caller closes the reader.
int TryChipCards(CReader& reader, const ReadAllArgs& args, const std::function<bool()>* stop) {
  *args.cardKind = kNoCard;
  int kind = kNoCard;
  if (Flag(args.tryStoreCard) && TryStoreCard(reader, args)) {
    kind = kStoreCardBlock;
  } else if (Flag(args.tryContactBank) && TryContactBankCard(reader, args, stop)) {
    kind = kContactBankCard;
  } else if (Flag(args.tryContactlessBank) && TryContactlessBankCard(reader, args, stop)) {
    kind = kContactlessBankCard;
  }
  if (kind == kNoCard) return kNothingYet;
  *args.cardKind = kind;
  return kOk;
}

// Longest pause between two polls of the head in KP_DEV_ReadAll's wait; a
// swipe arriving earlier ends the pause at once, and so does a cancel.
constexpr int kSwipePollPauseMs = 300;

// KP_DEV_ReadAll's wait for a swipe ("first|second" into result).  Arms the
// head (a type-61 reader arms it with every read and answers the arm with 0
// at once), then polls it until a swipe has been read, the call was
// cancelled, or timeoutMs has passed.  A cancel that came before the wait
// began ends it after its first poll; one during the wait wakes the pause
// and ends it within milliseconds.
int WaitForSwipe(CReader& reader, unsigned int timeoutMs, char* result, const CancelWatch& cancel) {
  // A reader without a head has nothing to wait for.
  if (reader.family().magnetic == Serves::kNever) return kOk;
  Use<MagneticHead> head(reader);
  if (!head) return head.refusal();
  const int armed = head->Magnetic_Accept();
  if (armed != 0) return armed;
  CSerialPort& port = reader.serialPort();
  const std::uint32_t start = platform::TickMs();
  for (;;) {
    char track1[kSwipeRoom] = {};
    char track2[kSwipeRoom] = {};
    const int r = head->Magnetic_ReadTrack(track1, track2, &cancel);
    if (r == 0) {
      JoinTracks(track1, track2, result);
      return kOk;
    }
    // A dead line makes every wait return at once; polling on would spin.
    if (port.LineFailed()) return r == kErrWrite ? kErrWrite : kErrRead;
    platform::PumpOneMessage();
    if (cancel.Cancelled()) return kNothingYet;
    if (static_cast<std::uint32_t>(platform::TickMs() - start) > timeoutMs) return kNothingYet;
    port.WaitForInput(1, kSwipePollPauseMs, &cancel);
  }
}

bool Usable(const ReadAllArgs& args) { return args.cardKind != nullptr && args.result != nullptr; }

}  // namespace

void CancelReadAll() { g_readAllCancel.Cancel(); }

int ReadAllRepeat(const ReadAllArgs& args) {
  if (!Usable(args)) return kErrParam;
  // Only a cancel made from now on ends this call.
  const CancelToken::Mark started = g_readAllCancel.Start();
  const CancelWatch cancel{&g_readAllCancel, started};
  const std::uint32_t start = platform::TickMs();
  const auto timeUp = [&] {
    return args.timeoutMs != 0 && static_cast<std::uint32_t>(platform::TickMs() - start) > args.timeoutMs;
  };
  // A bank card's dialogue is cut short by a cancel and by the end of the
  // call's time: a card that answers every command holds a pass no longer.
  const std::function<bool()> stop = [&] { return g_readAllCancel.CancelledSince(started) || timeUp(); };
  for (;;) {
    // Whatever an earlier pass or call left open on the loop's handle.
    Registry().Close(g_readAllHandle);

    if (ReadIdViaLibrary(args.port, args.cardKind, args.result) == 0) return kOk;

    ReaderLease lease;
    const int opened = OpenReader(61, args.port, 115200, &lease);
    if (opened != 0) return opened;

    // Track buffers as large as the head's whole answer, so a long swipe
    // never runs past them.
    char track1[kSwipeRoom] = {};
    char track2[kSwipeRoom] = {};
    Use<MagneticHead> head(*lease);
    if (head && head->Magnetic_ReadTrack(track1, track2, &cancel) == 0) {
      *args.cardKind = kMagneticCard;
      JoinTracks(track1, track2, args.result);
      CloseReader(lease);
      return kOk;
    }
    if (TryChipCards(*lease, args, &stop) == 0) {
      CloseReader(lease);
      return kOk;
    }
    if (args.timeoutMs == 0) {
      CloseReader(lease);
      return kNothingYet;
    }
    // The pause between passes is spent with the port still open: the head,
    // armed by this pass, answers a swipe at once, and a closed port would
    // lose it.  What it sends is kept for the next pass's read.  A cancel
    // ends the pause at once.
    if (!stop()) lease->serialPort().Listen(kPassPauseMs, &cancel);
    CloseReader(lease);
    platform::PumpOneMessage();
    if (g_readAllCancel.CancelledSince(started) || timeUp()) return kNothingYet;
  }
}

int ReadAll(const ReadAllArgs& args) {
  if (!Usable(args)) return kErrParam;
  // A cancel from now on ends the magnetic wait, also one that comes before it.
  const CancelWatch cancel{&g_readAllCancel, g_readAllCancel.Start()};
  ReaderLease lease;
  int r = OpenReader(1, args.port, 9600, &lease);
  if (r != 0) return r;
  r = TryChipCards(*lease, args, nullptr);
  CloseReader(lease);
  if (r == 0) return kOk;

  r = OpenReader(2, args.port, 9600, &lease);
  if (r != 0) return r;
  // The magnetic reader waits on its own; a timeout below 300 ms wraps round
  // and the wait ends only with a card or a cancel.
  const int waited = WaitForSwipe(*lease, args.timeoutMs - 300u, args.result, cancel);
  if (waited == 0) {
    *args.cardKind = kMagneticCard;
    return kOk;  // this reader stays open until the next loop's first pass
  }
  // The line failed under the wait (the reader went away): nothing more can
  // be read from it, and the failure is the answer.
  if (waited == kErrRead || waited == kErrWrite) {
    CloseReader(lease);
    return waited;
  }

  CloseReader(lease);
  r = OpenReader(1, args.port, 9600, &lease);
  if (r != 0) return r;
  r = TryChipCards(*lease, args, nullptr);
  CloseReader(lease);
  return r == 0 ? kOk : kNothingYet;
}

}  // namespace kp
