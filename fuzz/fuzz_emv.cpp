// The EMV helpers on card answers of any content: the tag search (internal
// and exported), the PDOL answer from a SELECT answer, the PBOC directory
// record.  The services themselves run against a scripted device in
// fuzz_library.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kp_dev.h"
#include "services/emv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4096) return 0;
  // First byte: length of the tag text that follows; the rest is the answer.
  const std::size_t tagLength = data[0] % 8;
  if (size < 1 + tagLength) return 0;
  const std::string tag(reinterpret_cast<const char*>(data + 1), tagLength);
  const std::string answer(reinterpret_cast<const char*>(data + 1 + tagLength), size - 1 - tagLength);
  const kp::Bytes bytes(answer.begin(), answer.end());
  const kp::Bytes tagBytes(tag.begin(), tag.end());
  (void)kp::FindTagValue(answer, tag);
  (void)kp::FindTagValue(bytes, tagBytes);
  (void)kp::CheckStatus9000(bytes);
  std::string pdol;
  (void)kp::AnswerPdol(answer, &pdol);
  std::string aid;
  (void)kp::FindPbocAid(bytes, &aid);
  char value[8192];
  (void)ICCardFindSubStr(answer.c_str(), tag.c_str(), value);
  return 0;
}
