// libFuzzer target for the bridge's JSON: any argument text the page can
// send, the conversions of its elements and every answer made from them. An
// answer must always be JSON that gives the text back (as valid UTF-8).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/bridge_json.h"
#include "base/utf8.h"
#include "fuzz_check.h"

namespace {

void checkAnswer(const std::string& text) {
  const vm::Json parsed = vm::Json::parse(vm::jsonStringAnswer(text), nullptr, false);
  FUZZ_CHECK(parsed.is_string());
  FUZZ_CHECK(parsed.get<std::string>() == vm::validUtf8(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string path = input.ConsumeRandomLengthString(64);
  double number = 0;
  if (input.remaining_bytes() >= sizeof number) {
    const auto bytes = input.ConsumeBytes<uint8_t>(sizeof number);
    std::memcpy(&number, bytes.data(), sizeof number);
  }
  const std::string args = input.ConsumeRemainingBytesAsString();

  // Text a strict parser takes has no lone surrogate to replace. The parser
  // reads a NUL byte as the end of the text, so only text without one counts
  // (the page's JSON.stringify never writes one raw).
  const std::string repaired = vm::replaceLoneSurrogateEscapes(args);
  if (args.find('\0') == std::string::npos && vm::Json::accept(args)) FUZZ_CHECK(repaired == args);
  FUZZ_CHECK(repaired.size() <= args.size() + 4 * (args.size() / 6 + 1));

  checkAnswer(args);
  FUZZ_CHECK(vm::fixedPointText(number).size() < 400);

  const auto parsed = vm::parseBridgeArgs(args);
  if (!parsed) return 0;
  FUZZ_CHECK(parsed->is_array());
  for (const vm::Json& element : *parsed) {
    checkAnswer(vm::settingValueText(element));
    checkAnswer(vm::jsonStringOrEmpty(element));
    checkAnswer(vm::jsonTextAtPath(&element, path, "\""));
  }
  const vm::Json* found = vm::jsonValueAtPath(&*parsed, path);
  if (path.empty()) FUZZ_CHECK(found == &*parsed);
  return 0;
}
