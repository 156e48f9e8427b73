// The pieces the financial IC card services share: the APDU sender they are
// written against, the terminal values answered on the terminal's behalf,
// the tag search in a response text, the "9000" test, the answer to a
// card's processing options data object list, and the steps of the card
// dialogue that more than one service runs.  Texts are upper-case hex, two
// characters per byte; a response text ends in the card's SW1 SW2.
#pragma once

#include <cstddef>
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

// One APDU (command text) and its response text (data and SW1 SW2,
// NUL-terminated), with at most one follow-up command when the status word
// asks for it.  Each exchange is logged.  0 or a negative error code.
int SendApduChained(const CardChannel& card, const char* command, char* response);

// Results of the services besides the error codes of the exchange.
constexpr int kCardStatusNot9000 = 200;
constexpr int kCapacityExceeded = 201;

// Room of every response text a service hands to its sender: more than the
// longest answer the device can carry in one frame.
constexpr std::size_t kApduResponseRoom = 4096;
// The tag search works on at most this many characters of a text.
constexpr std::size_t kMaxSearchText = 4095;
// Longest AID an application may have here (an EMV AID has at most 16 bytes).
constexpr std::size_t kMaxAidChars = 99;
// Longest processing options data one GET PROCESSING OPTIONS carries: its
// Lc is one byte and counts the tag 83 and its length too.
constexpr std::size_t kMaxPdolDataChars = std::size_t{2} * 253;

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

// 0 when the response text ends in 9000, else 200 (also for a text too short
// to hold a status word).
int CheckStatus9000(std::string_view response);

// Appends the answer to the PDOL (tag 9F38) found anywhere in the answer to
// SELECT: for each entry the terminal's value, or zeros for a tag the
// terminal does not know, always exactly as long as the entry asks.  -1 with
// nothing appended when the text holds no 9F38, else 0.
int AnswerPdol(std::string_view selectAnswer, std::string* answer);

// Eight random hex digits, from a generator seeded with the current time in
// seconds (two calls within one second give the same number).
std::string MakeUnpredictableNumber();
// Local date as YYMMDD and local time as HHMMSS.
std::string GetTransactionDate();
std::string GetTransactionTime();

// One byte from (up to) two hex characters, read like a "%02X" field.
int HexByte(std::string_view two);
// SELECT by name of an application: 00A40400, the AID length in bytes, the
// AID.
std::string SelectCommand(const std::string& aid);

// One command through SendApduChained; *response receives the response
// text (empty when none was written).
int Transmit(const CardChannel& card, const std::string& command, std::string* response);

// The payment system directory: SELECT 1PAY.SYS.DDF01, then the first of
// records 1 to 3 of the directory file that names a PBOC application.  0
// with *aid set; the sender's error, 200, -9 (no A5 or 88), or the last
// record's failure (-1, -9 or the sender's error).
int SelectPseAid(const CardChannel& card, std::string* aid);
// AID of a directory record that carries the label "PBOC" and a tag 4F:
// 0, -1 (no PBOC application) or -9 (no usable 4F value).
int FindPbocAid(std::string_view record, std::string* aid);

// SELECT of the application, its PDOL answered from the terminal data, GET
// PROCESSING OPTIONS.  0 with *gpoAnswer set; the sender's error; 200 for a
// status other than 9000, for a PDOL whose answer one GET PROCESSING OPTIONS
// cannot carry (nothing is sent then), and for a GPO answer too short to
// hold tag, length, AIP and status word.
int SelectApplicationAndGpo(const CardChannel& card, const std::string& aid, std::string* gpoAnswer);

// Reads every record the AFL of a GPO answer (template 80) names, in order,
// and hands each one that the card answered with 9000 to onRecord (response
// text with its status word); onRecord returns false to stop the walk.
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
void WalkAflRecords(const CardChannel& card, std::string_view gpoAnswer,
                    const std::function<bool(const std::string& record)>& onRecord);

// The services of the financial exports, on one card.
int ReadICCardInfo(const CardChannel& card, char* track2, char* panSeq, char* aid);
int ReadFinanceICTrack2(const CardChannel& card, char* track2);
int ReadICCardGPOData(const CardChannel& card, char* records, int capacity);
int GetICTraceInfo(const CardChannel& card, const char* aid, const char* transType, const char* amount, char* chipData);
// The tag search of ICCardFindSubStr.
int FindSubStr(const char* response, const char* tag, char* valueOut);

}  // namespace kp
