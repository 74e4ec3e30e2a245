// libFuzzer target for what the client makes of a PAC file's answer and of
// the addresses it hands to the PAC page: the scan of FindProxyForURL's
// result, the manual proxy form of a PROXY entry, the host of an address and
// the trigger script, whose two texts must never leave their quotes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "fuzz_check.h"
#include "net/pac.h"
#include "net/pac_page.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void checkScan(const std::string& result, const std::string& credentials) {
  const vm::PacChoice choice = vm::scanPacResult(result);
  if (choice.kind != vm::PacChoice::Kind::Proxy) {
    FUZZ_CHECK(choice.address.empty());
    return;
  }
  const std::string& address = choice.address;
  FUZZ_CHECK(!address.empty() && result.find(address) != std::string::npos);
  FUZZ_CHECK(address.find(';') == std::string::npos);
  FUZZ_CHECK(!isBlank(address.front()) && !isBlank(address.back()));

  const std::string manual = vm::manualProxyForPac(address, credentials);
  FUZZ_CHECK(manual.ends_with(" " + credentials));
  FUZZ_CHECK(manual.find("://") != std::string::npos);
}

void checkHost(const std::string& url) {
  const std::string host = vm::hostOfUrl(url);
  FUZZ_CHECK(url.find(host) != std::string::npos);
  FUZZ_CHECK(host.find_first_of("/?#") == std::string::npos);
}

// The script is runPAC( + two JSON strings + ); and the strings read back
// as the texts where these are valid UTF-8 (other bytes become U+FFFD).
void checkTrigger(const std::string& url, const std::string& host) {
  const std::string script = vm::pacTriggerScript(url, host);
  constexpr std::string_view kStart = "runPAC(", kEnd = ");";
  FUZZ_CHECK(script.starts_with(kStart) && script.ends_with(kEnd));
  const std::string inner = script.substr(kStart.size(), script.size() - kStart.size() - kEnd.size());
  const nlohmann::json arguments = nlohmann::json::parse("[" + inner + "]", nullptr, false);
  FUZZ_CHECK(arguments.is_array() && arguments.size() == 2);
  FUZZ_CHECK(arguments[0].is_string() && arguments[1].is_string());
  if (vm::validUtf8(url) == url) FUZZ_CHECK(arguments[0].get<std::string>() == url);
  if (vm::validUtf8(host) == host) FUZZ_CHECK(arguments[1].get<std::string>() == host);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string credentials = input.ConsumeRandomLengthString(64);
  const std::string url = input.ConsumeRandomLengthString(512);
  const std::string result = input.ConsumeRemainingBytesAsString();
  checkScan(result, credentials);
  checkHost(url);
  checkTrigger(url, vm::hostOfUrl(url));
  checkTrigger(result, credentials);
  return 0;
}
