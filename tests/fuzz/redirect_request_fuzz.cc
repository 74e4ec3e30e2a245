// libFuzzer target for everything that reads the browser's redirect: the
// request text as the listener makes it (cut at a zero byte, read as UTF-8),
// the request-line and query parsing, and the percent coding. Any input must
// come back without a crash, a sanitizer report or a broken invariant.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "oauth/percent_coding.h"
#include "oauth/redirect_request.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* bytes = reinterpret_cast<const char*>(data);
  const std::string_view raw(bytes, size);

  const std::string request = vm::validUtf8(raw.substr(0, strnlen(bytes, size)));
  check(vm::validUtf8(request) == request);
  // U+FFFD takes three bytes for one bad byte; nothing grows more than that.
  check(request.size() <= 3 * size);

  const vm::RedirectParameters p = vm::parseRedirectRequest(request, "xsf12345678901234567890");
  check(vm::validUtf8(p.code) == p.code);
  check(p.code.size() <= request.size());

  // Escaping then unescaping gives the text back, read as UTF-8; the escaped
  // form holds nothing outside the safe set and "%".
  const std::string encoded = vm::percentEncode(raw);
  check(vm::percentDecode(encoded) == vm::validUtf8(raw));
  for (char c : encoded)
    check(c != ' ' && c != '+' && static_cast<unsigned char>(c) > 0x20 &&
          static_cast<unsigned char>(c) < 0x7F);
  vm::percentDecode(raw);
  return 0;
}
