// The exported C interface.  Almost every export leases the reader of its
// handle from the registry, applies the gate of the operation's module and
// forwards its remaining arguments unchanged to one module operation; a
// handle without a reader answers 0 and touches nothing.  The exports that
// do more are at the top.  No C++ exception crosses this interface: each
// export turns one into -99 and a log line.
#include <cstring>
#include <exception>
#include <utility>

#include "base/convert.h"
#include "base/results.h"
#include "idcard/id_module.h"
#include "kp_dev.h"
#include "log/log.h"
#include "readers/at24.h"
#include "readers/at45.h"
#include "readers/at88sc.h"
#include "readers/contact.h"
#include "readers/contactless.h"
#include "readers/device.h"
#include "readers/magnetic.h"
#include "readers/registry.h"
#include "readers/sle44x8.h"
#include "readers/store_card.h"
#include "serial/port_text.h"
#include "services/auto_open.h"
#include "services/emv.h"
#include "services/read_any_card.h"

using kp::CReader;
using kp::Registry;

namespace {

// "2.0.0.2 最后修改日期：2015-05-03" in code page 936: 32 bytes.
constexpr char kDllVersion[] =
    "2.0.0.2 \xD7\xEE\xBA\xF3\xD0\xDE\xB8\xC4\xC8\xD5\xC6\xDA\xA3\xBA"
    "2015-05-03";
static_assert(sizeof kDllVersion == 33, "version text is 32 bytes and a NUL");

void LogException(const char* name, const char* what) noexcept {
  try {
    kp::WriteLog("!!!%s: %s", name, what);
  } catch (...) {
    // Nothing more can be done without memory; the result code says it.
  }
}

// Runs the body of an export; an exception ends it with kErrInternal.
template <typename Body>
int Guarded(const char* name, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    LogException(name, e.what());
  } catch (...) {
    LogException(name, "unknown exception");
  }
  return kp::kErrInternal;
}

// Leases the reader of handle for one operation.
template <typename Op>
int Dispatch(const char* name, int handle, Op&& op) noexcept {
  return Guarded(name, [&] {
    const kp::ReaderLease lease = Registry().Lease(handle);
    if (!lease) return 0;
    return op(*lease);
  });
}

// Leases the reader of handle and applies the gate of module M (and of
// feature, for an operation a family may not know) before the operation,
// its argument checks included.
template <typename M, typename Op>
int On(const char* name, int handle, unsigned feature, Op&& op) noexcept {
  return Dispatch(name, handle, [&](CReader& reader) {
    kp::Use<M> module(reader, feature);
    return module ? op(*module) : module.refusal();
  });
}

template <typename M, typename Op>
int On(const char* name, int handle, Op&& op) noexcept {
  return On<M>(name, handle, kp::kNoFeature, std::forward<Op>(op));
}

// The card of a financial service call; a handle without a reader gives a
// card whose every exchange answers 0 and writes nothing.
template <typename Service>
int OnCard(const char* name, int handle, int seat, int reserved, Service&& service) noexcept {
  return Guarded(name, [&] {
    const kp::ReaderLease lease = Registry().Lease(handle);
    return service(kp::CardChannel{lease ? &*lease : nullptr, seat, reserved});
  });
}

// The chained APDU exchange in its exported form.  The caller's response
// text is the card's answer in hex; each exchange that reaches the reader
// clears its first four characters and, when it succeeds, writes its answer
// there, so a follow-up that fails leaves the text empty.
int SendApduChained(const kp::CardChannel& card, const char* command, char* response) {
  if (command == nullptr || response == nullptr) return kp::kErrParam;
  // Never an earlier answer: a card without a reader writes nothing, and the
  // text must then read empty rather than as the caller's buffer held it.
  response[0] = '\0';
  kp::Bytes answer;
  return kp::ExchangeChained(card, std::string_view(command, strnlen(command, kp::kMaxCommandScan)), &answer,
                             [response](int result, const kp::Bytes& each) {
                               std::memset(response, 0, 4);
                               if (result == 0) kp::BytesToHex(each.data(), each.size(), response);
                             });
}

}  // namespace

