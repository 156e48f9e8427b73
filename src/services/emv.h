// The pieces the financial IC card services share: the APDU exchange they
// are written against, the terminal values answered on the terminal's
// behalf, the tag search, the "9000" test, the answer to a card's
// processing options data object list, and the steps of the card dialogue
// that more than one service runs.
//
// A card's answer is bytes here: its data, then SW1 SW2.  Commands stay
// texts, because callers' texts (an AID, an amount, a transaction type)
// travel in them verbatim, and the outputs are the interface's hex texts,
// written at the end of each service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/convert.h"
#include "readers/reader.h"

namespace kp {

// The card addressed by one service call: the reader leased for the call
// (null when its handle has none: every exchange then answers 0 and writes
// nothing), the card seat (0 contact, 255 contactless) and the reserved
// argument of the APDU command.  Everything a service keeps lives in its own
// call, so services on different readers run at the same time.
struct CardChannel {
  CReader* reader;
  int seat;
  int reserved;
  // When given and true, the dialogue ends before its next command (the
  // read-any-card loop's cancel and time limit): each later command fails
  // with -101 without reaching the card.
  const std::function<bool()>* stop = nullptr;
};

// One APDU and its answer (data and SW1 SW2), with at most one follow-up
// command when the status word asks for it; *answer holds the last
// exchange's answer (empty when that exchange failed).  The first exchange
// is logged.  0 or a negative error code.  afterEach, when given, sees the
// result and answer of every exchange that reached the reader, in turn: the
// exported form writes each into the caller's text as it comes.
using AnswerSink = std::function<void(int result, const Bytes& answer)>;
int ExchangeChained(const CardChannel& card, std::string_view command, Bytes* answer,
                    const AnswerSink& afterEach = nullptr);

// The card's status word SW1 SW2 ending an answer; nullopt for an answer
// too short to carry one.
std::optional<std::uint16_t> StatusWordOf(const Bytes& answer);

// Results of the services besides the error codes of the exchange.
constexpr int kCardStatusNot9000 = 200;
constexpr int kCapacityExceeded = 201;

// Longest command text looked at; the reader refuses anything longer than
// one frame carries long before this.
constexpr std::size_t kMaxCommandScan = 4096;
// The tag search works on at most this many characters of a text.
constexpr std::size_t kMaxSearchText = 4095;
// Longest AID an application may have here (an EMV AID has at most 16 bytes).
constexpr std::size_t kMaxAidChars = 99;
// Longest processing options data one GET PROCESSING OPTIONS carries: its
// Lc is one byte and counts the tag 83 and its length too.
constexpr std::size_t kMaxPdolDataChars = std::size_t{2} * 253;
// A GPO answer in response format 1 (template 80) holds the tag, its
// length and the two AIP bytes before the AFL, and SW1 SW2 after it.
constexpr std::size_t kGpoFixedBytes = 6;

// Values the terminal answers with, fixed at load; only the date changes,
// each time a card asks for it.
struct TerminalData {
  std::string ttq;                      // 9F66
  std::string amountAuthorised;         // 9F02
  std::string amountOther;              // 9F03
  std::string terminalCountryCode;      // 9F1A
  std::string tvr;                      // 95
  std::string transactionCurrencyCode;  // 5F2A
  std::string transactionDate;          // 9A, YYMMDD
  std::string transactionType;          // 9C
  std::string unpredictableNumber;      // 9F37 (the processing options one)
  std::string vlpIndicator;             // 9F7A
};
extern const TerminalData g_terminalData;

// Value of the first element of tag in text that starts on a byte boundary,
// whose one-byte length fits the text, and, for a tag containing "57" (Track
// 2 equivalent data), whose value is 8 to 25 bytes long.  The search is
// textual: an occurrence inside another element's value counts.  Only the
// first kMaxSearchText characters of text are looked at; an empty tag is
// never found.
std::optional<std::string_view> FindTagValue(std::string_view text, std::string_view tag);
// The same search on a card's answer, with the tag as bytes: the answer is
// read exactly as its hex text would be.
std::optional<Bytes> FindTagValue(const Bytes& answer, const Bytes& tag);

// 0 when the answer ends in SW 9000, else 200 (also for an answer too short
// to hold a status word).
int CheckStatus9000(const Bytes& answer);

// Appends the answer to the PDOL (tag 9F38) found anywhere in the hex text
// of the answer to SELECT: the list is found by a plain search of that text,
// so an occurrence straddling two bytes counts too.  For each entry the terminal's value, or zeros for a tag the
// terminal does not know, always exactly as long as the entry asks.  -1 with
// nothing appended when the text holds no 9F38, else 0.
int AnswerPdol(std::string_view selectAnswer, std::string* answer);

// Eight random hex digits, from a generator seeded with the current time in
// seconds (two calls within one second give the same number).
std::string MakeUnpredictableNumber();
// Local date as YYMMDD and local time as HHMMSS.
std::string GetTransactionDate();
std::string GetTransactionTime();

// SELECT by name of an application: 00A40400, the AID length in bytes, the
// AID.
std::string SelectCommand(const std::string& aid);

// One command through ExchangeChained, *answer its answer; fails with -101
// without reaching the card once the channel's stop says so.
int Transmit(const CardChannel& card, const std::string& command, Bytes* answer);

// The payment system directory: SELECT 1PAY.SYS.DDF01, then the first of
// records 1 to 3 of the directory file that names a PBOC application.  0
// with *aid set; the sender's error, 200, -9 (no A5 or 88), or the last
// record's failure (-1, -9 or the sender's error).
int SelectPseAid(const CardChannel& card, std::string* aid);
// AID (hex text) of a directory record that carries the label "PBOC" and a
// tag 4F: 0, -1 (no PBOC application) or -9 (no usable 4F value).
int FindPbocAid(const Bytes& record, std::string* aid);

// SELECT of the application, its PDOL answered from the terminal data, GET
// PROCESSING OPTIONS.  0 with *gpoAnswer set; the sender's error; 200 for a
// status other than 9000, for a PDOL whose answer one GET PROCESSING OPTIONS
// cannot carry (nothing is sent then), and for a GPO answer too short to
// hold tag, length, AIP and status word.
int SelectApplicationAndGpo(const CardChannel& card, const std::string& aid, Bytes* gpoAnswer);

// Reads every record the AFL of a GPO answer (template 80) names, in order,
// and hands each one that the card answered with 9000 to onRecord (the
// answer with its status word); onRecord returns false to stop the walk.
// Entries whose first record lies above their last are skipped, and so are
// entries no card may carry (SFI 0 or above 30, first record 0).  The walk
// ends after kMaxFailedRecordsInARow records in a row that failed (no answer
// or a status other than 9000): a card that stopped answering holds the
// caller for a few timeouts, not for every record its AFL names.  Whatever
// the card answers, each short file identifier and record number is read
// once, and at most kMaxAflRecords READ RECORDs are sent: an AFL can name
// 257 entries of 255 records, and a card answering 9000 to each would hold
// the call for 65,535 exchanges (over an hour at 9600 baud).  Cards name a
// few dozen records at most.
constexpr int kMaxFailedRecordsInARow = 3;
constexpr int kMaxAflRecords = 64;
void WalkAflRecords(const CardChannel& card, const Bytes& gpoAnswer,
                    const std::function<bool(const Bytes& record)>& onRecord);

// The services of the financial exports, on one card.
int ReadICCardInfo(const CardChannel& card, char* track2, char* panSeq, char* aid);
int ReadFinanceICTrack2(const CardChannel& card, char* track2);
int ReadICCardGPOData(const CardChannel& card, char* records, int capacity);
int GetICTraceInfo(const CardChannel& card, const char* aid, const char* transType, const char* amount, char* chipData);
// The tag search of ICCardFindSubStr.
int FindSubStr(const char* response, const char* tag, char* valueOut);

}  // namespace kp
