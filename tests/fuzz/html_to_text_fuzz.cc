// libFuzzer target for the HTML to plain-text conversion of the desktop mail
// hand-off: any mail body converts (in time: libFuzzer's -timeout catches a
// pathological case) to valid UTF-8 whose lines end in CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "fuzz_check.h"
#include "mail/html_to_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);

  const std::string text = vm::htmlToText(html);
  FUZZ_CHECK(vm::validUtf8(text) == text);
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    FUZZ_CHECK(at > 0 && text[at - 1] == '\r');

  const std::string decoded = vm::decodeEntities(vm::validUtf8(html));
  FUZZ_CHECK(vm::validUtf8(decoded) == decoded);
  return 0;
}
