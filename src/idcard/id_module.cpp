#include <cstdio>
#include <cstring>
#include <string>

#include "base/results.h"
#include "base/trace.h"
#include "idcard/id_module.h"
#include "idcard/id_text.h"
#include "kp_dev.h"
#include "platform/dynlib.h"
#include "platform/platform.h"
#include "wire/id_frame.h"

namespace kp {

namespace {

constexpr int kFindMs = 1000;
constexpr int kSelectMs = 1000;
constexpr int kReadMs = 3000;
// Check bytes that end the module's success answers to find and select.
constexpr std::uint8_t kFindOk = 0x97;
constexpr std::uint8_t kSelectOk = 0x9C;

constexpr std::size_t kAnswerHeader = wire::kIdHeader;
constexpr std::size_t kAnswerBuffer = 3000;
// Header, three status bytes, the two lengths: anything shorter carries no
// card data.
constexpr std::uint16_t kMinReadAnswer = 12;

// Pause between two find attempts of a timed read.
constexpr unsigned kRetryPauseMs = 200;
constexpr int kFieldCount = 9;

constexpr char kBitmapName[] = "zp.bmp";
constexpr char kRawPhotoName[] = "zp.wlt";

using GetBmpFn = int(KP_STDCALL*)(const char*, int);

std::uint8_t LastByte(const std::uint8_t* answer, std::uint16_t length) { return length > 0 ? answer[length - 1] : 0; }

// Copies a NUL-terminated slot text; the slot size bounds the read.
void CopyField(char* out, const char* text, std::size_t slotSize) {
  const std::size_t n = strnlen(text, slotSize - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

int IdModule::ExchangeRaw(std::uint16_t command, std::uint8_t* answer, std::size_t room, std::uint16_t* answerLength,
                          int timeLimitMs) {
  *answerLength = 0;
  if (room < kAnswerHeader) return kErrWrite;
  const Bytes frame = wire::EncodeIdCommand(command);
  port_.PrepareRequest();
  const int w = port_.Write(frame.data(), static_cast<std::uint16_t>(frame.size()));
  if (w != 0) return w;
  port_.Expect(Unit::kIdentity, frame.size());
  const std::uint32_t start = platform::TickMs();
  // Nothing of the answer in time: the module still owes it.
  if (!port_.AwaitAnswer(timeLimitMs)) return kErrRead;
  std::uint16_t got = 0;
  int r = port_.Read(answer, kAnswerHeader, &got, RemainingMs(start, timeLimitMs));
  if (r != 0) return Broken(r);
  *answerLength = static_cast<std::uint16_t>(kAnswerHeader);
  const std::size_t body = wire::IdAnnounced(answer);
  if (body > room - kAnswerHeader) {
    // Not an answer this module gives: read and drop what it announced
    // (within the time limit) so the next command starts in step.
    if (reader_.DiscardInput(body, timeLimitMs)) {
      port_.AnswerComplete();
    } else {
      port_.AnswerBroken();
    }
    return kErrWrite;
  }
  std::size_t bodyGot = 0;
  r = port_.ReadExact(answer + kAnswerHeader, body, &bodyGot, timeLimitMs);
  *answerLength = static_cast<std::uint16_t>(kAnswerHeader + bodyGot);
  if (r != 0) return Broken(r);
  port_.AnswerComplete();
  return kOk;
}

int IdModule::ID_FindID() {
  std::uint8_t answer[kAnswerBuffer] = {};
  std::uint16_t length = 0;

  int r = ExchangeRaw(wire::kIdFindCard, answer, sizeof answer, &length, kFindMs);
  if (r != 0) return r;
  if (LastByte(answer, length) != kFindOk) return kErrWrite;

  std::memset(answer, 0, sizeof answer);
  r = ExchangeRaw(wire::kIdSelectCard, answer, sizeof answer, &length, kSelectMs);
  if (r != 0) {
    // The module sometimes misses the select right after a find; one more
    // try is part of the normal sequence.
    std::memset(answer, 0, sizeof answer);
    r = ExchangeRaw(wire::kIdSelectCard, answer, sizeof answer, &length, kSelectMs);
    if (r != 0) return r;
  }
  if (LastByte(answer, length) != kSelectOk) return kErrWrite;

  std::memset(answer, 0, sizeof answer);
  r = ExchangeRaw(wire::kIdReadCard, answer, sizeof answer, &length, kReadMs);
  if (r != 0) return r;
  if (length < kMinReadAnswer) return kErrWrite;

  IdRecord& record = SharedIdRecord();
  std::memset(record.name, 0, offsetof(IdRecord, photo) - offsetof(IdRecord, name));
  // A text or photo that does not decode still leaves a card found: the
  // fields that did decode are delivered.
  (void)DecodeIdText(answer + kAnswerHeader, static_cast<std::uint32_t>(length - kAnswerHeader), &record);
  (void)DecodePhoto(record.photo, record.photoLength);
  return kOk;
}

int IdModule::DecodePhoto(const std::uint8_t* photo, std::uint32_t length) {
  const std::string directory = platform::ModuleDirectory();
  const std::string bitmapPath = directory + kBitmapName;
  std::memset(state_.photoPath, 0, sizeof state_.photoPath);
  // A directory too long for the path field leaves the field empty rather
  // than naming a different file.
  if (bitmapPath.size() >= sizeof state_.photoPath) return -1;
  std::memcpy(state_.photoPath, bitmapPath.data(), bitmapPath.size());
  // A picture of an earlier card must never pass for this card's.
  platform::DeleteFileAt(bitmapPath);

  const std::string decoderPath = directory + platform::PhotoDecoderFileName();
  const std::string rawPath = directory + kRawPhotoName;
  const platform::LoadedLibrary decoder(decoderPath);
  if (!decoder) return -1;
  const auto getBmp = reinterpret_cast<GetBmpFn>(platform::FindSymbol(decoder.get(), "GetBmp"));
  if (getBmp == nullptr) return -1;
  std::FILE* raw = std::fopen(rawPath.c_str(), "w+b");
  if (raw == nullptr) return -1;
  const std::size_t count = length < kIdPhotoRoom ? length : kIdPhotoRoom;
  if (count > 0 && photo != nullptr) std::fwrite(photo, 1, count, raw);
  std::fclose(raw);
  const int decoded = getBmp(rawPath.c_str(), 1);
  platform::DeleteFileAt(rawPath);
  return decoded == 1 ? kOk : -1;
}

int IdModule::ID_GetData(int field, char* out) {
  const IdRecord& record = SharedIdRecord();
  struct Field {
    const char* text;
    std::size_t slot;
  };
  // Field numbers 1..9, in this order.
  const Field table[kFieldCount] = {
      {record.name, sizeof record.name},           {record.sex, sizeof record.sex},
      {record.nation, sizeof record.nation},       {record.birthDate, sizeof record.birthDate},
      {record.address, sizeof record.address},     {record.idNumber, sizeof record.idNumber},
      {record.authority, sizeof record.authority}, {record.validity, sizeof record.validity},
      {state_.photoPath, sizeof state_.photoPath},
  };
  if (field < 1 || field > kFieldCount) return kOk;  // no such field: the output stays as it was
  // A field to copy and nowhere to copy it: refused, so the caller does not
  // take an empty output for the field's value.
  if (out == nullptr) return kErrParam;
  const Field& chosen = table[field - 1];
  CopyField(out, chosen.text, chosen.slot);
  return kOk;
}

int IdModule::ID_Read(int timeLimitMs, char** fields) {
  const std::uint32_t start = platform::TickMs();
  // A limit of 0 (or below) means a single attempt.
  const std::uint32_t limit = timeLimitMs > 0 ? static_cast<std::uint32_t>(timeLimitMs) : 0;
  while (ID_FindID() != 0) {
    const std::uint32_t elapsed = platform::TickMs() - start;
    if (limit == 0 || elapsed > limit) return kErrIdTimeLimit;
    platform::SleepMs(kRetryPauseMs);
  }
  for (int field = 1; field <= kFieldCount; ++field) {
    // Large enough for the photo path, the longest field.
    char text[sizeof state_.photoPath] = {};
    ID_GetData(field, text);
    text[sizeof text - 1] = '\0';
    if (fields != nullptr && fields[field - 1] != nullptr) std::strcpy(fields[field - 1], text);
  }
  return kOk;
}

}  // namespace kp
