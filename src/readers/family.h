// ReaderFamily: everything in which the three reader families differ, as
// data, side by side.  One reader core serves every family; each module
// operation is written once and asks its reader's family where the families
// part ways.
//
//                                 type 1, 2, 5        type 0              type 61, 62
//  device type 5 recorded as      0                   0                   5 (as given)
//  module switch at open          ESC $ at 9600 baud  -                   -
//  module restored at close       I or S at 9600      I or S at 9600      -
//  card commands, speed, version  IC module (0, 1)    always              always
//  magnetic head                  head module (2)     never               always
//  identity-card module           never               always              never
//  head armed                     by Accept           -                   by every read poll
//  device speed command           3001 01 cc, 800 ms  3003 cc, 1000 ms    3001 01 cc, 1000 ms
//  version                        frame 3111          frame 3111, >= 6 B  ESC e, raw text
//  soft reset                     answered 0          answered 0          frame 3112 mode
//  card type answer time          800 ms              1500 ms             800 ms
//  halt answer time               800 ms              800 ms              200 ms
//  store-card activation time     500 ms              500 ms              800 ms
//  answers to reset cached        -                   seats 16..30        -
//  APDU failure                   -99 (export)        -1 and a log line   -99 (export)
//  refused with -20               password read-back, AT88SC102 erase and conditional write,
//                                 AT88SC1608 authentication and fuse read, AT45DB041 (types 1, 61)
//  memory-card texts              as given            upper-case hex      as given
//  plain password check, write    store-card command  memory frame        store-card command
//  password change length byte    yes                 no                  yes
//  SLE4442 protection fields      address 2, len 2    address 1, len 1    address 2, len 2
//  AT88SC102/1604 passwords       any seat            seat 0 only         any seat
//  AT88SC1608 passwords, zones    selector only       select and set,     selector only
//                                                     zone sent
//
// The opened type (what an open recorded, whatever the family) picks the
// module descriptor below once, at open:
//
//  opened as                      0           1              2              3         other
//  IC module serves cards         yes         yes            -              -         -
//  magnetic head module           -           -              yes            -         -
//  module restored at close       -           yes            -              yes       -
//  module select escape           -           ESC $ I baud   ESC $ B        ESC $ S   -
//  value blocks                   MSB first   LSB first      MSB first      MSB first MSB first
//
// ("IC module" and "head module" only matter to a family whose technologies
// are served by them, see card and magnetic above.)  The type-1 firmware of
// the IC module keeps value counts least significant byte first.
#pragma once

#include <cstdint>

namespace kp {

// The technologies an operation belongs to, for the module check.
enum class Tech : std::uint8_t { kCard, kMagnetic, kIdentity };

// Which open serves a technology.
enum class Serves : std::uint8_t {
  kAlways,
  kNever,
  kIcModule,        // opened as type 0 (5) or 1: the IC module
  kMagneticModule,  // opened as type 2: the magnetic head
};

// Operations a family may not know; it refuses them with -20 before any
// device traffic.
enum Feature : unsigned {
  kNoFeature = 0,
  kPasswordReadBack = 1u << 0,  // SLE44x8 and AT88SC ReadPwd
  kAt88sc102Erase = 1u << 1,    // AT88SC102 ClearData and CWriteData
  kAt88sc1608Extras = 1u << 2,  // AT88SC1608 authentication and fuse read
  kAt45db041 = 1u << 3,         // AT45DB041 reads and writes
};

struct ReaderFamily {
  // Open and close.
  bool type5AsZero;            // an open as type 5 is recorded as type 0
  bool switchesModuleOnOpen;   // sends the module's escape at 9600 baud first
  bool restoresModuleOnClose;  // puts the IC or S module back to 9600 baud

  // Which open serves each technology.
  Serves card;
  Serves magnetic;
  Serves identity;
  unsigned refuses;  // Feature bits

  // Device commands.
  int speedCommand;
  bool speedPrefix01;  // the speed code follows a 01 byte
  int speedTimeoutMs;
  bool versionByEscape;  // ESC e answered by raw text, not a frame
  unsigned versionMinBytes;
  int softResetCommand;  // 0: no command, answered 0

  // Card commands.
  int cardTypeTimeoutMs;
  int haltTimeoutMs;
  int storeCardTimeoutMs;
  int cachedAtrFirst;  // seats whose answer to reset is kept (empty: first > last)
  int cachedAtrLast;
  bool apduFailureLogged;  // an APDU that fails inside the library: -1 and a log line

  // Magnetic head.
  bool armsOnEveryRead;

  // Memory cards.
  bool hexTexts;               // password and data texts must be upper-case hex
  bool plainViaStoreCommands;  // plain password checks and writes use the store-card commands
  bool pwdChangeLength;        // a password change carries the byte count
  bool narrowProtection;       // SLE4442 protection address and length in one byte each
  bool at88PasswordSeat0;      // AT88SC102/1604 passwords and counters on seat 0 only
  bool at1608SelectAndSet;     // AT88SC1608 passwords by select and set; zones sent
};

// What an open selected, chosen once from the opened type.
struct OpenedModule {
  bool icModule;         // Serves::kIcModule technologies are served
  bool headModule;       // Serves::kMagneticModule technologies are served
  char selectEscape;     // 'I', 'B' or 'S': the module's ESC $ sequence; 0 none
  bool restoredOnClose;  // the module is put back to 9600 baud at close
  bool valueLsbFirst;    // value blocks least significant byte first
};

// The descriptor of an open recorded as openedType (-1: not opened).
const OpenedModule& OpenedModuleOf(int openedType);

// Most answer-to-reset cache entries a family may ask for.
constexpr int kMaxCachedAtrSeats = 15;

extern const ReaderFamily kFamilyType1;   // types 1, 2, 5
extern const ReaderFamily kFamilyType0;   // type 0
extern const ReaderFamily kFamilyType61;  // types 61, 62

// The family that serves deviceType, or null.
const ReaderFamily* FamilyOf(int deviceType);

}  // namespace kp
