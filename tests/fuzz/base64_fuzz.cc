// libFuzzer target for both Base64 decoders: any text decodes without harm,
// the strict decoder agrees with the lenient one wherever it accepts the
// text, and both give back whatever the encoder made.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/base64.h"
#include "fuzz_check.h"

namespace {

std::string urlSafe(std::string text) {
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

std::string standard(std::string text) {
  for (char& c : text) c = c == '-' ? '+' : c == '_' ? '/' : c;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string lenient = vm::base64DecodeSkippingJunk(text);
  FUZZ_CHECK(lenient.size() <= size * 3 / 4);
  if (const auto strict = vm::base64DecodeEitherAlphabet(text))
    FUZZ_CHECK(*strict == vm::base64DecodeSkippingJunk(standard(text)));

  const std::string encoded = vm::base64Encode(text);
  FUZZ_CHECK(encoded.size() == 4 * ((size + 2) / 3));
  FUZZ_CHECK(vm::base64DecodeSkippingJunk(encoded) == text);
  FUZZ_CHECK(vm::base64DecodeEitherAlphabet(encoded) == text);
  FUZZ_CHECK(vm::base64DecodeEitherAlphabet(urlSafe(encoded)) == text);
  // Wrapped lines, as mail and PEM carry them, change nothing.
  std::string wrapped;
  for (std::size_t i = 0; i < encoded.size(); i += 76) wrapped += encoded.substr(i, 76) + "\r\n";
  FUZZ_CHECK(vm::base64DecodeEitherAlphabet(wrapped) == text);
  return 0;
}