extern "C" {

KP_API int KP_STDCALL KP_DEV_GetDllVersion(char* text) {
  if (text) std::memcpy(text, kDllVersion, sizeof kDllVersion);
  return 0;
}

KP_API int KP_STDCALL KP_DEV_OpenDevice(int deviceType, const char* portSpec, int* handle) {
  return Guarded(__func__, [&] {
    const kp::PortSpec target = kp::ParsePortSpec(portSpec);
    const int r = Registry().Open(deviceType, target);
    if (r == 0 && handle) *handle = target.handle;
    return r;
  });
}

KP_API int KP_STDCALL KP_DEV_CloseDevice(int handle) {
  return Guarded(__func__, [&] { return Registry().Close(handle); });
}

KP_API int KP_STDCALL KP_DEV_CheckIsOpen(int handle, int* module) {
  return Guarded(__func__, [&] {
    const kp::ReaderLease lease = Registry().Lease(handle);
    if (!lease) return kp::kErrNotOpen;
    const int m = lease->CheckIsOpen();
    if (module) *module = m;
    return 0;
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessReadBlock(int handle, int sector, int block, int* dataLen, char* dataOut) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.IC_ConnectlessReadBlock(kp::AbsoluteBlock(sector, block), dataLen, dataOut);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteBlock(int handle, int sector, int block, const char* dataHex) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.IC_ConnectlessWriteBlock(kp::AbsoluteBlock(sector, block), dataHex);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessReadValueBlock(int handle, int sector, int block, float* value) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.IC_ConnectlessReadValueBlock(kp::AbsoluteBlock(sector, block), value);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteValueBlock(int handle, int sector, int block, float value) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.IC_ConnectlessWriteValueBlock(kp::AbsoluteBlock(sector, block), value);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessIncrease(int handle, int sector, int block, float amount) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.AdjustValueBlock(kp::AbsoluteBlock(sector, block), amount, true);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessDecrease(int handle, int sector, int block, float amount) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.AdjustValueBlock(kp::AbsoluteBlock(sector, block), amount, false);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT1604(int handle, int seat, int pwdSelector, const char* pwdHex) {
  const int low = pwdSelector & 0xFF;
  const int high = (pwdSelector >> 8) & 0xFF;
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_VerifyPwdEXAT1604(seat, low, high, pwdHex); });
}

// One entry serves both AT88SC102 and AT88SC1608 password checks.
KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT102(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_VerifyPwdEXAT1608(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_WaitForWriteTrack(int handle, const char* track1, const char* track2) {
  return Dispatch(__func__, handle, [&](CReader& r) {
    const bool has1 = track1 && track1[0] != '\0';
    const bool has2 = track2 && track2[0] != '\0';
    // No track at all is refused before the gate.
    if (!has1 && !has2) return kp::kErrParam;
    kp::Use<kp::MagneticHead> head(r);
    if (!head) return head.refusal();
    if (has1 && has2) return head->Magnetic_WaitForWriteBothTracks(track1, track2);
    if (has1) return head->Magnetic_WaitForWriteFirstTrack(track1);
    return head->Magnetic_WaitForWriteTrack(track2);
  });
}

// One entry serves both the read and the write cancel.
KP_API int KP_STDCALL KP_DEV_Magnetic_CancelWriteTrack(int handle) {
  return On<kp::MagneticHead>(__func__, handle, [&](kp::MagneticHead& m) { return m.Magnetic_CancelAccept(); });
}

KP_API int KP_STDCALL KP_DEV_CancelReadAll(void) {
  return Guarded(__func__, [] {
    kp::CancelReadAll();
    return 0;
  });
}

KP_API int KP_STDCALL KP_AscToBcd(const char* text, char* hexOut) {
  return Guarded(__func__, [&] { return kp::AscToBcd(text, hexOut); });
}

KP_API int KP_STDCALL KP_BcdToAsc(const char* hexText, char* bytesOut) {
  return Guarded(__func__, [&] { return kp::BcdToAsc(hexText, bytesOut); });
}

KP_API int KP_STDCALL ICCardFindSubStr(const char* response, const char* tag, char* valueOut) {
  return Guarded(__func__, [&] { return kp::FindSubStr(response, tag, valueOut); });
}

KP_API int KP_STDCALL KP_DEV_IC_SendApdu_A(int handle, int seat, int reserved, const char* apdu, int /*apduLen*/,
                                           char* response) {
  return OnCard(__func__, handle, seat, reserved,
                [&](const kp::CardChannel& card) { return SendApduChained(card, apdu, response); });
}

KP_API int KP_STDCALL KP_DEV_ReadFinanceICTrack2(int handle, int seat, int reserved, char* track2) {
  return OnCard(__func__, handle, seat, reserved,
                [&](const kp::CardChannel& card) { return kp::ReadFinanceICTrack2(card, track2); });
}

KP_API int KP_STDCALL KP_DEV_ReadICCardInfo(int handle, int seat, int reserved, char* track2, char* panSeq, char* aid) {
  return OnCard(__func__, handle, seat, reserved,
                [&](const kp::CardChannel& card) { return kp::ReadICCardInfo(card, track2, panSeq, aid); });
}

KP_API int KP_STDCALL KP_DEV_ReadICCardGPOData(int handle, int seat, int reserved, char* records, int capacity) {
  return OnCard(__func__, handle, seat, reserved,
                [&](const kp::CardChannel& card) { return kp::ReadICCardGPOData(card, records, capacity); });
}

KP_API int KP_STDCALL KP_DEV_GetICTraceInfo(int handle, int seat, int reserved, const char* aid, const char* transType,
                                            const char* amount, char* chipData) {
  return OnCard(__func__, handle, seat, reserved, [&](const kp::CardChannel& card) {
    return kp::GetICTraceInfo(card, aid, transType, amount, chipData);
  });
}

KP_API int KP_STDCALL KP_DEV_ReadAll(int port, int /*unused1*/, unsigned int timeoutMs, int tryStoreCard, int sector,
                                     int block, int keyType, const char* keyHex, int tryContactBank,
                                     int tryContactlessBank, int /*unused2*/, int* cardKind, char* result) {
  return Guarded(__func__, [&] {
    return kp::ReadAll({port, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank,
                        tryContactlessBank, cardKind, result});
  });
}

KP_API int KP_STDCALL KP_DEV_ReadAll_A(int port, int /*unused1*/, unsigned int timeoutMs, int tryStoreCard, int sector,
                                       int block, int keyType, const char* keyHex, int tryContactBank,
                                       int tryContactlessBank, int /*unused2*/, int* cardKind, char* result) {
  return Guarded(__func__, [&] {
    return kp::ReadAllRepeat({port, timeoutMs, tryStoreCard, sector, block, keyType, keyHex, tryContactBank,
                              tryContactlessBank, cardKind, result});
  });
}

KP_API int KP_STDCALL KP_DEV_AutoOpenDevice(int* port, int* baud, int* handle, int deviceType) {
  return Guarded(__func__, [&] { return kp::AutoOpenDevice(port, baud, handle, deviceType); });
}

// ------------------------------------------------ plain forwarding exports

KP_API int KP_STDCALL KP_DEV_SetDeviceModule(int handle, int module) {
  return Dispatch(__func__, handle, [&](CReader& r) { return r.SetDeviceModule(module); });
}

KP_API int KP_STDCALL KP_DEV_IC_SoftReset(int handle, int mode) {
  return On<kp::Device>(__func__, handle, [&](kp::Device& m) { return m.IC_SoftReset(mode); });
}

KP_API int KP_STDCALL KP_DEV_IC_GetStatus(int handle, int seat, int* state) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_GetStatus(seat, state); });
}

KP_API int KP_STDCALL KP_DEV_IC_PowerOn(int handle, int seat, int* atrLen, char* atr) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_PowerOn(seat, atrLen, atr); });
}

