// pcsc-lite IFD handler (API version 3) for the serial readers of the kpdev
// family. Slot 0 is the contact seat, slot 1 the contactless field, slots 2
// and up the SAM seats named in DEVICENAME. pcscd creates each slot's
// channel with the same DEVICENAME; the slots of one reader (Lun >> 16)
// share one open reader.
#define IFDHANDLERv3
extern "C" {
#include <ifdhandler.h>
}

#include <array>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ifd_logic.h"
#include "reader_link.h"

// Provided by pcscd; absent when the handler is loaded by anything else.
extern "C" void log_msg(const int priority, const char* fmt, ...) __attribute__((weak));

namespace kpifd {
namespace {

enum { kLogDebug = 0, kLogInfo = 1, kLogError = 2 };

void log_line(int priority, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void log_line(int priority, const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  if (log_msg != nullptr)
    log_msg(priority, "ifdkpdev: %s", text);
  else if (priority >= kLogError)
    std::fprintf(stderr, "ifdkpdev: %s\n", text);
}

constexpr int kContactSlot = 0;
constexpr int kFieldSlot = 1;
constexpr std::size_t kKeySlots = 16;
constexpr std::size_t kMaxSlots = 6;

struct ContactSlot {
  bool powered = false;
  Bytes atr;
};

struct Field {
  bool active = false;
  bool reactivate = false;  // a refused key sends the card back to idle
  Activation card;
  Bytes atr;
  std::array<std::optional<std::array<std::uint8_t, 6>>, kKeySlots> keys;
  bool storage() const { return card.ats.empty(); }
};

struct Reader {
  std::mutex lock;
  std::string device_name;
  std::unique_ptr<ReaderLink> link;
  int slot_count = 2;  // never above kMaxSlots
  int channels = 0;
  std::array<ContactSlot, kMaxSlots> contact;  // indexed by slot; slot 1 unused
  Field field;
  std::array<RESPONSECODE, kMaxSlots> last_presence{};
  // pcscd learns of a removal only from the poll of its event thread; a
  // presence check made for a client call in between would swallow a short
  // gap. So a gap is reported for longer than one poll period (400 ms).
  std::array<std::chrono::steady_clock::time_point, kMaxSlots> absent_until{};
};

std::mutex g_readers_lock;
std::map<DWORD, std::shared_ptr<Reader>> g_readers;

// The reader of a Lun, or null when it has no such reader or slot.
std::shared_ptr<Reader> find_reader(DWORD lun) {
  std::lock_guard<std::mutex> guard(g_readers_lock);
  auto it = g_readers.find(lun >> 16);
  if (it == g_readers.end() || static_cast<int>(lun & 0xFFFF) >= it->second->slot_count) return nullptr;
  return it->second;
}

int slot_of(DWORD lun) { return static_cast<int>(lun & 0xFFFF); }
int seat_of_slot(int slot) { return slot == kContactSlot ? kContactSeat : slot - 1; }

Bytes status_word(std::uint16_t sw) { return {static_cast<std::uint8_t>(sw >> 8), static_cast<std::uint8_t>(sw)}; }

RESPONSECODE failure(int r) { return r == KP_DEV_ERR_NO_CARD ? IFD_ICC_NOT_PRESENT : IFD_COMMUNICATION_ERROR; }

// ---- contactless field ----

int field_activate(Reader& rd) {
  Activation card;
  const int r = rd.link->activate(card);
  if (r != 0) return r;
  rd.field.card = card;
  rd.field.active = true;
  rd.field.reactivate = false;
  rd.field.atr = card.ats.empty() ? storage_card_atr(card.type) : atr_from_ats(card.ats);
  return 0;
}

// Activates the card again after a refused key; a different card in the
// field means ours is gone.
RESPONSECODE field_wake(Reader& rd) {
  if (!rd.field.reactivate) return IFD_SUCCESS;
  const Bytes uid = rd.field.card.uid;
  const int r = field_activate(rd);
  if (r != 0 || rd.field.card.uid != uid) {
    rd.field.active = false;
    return r == 0 ? IFD_ICC_NOT_PRESENT : failure(r);
  }
  return IFD_SUCCESS;
}

void block_command_status(int r, Bytes& answer, RESPONSECODE& rc) {
  switch (r) {
    case KP_DEV_OK:
      answer = status_word(0x9000);
      break;
    case KP_DEV_ERR_CARD_NOT_ACTIVE:
    case KP_DEV_ERR_NOT_AUTHENTICATED:
      answer = status_word(0x6982);
      break;
    case KP_DEV_ERR_BAD_DATA:
      answer = status_word(0x6B00);
      break;
    case KP_DEV_ERR_PROTECTED:
      answer = status_word(0x6986);
      break;
    case KP_DEV_ERR_WRONG_CARD:
      answer = status_word(0x6981);
      break;
    default:
      rc = failure(r);
  }
}

// The PC/SC pseudo-APDUs of class FF, answered by the driver itself or
// mapped onto the reader's sector commands.
RESPONSECODE pseudo_apdu(Reader& rd, const std::uint8_t* a, std::size_t n, Bytes& answer) {
  Field& f = rd.field;
  const std::uint8_t ins = a[1], p1 = a[2], p2 = a[3];
  const std::size_t lc = n > 5 ? a[4] : 0;
  RESPONSECODE rc = IFD_SUCCESS;
  switch (ins) {
    case 0xCA: {  // GET DATA: 00 identifier, 01 historical bytes
      if (n != 5) return answer = status_word(0x6700), rc;
      if (p2 != 0x00 || p1 > 0x01 || (p1 == 0x01 && f.storage())) return answer = status_word(0x6A81), rc;
      const Bytes data = p1 == 0x00 ? f.card.uid : ats_historical_bytes(f.card.ats);
      const std::size_t le = a[4] == 0 ? 256 : a[4];
      if (le < data.size()) return answer = status_word(static_cast<std::uint16_t>(0x6C00 | data.size())), rc;
      answer = data;
      const Bytes sw = status_word(a[4] == 0 || le == data.size() ? 0x9000 : 0x6282);
      answer.insert(answer.end(), sw.begin(), sw.end());
      return rc;
    }
    case 0x82: {  // LOAD KEYS into the driver's volatile key slots
      if (n != 5 + lc || lc != 6) return answer = status_word(0x6700), rc;
      if (p1 & 0x80) return answer = status_word(0x6983), rc;  // reader keys
      if (p1 & 0x40) return answer = status_word(0x6985), rc;  // secured transmission
      if (p1 & 0x20) return answer = status_word(0x6987), rc;  // non-volatile memory
      if (p2 >= kKeySlots) return answer = status_word(0x6988), rc;
      std::array<std::uint8_t, 6> key;
      std::memcpy(key.data(), a + 5, key.size());
      f.keys[p2] = key;
      return answer = status_word(0x9000), rc;
    }
    case 0x86: {  // GENERAL AUTHENTICATE: 01, address MSB, LSB, key type, key number
      if (n != 10 || lc != 5) return answer = status_word(0x6700), rc;
      if (p1 != 0 || p2 != 0) return answer = status_word(0x6B00), rc;
      const std::uint8_t* d = a + 5;
      if (d[0] != 0x01 || d[1] != 0x00) return answer = status_word(0x6A80), rc;
      if (!f.storage()) return answer = status_word(0x6981), rc;
      if (d[3] != 0x60 && d[3] != 0x61) return answer = status_word(0x6986), rc;
      if (d[4] >= kKeySlots) return answer = status_word(0x6988), rc;
      if (!f.keys[d[4]]) return answer = status_word(0x6984), rc;
      if ((rc = field_wake(rd)) != IFD_SUCCESS) return rc;
      int r = rd.link->authenticate(d[2] / 4, d[3], f.keys[d[4]]->data());
      if (r == KP_DEV_ERR_CARD_NOT_ACTIVE) {  // halted or idle since: wake it and try once more
        f.reactivate = true;
        if ((rc = field_wake(rd)) != IFD_SUCCESS) return rc;
        r = rd.link->authenticate(d[2] / 4, d[3], f.keys[d[4]]->data());
      }
      if (r == KP_DEV_ERR_WRONG_KEY) {
        f.reactivate = true;
        return answer = status_word(0x6300), rc;
      }
      if (r == KP_DEV_ERR_BAD_DATA) return answer = status_word(0x6A80), rc;
      block_command_status(r, answer, rc);
      return rc;
    }
    case 0xB0: {  // READ BINARY of one 16-byte block
      if (n != 5) return answer = status_word(0x6700), rc;
      if (!f.storage()) return answer = status_word(0x6981), rc;
      if (p1 != 0) return answer = status_word(0x6B00), rc;
      if (a[4] != 0x00 && a[4] != 0x10) return answer = status_word(0x6C10), rc;
      if ((rc = field_wake(rd)) != IFD_SUCCESS) return rc;
      std::uint8_t block[16];
      const int r = rd.link->read_block(p2, block);
      block_command_status(r, answer, rc);
      if (r == 0) answer.insert(answer.begin(), block, block + 16);
      return rc;
    }
    case 0xD6: {  // UPDATE BINARY of one 16-byte block
      if (n != 5 + lc || lc != 16) return answer = status_word(0x6700), rc;
      if (!f.storage()) return answer = status_word(0x6981), rc;
      if (p1 != 0) return answer = status_word(0x6B00), rc;
      if ((rc = field_wake(rd)) != IFD_SUCCESS) return rc;
      block_command_status(rd.link->write_block(p2, a + 5), answer, rc);
      return rc;
    }
    default:
      return answer = status_word(0x6D00), rc;
  }
}

RESPONSECODE field_transmit(Reader& rd, const std::uint8_t* a, std::size_t n, Bytes& answer) {
  if (!rd.field.active) return IFD_ICC_NOT_PRESENT;
  if (a[0] == 0xFF) return pseudo_apdu(rd, a, n, answer);
  if (rd.field.storage()) {
    answer = status_word(0x6E00);  // a sector card takes no APDUs
    return IFD_SUCCESS;
  }
  const int r = rd.link->apdu(kFieldSeat, a, n, answer);
  if (r == 0) return IFD_SUCCESS;
  return r == KP_DEV_ERR_CARD_NOT_ACTIVE ? IFD_ICC_NOT_PRESENT : failure(r);
}

RESPONSECODE field_presence(Reader& rd) {
  int state = 0;  // stays 0 when the reader answers with a word that is no seat state
  const int r = rd.link->seat_state(kFieldSeat, state);
  if (r != 0 && r != KP_DEV_ERR_BAD_DATA && r != KP_DEV_ERR_WRONG_CARD) return IFD_COMMUNICATION_ERROR;
  if (r != 0 || state == 0) {
    // The reader reports nothing about its field: an activation shows
    // whether a card answers. Never tried while a card is in use.
    if (rd.field.active) return IFD_ICC_PRESENT;
    Activation probe;
    return rd.link->activate(probe) == 0 ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
  }
  if (state == kSeatEmpty) {
    rd.field.active = false;
    return IFD_ICC_NOT_PRESENT;
  }
  if (rd.field.active && state != kSeatPowered && !rd.field.reactivate) {
    // Our card was taken away and a card put back in the meantime: report
    // the gap so that pcscd activates the new card.
    rd.field.active = false;
    return IFD_ICC_NOT_PRESENT;
  }
  return IFD_ICC_PRESENT;
}

// ---- contact seats ----

RESPONSECODE contact_presence(Reader& rd, int slot) {
  int state = 0;
  const int r = rd.link->seat_state(seat_of_slot(slot), state);
  if (r != 0) return IFD_COMMUNICATION_ERROR;
  ContactSlot& s = rd.contact[slot];
  if (state == kSeatEmpty || state == 0) {
    s.powered = false;
    return IFD_ICC_NOT_PRESENT;
  }
  if (s.powered && state != kSeatPowered) {
    s.powered = false;  // another card, or ours lost its power: a gap
    return IFD_ICC_NOT_PRESENT;
  }
  return IFD_ICC_PRESENT;
}

RESPONSECODE contact_transmit(Reader& rd, int slot, const std::uint8_t* a, std::size_t n, Bytes& answer) {
  ContactSlot& s = rd.contact[slot];
  if (!s.powered) return IFD_ICC_NOT_PRESENT;
  const int r = rd.link->apdu(seat_of_slot(slot), a, n, answer);
  if (r == 0) return IFD_SUCCESS;
  // The card stays marked powered: the next presence check then reports the
  // gap, so that pcscd powers whatever card is in the seat now.
  return r == KP_DEV_ERR_NO_CARD || r == KP_DEV_ERR_CARD_NOT_ACTIVE ? IFD_ICC_NOT_PRESENT : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE create_channel(DWORD lun, const char* device_name) {
  const std::string text = device_name ? device_name : "";
  DeviceName name;
  std::string why;
  if (!parse_device_name(text, name, why)) {
    log_line(kLogError, "DEVICENAME '%s' not understood: %s", text.c_str(), why.c_str());
    return IFD_COMMUNICATION_ERROR;
  }
  std::lock_guard<std::mutex> guard(g_readers_lock);
  std::shared_ptr<Reader>& rd = g_readers[lun >> 16];
  if (rd) {
    if (rd->device_name != text || slot_of(lun) >= rd->slot_count) {
      log_line(kLogError, "Lun %lx: slot %d of '%s' does not exist", static_cast<unsigned long>(lun), slot_of(lun),
               text.c_str());
      return IFD_COMMUNICATION_ERROR;
    }
    ++rd->channels;
    return IFD_SUCCESS;
  }
  auto fresh = std::make_shared<Reader>();
  fresh->link = ReaderLink::open(name.path, name.type, name.baud, why);
  if (!fresh->link) {
    g_readers.erase(lun >> 16);
    log_line(kLogError, "%s", why.c_str());
    return IFD_COMMUNICATION_ERROR;
  }
  fresh->device_name = text;
  fresh->slot_count = 2 + name.sams;
  fresh->channels = 1;
  log_line(kLogInfo, "%s: type %d reader at %d baud on COM%d, version %s, %d slots", name.path.c_str(), name.type,
           fresh->link->baud(), fresh->link->com(), fresh->link->version().c_str(), fresh->slot_count);
  rd = fresh;
  return IFD_SUCCESS;
}

}  // namespace
}  // namespace kpifd

using namespace kpifd;

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) { return create_channel(Lun, DeviceName); }

RESPONSECODE IFDHCreateChannel(DWORD Lun, DWORD Channel) {
  log_line(kLogError, "Lun %lx: CHANNELID %lu alone names no device; give DEVICENAME", static_cast<unsigned long>(Lun),
           static_cast<unsigned long>(Channel));
  return IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHCloseChannel(DWORD Lun) {
  std::shared_ptr<Reader> rd = find_reader(Lun);
  if (!rd) return IFD_SUCCESS;
  {
    std::lock_guard<std::mutex> guard(rd->lock);
    const int slot = slot_of(Lun);
    if (slot == kFieldSlot) {
      if (rd->field.active) rd->link->halt();
      rd->field.active = false;
    } else if (slot < rd->slot_count && rd->contact[slot].powered) {
      rd->link->power_off(seat_of_slot(slot));
      rd->contact[slot].powered = false;
    }
  }
  std::lock_guard<std::mutex> guard(g_readers_lock);
  if (--rd->channels <= 0) g_readers.erase(Lun >> 16);
  return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
  std::shared_ptr<Reader> rd = find_reader(Lun);
  if (!rd || Length == nullptr || Value == nullptr) return IFD_COMMUNICATION_ERROR;
  std::lock_guard<std::mutex> guard(rd->lock);
  const int slot = slot_of(Lun);
  auto one_byte = [&](std::uint8_t v) {
    if (*Length < 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
    *Length = 1;
    Value[0] = v;
    return IFD_SUCCESS;
  };
  switch (Tag) {
    case TAG_IFD_ATR:
    case 0x90303: {  // SCARD_ATTR_ATR_STRING
      const Bytes& atr = slot == kFieldSlot ? rd->field.atr : rd->contact[slot].atr;
      const bool on = slot == kFieldSlot ? rd->field.active : rd->contact[slot].powered;
      if (!on) {
        *Length = 0;
        return IFD_SUCCESS;
      }
      if (*Length < atr.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
      std::memcpy(Value, atr.data(), atr.size());
      *Length = static_cast<DWORD>(atr.size());
      return IFD_SUCCESS;
    }
    case TAG_IFD_SLOTS_NUMBER:
      return one_byte(static_cast<std::uint8_t>(rd->slot_count));
    // One COM number per reader, from the library's 32.
    case TAG_IFD_SIMULTANEOUS_ACCESS:
      return one_byte(32);
    // Every call into the library is serialised by the driver.
    case TAG_IFD_THREAD_SAFE:
      return one_byte(1);
    // The slots of a reader share one serial line: one exchange at a time.
    case TAG_IFD_SLOT_THREAD_SAFE:
      return one_byte(0);
    default:
      return IFD_ERROR_TAG;
  }
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_NOT_SUPPORTED; }

RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR, UCHAR, UCHAR, UCHAR) {
  if (!find_reader(Lun)) return IFD_COMMUNICATION_ERROR;
  // The reader runs the card's transmission protocol itself.
  return Protocol == SCARD_PROTOCOL_T0 || Protocol == SCARD_PROTOCOL_T1 ? IFD_SUCCESS : IFD_PROTOCOL_NOT_SUPPORTED;
}

RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
  if (AtrLength != nullptr) *AtrLength = 0;
  std::shared_ptr<Reader> rd = find_reader(Lun);
  if (!rd || AtrLength == nullptr || Atr == nullptr) return IFD_COMMUNICATION_ERROR;
  std::lock_guard<std::mutex> guard(rd->lock);
  const int slot = slot_of(Lun);
  if (Action != IFD_POWER_UP && Action != IFD_POWER_DOWN && Action != IFD_RESET) return IFD_NOT_SUPPORTED;
  Bytes atr;
  if (slot == kFieldSlot) {
    if (rd->field.active) rd->link->halt();
    rd->field.active = false;
    if (Action == IFD_POWER_DOWN) return IFD_SUCCESS;
    const int r = field_activate(*rd);
    if (r != 0) {
      log_line(kLogInfo, "field activation failed (result %d)", r);
      return r == KP_DEV_ERR_NO_CARD ? IFD_ICC_NOT_PRESENT : IFD_ERROR_POWER_ACTION;
    }
    atr = rd->field.atr;
  } else {
    ContactSlot& s = rd->contact[slot];
    if (Action == IFD_POWER_DOWN) {
      s.powered = false;
      const int r = rd->link->power_off(seat_of_slot(slot));
      return r == 0 || r == KP_DEV_ERR_NO_CARD ? IFD_SUCCESS : IFD_ERROR_POWER_ACTION;
    }
    s.powered = false;
    const int r = rd->link->power_on(seat_of_slot(slot), atr);
    if (r != 0 || atr.empty() || atr.size() > MAX_ATR_SIZE) {
      log_line(kLogInfo, "power-on of seat %d failed (result %d, %zu ATR bytes)", seat_of_slot(slot), r, atr.size());
      return r == KP_DEV_ERR_NO_CARD ? IFD_ICC_NOT_PRESENT : IFD_ERROR_POWER_ACTION;
    }
    s.powered = true;
    s.atr = atr;
  }
  std::memcpy(Atr, atr.data(), atr.size());
  *AtrLength = static_cast<DWORD>(atr.size());
  return IFD_SUCCESS;
}

RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                               PDWORD RxLength, PSCARD_IO_HEADER RecvPci) {
  if (RxLength == nullptr) return IFD_COMMUNICATION_ERROR;
  const DWORD room = *RxLength;
  *RxLength = 0;
  std::shared_ptr<Reader> rd = find_reader(Lun);
  if (!rd || TxBuffer == nullptr || RxBuffer == nullptr) return IFD_COMMUNICATION_ERROR;
  if (RecvPci != nullptr) RecvPci->Length = 0;
  std::lock_guard<std::mutex> guard(rd->lock);
  const int slot = slot_of(Lun);
  Bytes answer;
  RESPONSECODE rc = IFD_SUCCESS;
  if (TxLength > ReaderLink::kMaxApdu || !apdu_well_formed(TxBuffer, TxLength)) {
    answer = status_word(0x6700);  // never sent: the reader could not carry it or the card parse it
  } else if (slot == kFieldSlot) {
    rc = field_transmit(*rd, TxBuffer, TxLength, answer);
  } else {
    rc = contact_transmit(*rd, slot, TxBuffer, TxLength, answer);
  }
  if (rc != IFD_SUCCESS) return rc;
  if (answer.size() > room) return IFD_ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(RxBuffer, answer.data(), answer.size());
  *RxLength = static_cast<DWORD>(answer.size());
  return IFD_SUCCESS;
}

RESPONSECODE IFDHControl(DWORD Lun, DWORD, PUCHAR, DWORD, PUCHAR, DWORD, LPDWORD pdwBytesReturned) {
  if (pdwBytesReturned != nullptr) *pdwBytesReturned = 0;
  return find_reader(Lun) ? IFD_ERROR_NOT_SUPPORTED : IFD_COMMUNICATION_ERROR;
}

RESPONSECODE IFDHICCPresence(DWORD Lun) {
  std::shared_ptr<Reader> rd = find_reader(Lun);
  if (!rd) return IFD_COMMUNICATION_ERROR;
  std::lock_guard<std::mutex> guard(rd->lock);
  const int slot = slot_of(Lun);
  const auto now = std::chrono::steady_clock::now();
  if (now < rd->absent_until[slot]) return IFD_ICC_NOT_PRESENT;
  const bool in_use = slot == kFieldSlot ? rd->field.active : rd->contact[slot].powered;
  const RESPONSECODE rc = slot == kFieldSlot ? field_presence(*rd) : contact_presence(*rd, slot);
  if (in_use && rc == IFD_ICC_NOT_PRESENT) rd->absent_until[slot] = now + std::chrono::milliseconds(500);
  if (rd->last_presence[slot] != rc) {
    log_line(kLogDebug, "Lun %lx: presence %lu", static_cast<unsigned long>(Lun), static_cast<unsigned long>(rc));
    rd->last_presence[slot] = rc;
  }
  return rc;
}

}  // extern "C"
