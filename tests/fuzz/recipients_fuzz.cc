// libFuzzer target for what becomes of the page's recipient list and account
// fields: the normalised list, the address-book entries, and the header lines
// of the message, which must never carry a line break the fields did not
// bring nor pass 998 characters where a comma allows a fold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/base64.h"
#include "fuzz_check.h"
#include "mail/address_book.h"
#include "mail/message_headers.h"

namespace {

constexpr std::size_t kMaxLine = 998;

// The folded line with its folds taken out is the line, apart from one blank
// that a fold may add after a comma.
bool unfoldsTo(const std::string& folded, const std::string& line) {
  std::string unfolded;
  for (std::size_t i = 0; i < folded.size(); ++i) {
    if (folded.compare(i, 3, "\r\n ") == 0 && i > 0 && folded[i - 1] == ',') {
      i += 2;
      if (unfolded.size() < line.size() && line[unfolded.size()] == ' ') unfolded += ' ';
      continue;
    }
    unfolded += folded[i];
  }
  return unfolded == line;
}

void checkFoldedLines(const std::string& folded) {
  std::size_t start = 0;
  while (start <= folded.size()) {
    std::size_t end = folded.find("\r\n", start);
    if (end == std::string::npos) end = folded.size();
    const std::string_view physical(folded.data() + start, end - start);
    // Longer only when one address alone is: no comma before its last character.
    if (physical.size() > kMaxLine) FUZZ_CHECK(physical.find(',') >= physical.size() - 1);
    start = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string sender = input.ConsumeRandomLengthString(128);
  const std::string replyTo = input.ConsumeRandomLengthString(128);
  const std::string subject = input.ConsumeRandomLengthString(512);
  const bool repeat = input.ConsumeBool();
  std::string recipients = input.ConsumeRemainingBytesAsString();
  // Long lists, so that folding happens.
  if (repeat) recipients = recipients + "," + recipients + "," + recipients + "," + recipients;

  // The rule leaves no ";", no empty field between two commas and no blank
  // at either end (a comma at an end may stay when a blank stood beside it).
  const std::string list = vm::normaliseRecipients(recipients);
  FUZZ_CHECK(list.find(';') == std::string::npos && list.find(",,") == std::string::npos);
  FUZZ_CHECK(list.empty() || (list.front() != ' ' && list.back() != ' '));

  for (const std::string& entry : vm::addressEntries(recipients)) {
    FUZZ_CHECK(!entry.empty() && entry.find(',') == std::string::npos);
    FUZZ_CHECK(vm::normaliseAddress(entry) == entry);
  }

  const bool lineBreak = !vm::fieldWithLineBreak(sender, replyTo, list).empty();
  if (list.find_first_of("\r\n") == std::string::npos) {
    const std::string folded = vm::foldAddressLine("To: " + list);
    FUZZ_CHECK(unfoldsTo(folded, "To: " + list));
    checkFoldedLines(folded);
  }

  const std::string encoded = vm::encodeSubject(subject);
  FUZZ_CHECK(encoded.starts_with("=?UTF-8?B?") && encoded.ends_with("?="));
  FUZZ_CHECK(vm::base64DecodeEitherAlphabet(
                 std::string_view(encoded).substr(10, encoded.size() - 12)) == subject);

  if (lineBreak) return 0;
  vm::HeaderFields fields{"Mon, 01 Jan 2024 00:00:00 +0000", list, sender, replyTo,
                          "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", subject};
  for (const std::string& line : vm::messageHeaderLines(fields)) {
    std::string withoutFolds = line;
    for (std::size_t at; (at = withoutFolds.find("\r\n ")) != std::string::npos;)
      withoutFolds.erase(at, 2);
    FUZZ_CHECK(withoutFolds.find_first_of("\r\n") == std::string::npos);
  }
  return 0;
}
