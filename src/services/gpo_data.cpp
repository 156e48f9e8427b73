// The raw records of a bank card's application, and the chip data of an
// online authorisation: the card is asked for an ARQC over a fixed data
// layout and its answer is combined with the terminal values into fourteen
// TLV elements.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/results.h"
#include "services/emv.h"

namespace kp {

namespace {

// GENERATE AC asking for an ARQC, Lc 34 (52 bytes of data follow).
constexpr char kGenerateAcHead[] = "80AE800034";
// Merchant name field (9F4E) of the fixed data layout.
constexpr char kMerchantName[] = "514D585200000000000000000000000000000000";
constexpr char kCryptogramInformation[] = "80";
constexpr char kTerminalCapabilities[] = "004000";

// Largest texts the chip data elements hold: the amount 13 characters, the
// transaction type 5 and the card's issuer application data 93; with them
// the whole chip data stays within 299 characters.
constexpr std::size_t kMaxAmountChars = 13;
constexpr std::size_t kMaxTypeChars = 5;
constexpr std::size_t kMaxIadChars = 93;
// A GENERATE AC answer holds tag, length, CID, ATC (2 bytes), the
// cryptogram (8) and the status word at fixed places: 15 bytes at least; the
// issuer application data fills what lies between the cryptogram and SW1.
constexpr std::size_t kAtcAt = 3;
constexpr std::size_t kCryptogramAt = 5;
constexpr std::size_t kIadAt = 13;
constexpr std::size_t kMinGenerateAcAnswer = 15;

}  // namespace

int ReadICCardGPOData(const CardChannel& card, char* records, int capacity) {
  if (records == nullptr) return kErrParam;

  // Every failure before the records is reported alike.
  std::string aid;
  if (SelectPseAid(card, &aid) != 0) return kCardStatusNot9000;
  Bytes gpo;
  if (SelectApplicationAndGpo(card, aid, &gpo) != 0) return kCardStatusNot9000;

  // One line per record, "answer\r\n"; the text's NUL may stand at
  // records[capacity] (capacity counts characters, the NUL not included).
  long long written = 0;
  int result = kOk;
  WalkAflRecords(card, gpo, [&](const Bytes& answer) {
    const std::string record = ToHex(answer);
    const long long next = written + static_cast<long long>(record.size()) + 2;
    if (next > capacity) {
      result = kCapacityExceeded;
      return false;
    }
    char* at = records + written;
    std::copy(record.begin(), record.end(), at);
    std::memcpy(at + record.size(), "\r\n", 3);  // with its NUL
    written = next;
    return true;
  });
  return result;
}

int GetICTraceInfo(const CardChannel& card, const char* aid, const char* transType, const char* amount,
                   char* chipData) {
  if (aid == nullptr || transType == nullptr || amount == nullptr || chipData == nullptr) return kErrParam;
  // Texts that would not fit their elements are refused before the card is
  // addressed.
  const std::size_t aidChars = strnlen(aid, kMaxAidChars + 1);
  const std::size_t typeChars = strnlen(transType, kMaxTypeChars + 1);
  const std::size_t amountChars = strnlen(amount, kMaxAmountChars + 1);
  if (aidChars > kMaxAidChars || typeChars > kMaxTypeChars || amountChars > kMaxAmountChars) return kErrParam;
  const std::string application(aid, aidChars);
  const std::string type(transType, typeChars);
  const std::string authorised(amount, amountChars);

  Bytes gpo;
  int r = SelectApplicationAndGpo(card, application, &gpo);
  if (r != 0) return r;
  const std::string aip = ToHex(gpo.data() + 2, 2);  // after tag 80 and its length

  const std::string number = MakeUnpredictableNumber();
  const std::string time = GetTransactionTime();
  const std::string date = GetTransactionDate();
  const std::string generateAc = kGenerateAcHead + authorised + "000000000000" + "0156" + "8000000000" + "0156" + date +
                                 type + number + time + kMerchantName;
  Bytes answer;
  r = Transmit(card, generateAc, &answer);
  if (r != 0) return r;
  r = CheckStatus9000(answer);
  if (r != 0) return r;
  // An answer without the fixed fields, or with issuer application data
  // longer than its element holds, cannot be passed on.
  if (answer.size() < kMinGenerateAcAnswer) return kCardStatusNot9000;
  const std::string atc = ToHex(answer.data() + kAtcAt, 2);
  const std::string cryptogram = ToHex(answer.data() + kCryptogramAt, 8);
  const std::string iad = ToHex(answer.data() + kIadAt, answer.size() - 2 - kIadAt);
  if (iad.size() > kMaxIadChars) return kCardStatusNot9000;

  // The card's decision (its CID) is not looked at: 9F27 always says ARQC.
  const std::string out = "9F2608" + cryptogram +                                       //
                          "9F2701" + kCryptogramInformation +                           //
                          "9F10" + ByteToHex(static_cast<int>(iad.size() / 2)) + iad +  //
                          "9F3704" + number +                                           //
                          "9F3602" + atc +                                              //
                          "9505" + "8000000000" +                                       //
                          "9A03" + date +                                               //
                          "9C01" + type +                                               //
                          "9F0206" + authorised +                                       //
                          "5F2A02" + "0156" +                                           //
                          "8202" + aip +                                                //
                          "9F1A02" + "0156" +                                           //
                          "9F0306" + "000000000000" +                                   //
                          "9F3303" + kTerminalCapabilities;
  std::memcpy(chipData, out.c_str(), out.size() + 1);
  return kOk;
}

}  // namespace kp
