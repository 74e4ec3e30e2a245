#include "update/update_manifest.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "base/log.h"
#include "base/text.h"
#include "base/utf8.h"

namespace vm {

namespace {

// The field's whole number: blanks and tabs, an optional sign, decimal
// digits up to the first other character, saturating at the int32 limits.
std::int32_t versionFieldNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
    value = std::min(kLimit, value * 10 + (field[i] - '0'));
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(std::min(value, kLimit - 1));
}

std::vector<std::string_view> versionFields(std::string_view text, std::string& storage) {
  storage.clear();
  for (char c : text) {
    if (c == 'v' || c == 'V') continue;
    storage += (c == '-' || c == '_') ? '.' : c;
  }
  std::vector<std::string_view> fields;
  std::string_view rest = storage;
  while (true) {
    const std::size_t dot = rest.find('.');
    fields.push_back(rest.substr(0, dot));
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  return fields;
}

// Accepts every event; only the first error and where it happened are kept.
class ErrorOnlySax : public nlohmann::json_sax<Json> {
 public:
  std::size_t position = 0;
  std::string message;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string&,
                   const nlohmann::detail::exception& error) override {
    position = at;
    message = error.what();
    return false;
  }
};

bool isJsonWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimJsonWhiteSpace(std::string_view text) {
  while (!text.empty() && isJsonWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isJsonWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool isHttpsAddress(const std::string& url) {
  constexpr std::string_view kScheme = "https://";
  return url.size() > kScheme.size() &&
         equalsIgnoringAsciiCase(std::string_view(url).substr(0, kScheme.size()), kScheme);
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
  std::string storageA, storageB;
  const std::vector<std::string_view> fieldsA = versionFields(a, storageA);
  const std::vector<std::string_view> fieldsB = versionFields(b, storageB);
  for (std::size_t i = 0;; ++i) {
    const std::string_view fieldA = i < fieldsA.size() ? fieldsA[i] : std::string_view();
    const std::string_view fieldB = i < fieldsB.size() ? fieldsB[i] : std::string_view();
    if (fieldA.empty() && fieldB.empty()) return 0;
    const std::int32_t numberA = versionFieldNumber(fieldA);
    const std::int32_t numberB = versionFieldNumber(fieldB);
    if (numberA < numberB) return -1;
    if (numberA > numberB) return 1;
  }
}

std::string manifestEntryPath(const std::string& platform, const std::string& bitness) {
  return "velomark\\" + platform + "\\" + bitness + "\\[0]\\";
}

Result<Json> parseJsonDocument(const std::string& text) {
  Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_discarded()) return document;
  ErrorOnlySax sax;
  Json::sax_parse(text, &sax);
  // The parser counts the character it stopped at as read.
  const std::size_t end = std::min(sax.position, text.size());
  const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<long>(end), '\n');
  return fail(sax.message, static_cast<int>(std::min<long>(line, std::numeric_limits<int>::max())));
}

std::string evaluateManifest(std::string_view body, const std::string& manifestUrl,
                             const std::string& entryPath, const std::string& clientVersion) {
  const std::string text(trimJsonWhiteSpace(validUtf8(body)));
  if (text.empty()) {
    writeLog("Error: Downloaded update file [" + manifestUrl + "] was empty");
    return {};
  }
  writeLog("Downloaded update JSON file content:\n" + text);

  Result<Json> document = parseJsonDocument(text);
  if (!document) {
    writeLog("Error: Unable to parse JSON from file [" + manifestUrl + "]: " + document.message() +
             " (line " + std::to_string(document.failure().code) + ")");
    return {};
  }

  const std::string version = jsonTextAtPath(&*document, entryPath + "version", "");
  const std::string requirement = jsonTextAtPath(&*document, entryPath + "requires", "");
  const std::string url = jsonTextAtPath(&*document, entryPath + "url", "");
  if (version.empty() || version.find('|') != std::string::npos || !isHttpsAddress(url)) {
    writeLog("Warning: No update information (url, version) found in JSON file for path [" +
             entryPath + ")");
    return {};
  }
  writeLog("Available update from [" + entryPath + "] is version: [" + version + "] requires: [" +
           requirement + "] url: [" + url + "]");
  if (compareVersions(version, clientVersion) == 1) {
    writeLog("An update is available and needed");
    return version + "|" + url;
  }
  writeLog("No update needed, version is up to date");
  return {};
}

}  // namespace vm