KP_API int KP_STDCALL KP_DEV_IC_PowerOff(int handle, int seat) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_PowerOff(seat); });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessActive(int handle, int* cardType, int* uidLen, char* uid, int* atsLen,
                                                  char* ats) {
  return On<kp::Contactless>(
      __func__, handle, [&](kp::Contactless& m) { return m.IC_ConnectlessActive(cardType, uidLen, uid, atsLen, ats); });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessHalt(int handle) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) { return m.IC_ConnectlessHalt(); });
}

KP_API int KP_STDCALL KP_DEV_IC_SendApdu(int handle, int seat, int reserved, const char* apdu, int apduLen,
                                         char* response) {
  return On<kp::ContactCard>(
      __func__, handle, [&](kp::ContactCard& m) { return m.IC_SendApdu(seat, reserved, apdu, apduLen, response); });
}

KP_API int KP_STDCALL KP_DEV_IC_SetCardType(int handle, int seat, int cardType) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_SetCardType(seat, cardType); });
}

KP_API int KP_STDCALL KP_DEV_IC_GetCardType(int handle, int seat, int* cardType) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_GetCardType(seat, cardType); });
}

KP_API int KP_STDCALL KP_DEV_IC_InitializeKey(int handle, int seat, const char* keyHex) {
  return On<kp::StoreCard>(__func__, handle, [&](kp::StoreCard& m) { return m.IC_InitializeKey(seat, keyHex); });
}

