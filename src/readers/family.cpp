#include "readers/family.h"

#include "wire/family.h"

namespace kp {

namespace {

constexpr unsigned kBasicMemoryOnly = kPasswordReadBack | kAt88sc102Erase | kAt88sc1608Extras | kAt45db041;

constexpr bool CacheFits(const ReaderFamily& f) {
  return f.cachedAtrFirst > f.cachedAtrLast || f.cachedAtrLast - f.cachedAtrFirst < kMaxCachedAtrSeats;
}

}  // namespace

constexpr ReaderFamily kFamilyType1 = {
    /*type5AsZero=*/true,
    /*switchesModuleOnOpen=*/true,
    /*restoresModuleOnClose=*/true,
    /*card=*/Serves::kIcModule,
    /*magnetic=*/Serves::kMagneticModule,
    /*identity=*/Serves::kNever,
    /*refuses=*/kBasicMemoryOnly,
    /*speedCommand=*/0x3001,
    /*speedPrefix01=*/true,
    /*speedTimeoutMs=*/800,
    /*versionByEscape=*/false,
    /*versionMinBytes=*/0,
    /*softResetCommand=*/0,
    /*cardTypeTimeoutMs=*/800,
    /*haltTimeoutMs=*/800,
    /*storeCardTimeoutMs=*/500,
    /*cachedAtrFirst=*/1,
    /*cachedAtrLast=*/0,
    /*apduFailureLogged=*/false,
    /*armsOnEveryRead=*/false,
    /*hexTexts=*/false,
    /*plainViaStoreCommands=*/true,
    /*pwdChangeLength=*/true,
    /*narrowProtection=*/false,
    /*at88PasswordSeat0=*/false,
    /*at1608SelectAndSet=*/false,
};

constexpr ReaderFamily kFamilyType0 = {
    /*type5AsZero=*/true,
    /*switchesModuleOnOpen=*/false,
    /*restoresModuleOnClose=*/true,
    /*card=*/Serves::kAlways,
    /*magnetic=*/Serves::kNever,
    /*identity=*/Serves::kAlways,
    /*refuses=*/kNoFeature,
    /*speedCommand=*/0x3003,
    /*speedPrefix01=*/false,
    /*speedTimeoutMs=*/1000,
    /*versionByEscape=*/false,
    /*versionMinBytes=*/6,
    /*softResetCommand=*/0,
    /*cardTypeTimeoutMs=*/1500,
    /*haltTimeoutMs=*/800,
    /*storeCardTimeoutMs=*/500,
    /*cachedAtrFirst=*/16,
    /*cachedAtrLast=*/30,
    /*apduFailureLogged=*/true,
    /*armsOnEveryRead=*/false,
    /*hexTexts=*/true,
    /*plainViaStoreCommands=*/false,
    /*pwdChangeLength=*/false,
    /*narrowProtection=*/true,
    /*at88PasswordSeat0=*/true,
    /*at1608SelectAndSet=*/true,
};

constexpr ReaderFamily kFamilyType61 = {
    /*type5AsZero=*/false,
    /*switchesModuleOnOpen=*/false,
    /*restoresModuleOnClose=*/false,
    /*card=*/Serves::kAlways,
    /*magnetic=*/Serves::kAlways,
    /*identity=*/Serves::kNever,
    /*refuses=*/kBasicMemoryOnly,
    /*speedCommand=*/0x3001,
    /*speedPrefix01=*/true,
    /*speedTimeoutMs=*/1000,
    /*versionByEscape=*/true,
    /*versionMinBytes=*/0,
    /*softResetCommand=*/0x3112,
    /*cardTypeTimeoutMs=*/800,
    /*haltTimeoutMs=*/200,
    /*storeCardTimeoutMs=*/800,
    /*cachedAtrFirst=*/1,
    /*cachedAtrLast=*/0,
    /*apduFailureLogged=*/false,
    /*armsOnEveryRead=*/true,
    /*hexTexts=*/false,
    /*plainViaStoreCommands=*/true,
    /*pwdChangeLength=*/true,
    /*narrowProtection=*/false,
    /*at88PasswordSeat0=*/false,
    /*at1608SelectAndSet=*/false,
};

static_assert(CacheFits(kFamilyType1) && CacheFits(kFamilyType0) && CacheFits(kFamilyType61),
              "every family's cached seats fit the reader's answer-to-reset cache");

const OpenedModule& OpenedModuleOf(int openedType) {
  static constexpr OpenedModule kNone = {false, false, 0, false, false};
  static constexpr OpenedModule kIc0 = {true, false, 0, false, false};
  static constexpr OpenedModule kIc1 = {true, false, 'I', true, true};
  static constexpr OpenedModule kHead = {false, true, 'B', false, false};
  static constexpr OpenedModule kS = {false, false, 'S', true, false};
  switch (openedType) {
    case 0:
      return kIc0;
    case 1:
      return kIc1;
    case 2:
      return kHead;
    case 3:
      return kS;
    default:
      return kNone;
  }
}

const ReaderFamily* FamilyOf(int deviceType) {
  wire::Family family{};
  if (!wire::FamilyOfType(deviceType, &family)) return nullptr;
  switch (family) {
    case wire::Family::kT0:
      return &kFamilyType0;
    case wire::Family::kT1:
      return &kFamilyType1;
    case wire::Family::kT61:
      return &kFamilyType61;
  }
  return nullptr;
}

}  // namespace kp
