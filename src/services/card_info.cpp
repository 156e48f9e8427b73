// Reading a PBOC bank card: the application is found through the payment
// system directory, selected, given its processing options, and its records
// are read until the Track 2 equivalent data (57) and the PAN sequence
// number (5F34) are known.
#include <bitset>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/results.h"
#include "services/emv.h"

namespace kp {

namespace {

// Short file identifiers a card may give records in (EMV: 1 to 30).
constexpr int kFirstSfi = 1;
constexpr int kLastSfi = 30;
// SFI and record number pairs, indexed SFI * 256 + record.
constexpr std::size_t kRecordPairs = std::size_t{kLastSfi + 1} * 256;

constexpr char kSelectPse[] = "00A404000E315041592E5359532E4444463031";  // 1PAY.SYS.DDF01
constexpr char kPbocLabel[] = "50424F43";                                // "PBOC"
constexpr int kDirectoryRecords = 3;
constexpr std::size_t kPanSeqBytes = 1;
// Room of the scratch texts that only the Track 2 reading hands over.
constexpr std::size_t kScratchRoom = 256;

// READ RECORD of a directory record; its number goes out in decimal.
std::string ReadDirectoryRecord(int record, const std::string& p2) {
  char number[4];
  std::snprintf(number, sizeof number, "%02d", record % 100);
  return "00B2" + std::string(number) + p2 + "00";
}

void WriteText(const std::string& value, char* out) { std::memcpy(out, value.c_str(), value.size() + 1); }

// Whether the hex text of data holds text anywhere: a plain search, so an
// occurrence straddling two bytes counts too.
bool HexTextHolds(const Bytes& data, std::string_view text) { return ToHex(data).find(text) != std::string::npos; }

}  // namespace

int FindPbocAid(const Bytes& record, std::string* aid) {
  if (!HexTextHolds(record, kPbocLabel) || !HexTextHolds(record, "4F")) return -1;
  const std::optional<Bytes> value = FindTagValue(record, Bytes{0x4F});
  // An AID longer than any application identifier can be is not taken.
  if (!value || 2 * value->size() > kMaxAidChars) return kErrStatus;
  *aid = ToHex(*value);
  return kOk;
}

int SelectPseAid(const CardChannel& card, std::string* aid) {
  Bytes answer;
  int r = Transmit(card, kSelectPse, &answer);
  if (r != 0) return r;
  r = CheckStatus9000(answer);
  if (r != 0) return r;
  const std::optional<Bytes> fci = FindTagValue(answer, Bytes{0xA5});
  if (!fci) return kErrStatus;
  const std::optional<Bytes> sfi = FindTagValue(*fci, Bytes{0x88});
  if (!sfi || sfi->empty()) return kErrStatus;
  // P2 names the directory file by its short identifier; only a byte goes
  // on the wire.
  const std::string p2 = ByteToHex(sfi->front() * 8 + 4);

  int last = kErrStatus;
  for (int record = 1; record <= kDirectoryRecords; ++record) {
    Bytes directory;
    last = Transmit(card, ReadDirectoryRecord(record, p2), &directory);
    if (last != 0) continue;
    last = FindPbocAid(directory, aid);
    if (last == 0) return kOk;
  }
  return last;
}

int SelectApplicationAndGpo(const CardChannel& card, const std::string& aid, Bytes* gpoAnswer) {
  Bytes answer;
  int r = Transmit(card, SelectCommand(aid), &answer);
  if (r != 0) return r;
  r = CheckStatus9000(answer);
  if (r != 0) return r;

  std::string pdolData;
  AnswerPdol(ToHex(answer), &pdolData);  // a card without a PDOL gets empty data
  // Lc is one byte: processing options data beyond what it can count would
  // make a malformed command.  The card is then treated as refusing GPO.
  if (pdolData.size() > kMaxPdolDataChars) return kCardStatusNot9000;
  const int n = static_cast<int>(pdolData.size() / 2);
  char head[16];
  std::snprintf(head, sizeof head, "80A80000%02X83%02X", n + 2, n);
  r = Transmit(card, head + pdolData, gpoAnswer);
  if (r != 0) return r;
  r = CheckStatus9000(*gpoAnswer);
  if (r != 0) return r;
  // Tag 80, its length and the two AIP bytes come before the AFL; an answer
  // without room for them and the status word is no usable GPO answer.
  if (gpoAnswer->size() < kGpoFixedBytes) return kCardStatusNot9000;
  return kOk;
}

void WalkAflRecords(const CardChannel& card, const Bytes& gpoAnswer,
                    const std::function<bool(const Bytes& record)>& onRecord) {
  // Response format 1: tag 80, length, AIP, then the AFL up to the status
  // word, four bytes per entry (SFI, first record, last record, records for
  // offline authentication).
  if (gpoAnswer.size() < kGpoFixedBytes) return;
  const std::uint8_t* const afl = gpoAnswer.data() + 4;
  const std::size_t entries = (gpoAnswer.size() - kGpoFixedBytes) / 4;
  int failedInARow = 0;
  int sent = 0;
  std::bitset<kRecordPairs> read;  // SFI and record numbers already read
  for (std::size_t e = 0; e < entries; ++e) {
    const std::uint8_t* const entry = afl + 4 * e;
    const int sfiByte = entry[0];
    const int first = entry[1];
    const int last = entry[2];
    // Entries no card may carry (SFI 0 or above 30, record 0, an empty
    // range) name no record: reading them would only spend the caller's time.
    const int sfi = sfiByte >> 3;
    if (sfi < kFirstSfi || sfi > kLastSfi || first == 0 || last < first) continue;
    const std::string p2 = ByteToHex((sfiByte & 0xF8) | 0x04);
    for (int record = first; record <= last; ++record) {
      const std::size_t pair = static_cast<std::size_t>(sfi) * 256 + static_cast<std::size_t>(record);
      if (read.test(pair)) continue;
      if (sent >= kMaxAflRecords || (card.stop != nullptr && (*card.stop)())) return;
      read.set(pair);
      ++sent;
      Bytes answer;
      if (Transmit(card, "00B2" + ByteToHex(record) + p2 + "00", &answer) != 0 || CheckStatus9000(answer) != 0) {
        // A card (or line) that has stopped answering would otherwise be
        // asked for every record its AFL names, each waiting its timeout.
        if (++failedInARow >= kMaxFailedRecordsInARow) return;
        continue;
      }
      failedInARow = 0;
      if (!onRecord(answer)) return;
    }
  }
}

int ReadICCardInfo(const CardChannel& card, char* track2, char* panSeq, char* aid) {
  if (track2 == nullptr || panSeq == nullptr || aid == nullptr) return kErrParam;

  std::string application;
  int r = SelectPseAid(card, &application);
  if (r != 0) return r;
  WriteText(application, aid);  // stands even if a later step fails

  Bytes gpo;
  r = SelectApplicationAndGpo(card, application, &gpo);
  if (r != 0) return r;

  bool haveTrack2 = false;
  bool havePanSeq = false;
  WalkAflRecords(card, gpo, [&](const Bytes& record) {
    if (!haveTrack2) {
      if (const std::optional<Bytes> value = FindTagValue(record, Bytes{0x57})) {
        WriteText(ToHex(*value), track2);  // 16 to 50 characters by the search's rule
        haveTrack2 = true;
      }
    }
    if (!havePanSeq) {
      const std::optional<Bytes> value = FindTagValue(record, Bytes{0x5F, 0x34});
      if (value && value->size() == kPanSeqBytes) {
        WriteText(ToHex(*value), panSeq);
        havePanSeq = true;
      }
    }
    return !(haveTrack2 && havePanSeq);
  });
  return haveTrack2 && havePanSeq ? kOk : kCardStatusNot9000;
}

int ReadFinanceICTrack2(const CardChannel& card, char* track2) {
  if (track2 == nullptr) return kErrParam;
  std::memset(track2, 0, 4);
  char panSeq[kScratchRoom] = {};
  char aid[kScratchRoom] = {};
  return ReadICCardInfo(card, track2, panSeq, aid);
}

}  // namespace kp