KP_API int KP_STDCALL KP_DEV_IC_VerifyPwd(int handle, int seat, const char* pwdHex) {
  return On<kp::StoreCard>(__func__, handle, [&](kp::StoreCard& m) { return m.IC_VerifyPwd(seat, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_IC_ReadStoreData(int handle, int seat, int address, int length, char* dataOut) {
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_ReadStoreData(seat, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_IC_WriteStoreData(int handle, int seat, int address, const char* dataHex) {
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_WriteStoreData(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessActiveStoreCard(int handle, int* cardType, int* uidLen, char* uid,
                                                           int* atsLen, char* ats) {
  return On<kp::Contactless>(__func__, handle, [&](kp::Contactless& m) {
    return m.IC_ConnectlessActiveStoreCard(cardType, uidLen, uid, atsLen, ats);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessCertifySector(int handle, int sector, int keyType, const char* keyHex) {
  return On<kp::Contactless>(
      __func__, handle, [&](kp::Contactless& m) { return m.IC_ConnectlessCertifySector(sector, keyType, keyHex); });
}

KP_API int KP_STDCALL KP_DEV_IC_ConnectlessWriteKey(int handle, int sector, int keyType, const char* keyHex) {
  return On<kp::Contactless>(__func__, handle,
                             [&](kp::Contactless& m) { return m.IC_ConnectlessWriteKey(sector, keyType, keyHex); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_Reset(int handle) {
  return On<kp::MagneticHead>(__func__, handle, [&](kp::MagneticHead& m) { return m.Magnetic_Reset(); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_Accept(int handle) {
  return On<kp::MagneticHead>(__func__, handle, [&](kp::MagneticHead& m) { return m.Magnetic_Accept(); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_CancelAccept(int handle) {
  return On<kp::MagneticHead>(__func__, handle, [&](kp::MagneticHead& m) { return m.Magnetic_CancelAccept(); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_ReadTrack(int handle, char* track1, char* track2) {
  return On<kp::MagneticHead>(__func__, handle,
                              [&](kp::MagneticHead& m) { return m.Magnetic_ReadTrack(track1, track2); });
}

KP_API int KP_STDCALL KP_DEV_Magnetic_ConfirmWriteTrack(int handle) {
  return On<kp::MagneticHead>(__func__, handle, [&](kp::MagneticHead& m) { return m.Magnetic_ConfirmWriteTrack(); });
}

KP_API int KP_STDCALL KP_DEV_IC_Voice(int handle, int on) {
  return Dispatch(__func__, handle, [&](CReader& r) { return r.IC_Voice(on); });
}

KP_API int KP_STDCALL KP_DEV_IC_SetBaudRate(int handle, int seat, int baud) {
  return On<kp::ContactCard>(__func__, handle, [&](kp::ContactCard& m) { return m.IC_SetBaudRate(seat, baud); });
}

KP_API int KP_STDCALL KP_DEV_IC_VerifyPwdEXAT1608(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_VerifyPwdEXAT1608(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_IC_ReadStoreDataEXAT1608(int handle, int seat, int zone, int address, int length,
                                                      char* dataOut) {
  return On<kp::StoreCard>(__func__, handle, [&](kp::StoreCard& m) {
    return m.IC_ReadStoreDataEXAT1608(seat, zone, address, length, dataOut);
  });
}

KP_API int KP_STDCALL KP_DEV_IC_WriteStoreDataEXAT1608(int handle, int seat, int zone, int address,
                                                       const char* dataHex) {
  return On<kp::StoreCard>(__func__, handle,
                           [&](kp::StoreCard& m) { return m.IC_WriteStoreDataEXAT1608(seat, zone, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_VerifyPwd(int handle, int seat, const char* pwdHex) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4428_VerifyPwd(seat, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_ModifyPwd(int handle, int seat, const char* pwdHex) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4428_ModifyPwd(seat, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_ReadERROR(int handle, int seat, int* count) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4428_ReadERROR(seat, count); });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_ReadData(int handle, int seat, int mode, int address, int length, char* dataOut,
                                              char* protectOut) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) {
    return m.SLE4428_ReadData(seat, mode, address, length, dataOut, protectOut);
  });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_WriteData(int handle, int seat, int mode, int address, const char* dataHex) {
  return On<kp::Sle44x8>(__func__, handle,
                         [&](kp::Sle44x8& m) { return m.SLE4428_WriteData(seat, mode, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_VerifyPwd(int handle, int seat, const char* pwdHex) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4442_VerifyPwd(seat, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_ModifyPwd(int handle, int seat, const char* pwdHex) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4442_ModifyPwd(seat, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_ReadERROR(int handle, int seat, int* count) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) { return m.SLE4442_ReadERROR(seat, count); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_ReadDataForUser(int handle, int seat, int address, int length, char* dataOut) {
  return On<kp::Sle44x8>(__func__, handle,
                         [&](kp::Sle44x8& m) { return m.SLE4442_ReadDataForUser(seat, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_WriteDataForUser(int handle, int seat, int address, const char* dataHex) {
  return On<kp::Sle44x8>(__func__, handle,
                         [&](kp::Sle44x8& m) { return m.SLE4442_WriteDataForUser(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_ReadDataForProtection(int handle, int seat, int address, int length,
                                                           char* dataOut) {
  return On<kp::Sle44x8>(__func__, handle, [&](kp::Sle44x8& m) {
    return m.SLE4442_ReadDataForProtection(seat, address, length, dataOut);
  });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_WriteDataForProtection(int handle, int seat, int address, const char* dataHex) {
  return On<kp::Sle44x8>(__func__, handle,
                         [&](kp::Sle44x8& m) { return m.SLE4442_WriteDataForProtection(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_AT24CXX_ReadData(int handle, int seat, int address, int length, char* dataOut) {
  return On<kp::At24cxx>(__func__, handle,
                         [&](kp::At24cxx& m) { return m.AT24CXX_ReadData(seat, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_AT24CXX_WriteData(int handle, int seat, int address, const char* dataHex) {
  return On<kp::At24cxx>(__func__, handle, [&](kp::At24cxx& m) { return m.AT24CXX_WriteData(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_GetDeviceVersion(int handle, char* version) {
  return Dispatch(__func__, handle, [&](CReader& r) {
    // Nothing to write the version to: refused before anything is sent (and
    // before the gate).
    if (version == nullptr) return kp::kErrParam;
    kp::Use<kp::Device> device(r);
    return device ? device->GetDeviceVersion(version) : device.refusal();
  });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_Fuse(int handle, int seat) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC102_Fuse(seat); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_VerifyPwd(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC102_VerifyPwd(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_ModifyPwd(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC102_ModifyPwd(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadERROR(int handle, int seat, int zone, int* count) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC102_ReadERROR(seat, zone, count); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadData(int handle, int seat, int address, int length, char* dataOut) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC102_ReadData(seat, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_WriteData(int handle, int seat, int address, const char* dataHex) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC102_WriteData(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_Fuse(int handle, int seat) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC1604_Fuse(seat); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_VerifyPwd(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC1604_VerifyPwd(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_ModifyPwd(int handle, int seat, int zone, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC1604_ModifyPwd(seat, zone, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadERROR(int handle, int seat, int zone, int* count) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC1604_ReadERROR(seat, zone, count); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadData(int handle, int seat, int address, int length, char* dataOut) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1604_ReadData(seat, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_WriteData(int handle, int seat, int address, const char* dataHex) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1604_WriteData(seat, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_Fuse(int handle, int seat) {
  return On<kp::At88sc>(__func__, handle, [&](kp::At88sc& m) { return m.AT88SC1608_Fuse(seat); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_VerifyPwd(int handle, int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1608_VerifyPwd(seat, pwdSelect, pwdSet, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_ModifyPwd(int handle, int seat, int pwdSelect, int pwdSet, const char* pwdHex) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1608_ModifyPwd(seat, pwdSelect, pwdSet, pwdHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadERROR(int handle, int seat, int pwdSelect, int pwdSet, int* count) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1608_ReadERROR(seat, pwdSelect, pwdSet, count); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadData(int handle, int seat, int zone, int address, int length,
                                                 char* dataOut) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1608_ReadData(seat, zone, address, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_WriteData(int handle, int seat, int zone, int address, const char* dataHex) {
  return On<kp::At88sc>(__func__, handle,
                        [&](kp::At88sc& m) { return m.AT88SC1608_WriteData(seat, zone, address, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_AT45DB041_ReadData(int handle, int seat, int page, int offset, int length, char* dataOut) {
  return On<kp::At45db041>(__func__, handle,
                           [&](kp::At45db041& m) { return m.AT45DB041_ReadData(seat, page, offset, length, dataOut); });
}

KP_API int KP_STDCALL KP_DEV_AT45DB041_WriteData(int handle, int seat, int page, int offset, const char* dataHex) {
  return On<kp::At45db041>(__func__, handle,
                           [&](kp::At45db041& m) { return m.AT45DB041_WriteData(seat, page, offset, dataHex); });
}

KP_API int KP_STDCALL KP_DEV_ID_FindID(int handle) {
  return On<kp::IdModule>(__func__, handle, [&](kp::IdModule& m) { return m.ID_FindID(); });
}

KP_API int KP_STDCALL KP_DEV_ID_GetData(int handle, int field, char* out) {
  return On<kp::IdModule>(__func__, handle, [&](kp::IdModule& m) { return m.ID_GetData(field, out); });
}

KP_API int KP_STDCALL KP_DEV_ID_Read(int handle, int timeLimitMs, char** fields) {
  return On<kp::IdModule>(__func__, handle, [&](kp::IdModule& m) { return m.ID_Read(timeLimitMs, fields); });
}

KP_API int KP_STDCALL KP_DEV_SetBaudRate(int handle, int baud) {
  return On<kp::Device>(__func__, handle, [&](kp::Device& m) { return m.SetBaudRate(baud); });
}

KP_API int KP_STDCALL KP_DEV_SLE4428_ReadPwd(int handle, int seat, char* pwdOut) {
  return On<kp::Sle44x8>(__func__, handle, kp::kPasswordReadBack,
                         [&](kp::Sle44x8& m) { return m.SLE4428_ReadPwd(seat, pwdOut); });
}

KP_API int KP_STDCALL KP_DEV_SLE4442_ReadPwd(int handle, int seat, char* pwdOut) {
  return On<kp::Sle44x8>(__func__, handle, kp::kPasswordReadBack,
                         [&](kp::Sle44x8& m) { return m.SLE4442_ReadPwd(seat, pwdOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_ReadPwd(int handle, int seat, int zone, char* pwdOut) {
  return On<kp::At88sc>(__func__, handle, kp::kPasswordReadBack,
                        [&](kp::At88sc& m) { return m.AT88SC102_ReadPwd(seat, zone, pwdOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1604_ReadPwd(int handle, int seat, int zone, char* pwdOut) {
  return On<kp::At88sc>(__func__, handle, kp::kPasswordReadBack,
                        [&](kp::At88sc& m) { return m.AT88SC1604_ReadPwd(seat, zone, pwdOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadPwd(int handle, int seat, int pwdSelect, int pwdSet, char* pwdOut) {
  return On<kp::At88sc>(__func__, handle, kp::kPasswordReadBack,
                        [&](kp::At88sc& m) { return m.AT88SC1608_ReadPwd(seat, pwdSelect, pwdSet, pwdOut); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_InitAuthenticationCard(int handle, int seat, const char* authHex) {
  return On<kp::At88sc>(__func__, handle, kp::kAt88sc1608Extras,
                        [&](kp::At88sc& m) { return m.AT88SC1608_InitAuthenticationCard(seat, authHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_AuthenticationCard(int handle, int seat, const char* authHex) {
  return On<kp::At88sc>(__func__, handle, kp::kAt88sc1608Extras,
                        [&](kp::At88sc& m) { return m.AT88SC1608_AuthenticationCard(seat, authHex); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC1608_ReadFuse(int handle, int seat, int* fuse) {
  return On<kp::At88sc>(__func__, handle, kp::kAt88sc1608Extras,
                        [&](kp::At88sc& m) { return m.AT88SC1608_ReadFuse(seat, fuse); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_ClearData(int handle, int seat, int address, int length) {
  return On<kp::At88sc>(__func__, handle, kp::kAt88sc102Erase,
                        [&](kp::At88sc& m) { return m.AT88SC102_ClearData(seat, address, length); });
}

KP_API int KP_STDCALL KP_DEV_AT88SC102_CWriteData(int handle, int seat, int address, const char* dataHex) {
  return On<kp::At88sc>(__func__, handle, kp::kAt88sc102Erase,
                        [&](kp::At88sc& m) { return m.AT88SC102_CWriteData(seat, address, dataHex); });
}
}  // extern "C"
