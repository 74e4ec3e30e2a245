#include "base/regex_match.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

#include "base/log.h"
#include "base/text.h"

namespace vm {

namespace {

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;

struct MatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

Code compile(const std::string& pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  Code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF,
                          &error, &offset, nullptr));
  if (!code) writeLog("ERROR: Invalid RegEx " + pattern);
  return code;
}

}  // namespace

bool matchRegex(const std::string& text, const std::string& pattern) {
  Code code = compile(pattern);
  if (!code) return false;
  MatchData md(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  if (!md) return false;
  // Invalid UTF-8 in text is a negative result like any other non-match.
  return pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                     md.get(), nullptr) >= 0;
}

int regexGroups(const std::string& text, const std::string& pattern,
                std::vector<std::string>& groups) {
  groups.clear();
  Code code = compile(pattern);
  if (!code) return 0;
  MatchData md(pcre2_match_data_create_from_pattern(code.get(), nullptr));
  if (!md) return 0;
  if (pcre2_match(code.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                  md.get(), nullptr) < 0) {
    return 0;
  }
  uint32_t count = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &count);
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md.get());
  const uint32_t pairs = pcre2_get_ovector_count(md.get());
  groups.assign(count + 1, std::string());
  for (uint32_t k = 1; k <= count && k < pairs; ++k) {
    if (ov[2 * k] == PCRE2_UNSET) continue;
    groups[k] = trimSpaces(text.substr(ov[2 * k], ov[2 * k + 1] - ov[2 * k]));
  }
  return static_cast<int>(count);
}

}  // namespace vm
