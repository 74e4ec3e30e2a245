// Perl-compatible regular expressions (PCRE2, UTF-8 mode) behind small
// owning handles, for code that runs many searches with one pattern under a
// work limit. The one-shot look-ups matchRegex and regexGroups live in
// base/regex_match.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct pcre2_real_match_context_8;
struct pcre2_real_jit_stack_8;

namespace vm {

struct RegexCodeDeleter {
  void operator()(pcre2_real_code_8* code) const;
};
struct RegexMatchDataDeleter {
  void operator()(pcre2_real_match_data_8* data) const;
};
struct RegexMatchContextDeleter {
  void operator()(pcre2_real_match_context_8* context) const;
};
struct RegexJitStackDeleter {
  void operator()(pcre2_real_jit_stack_8* stack) const;
};

// Compile options, passed straight to PCRE2 (UTF-8 mode is always on).
enum RegexOption : std::uint32_t {
  kRegexCaseless = 0x00000008u,   // PCRE2_CASELESS
  kRegexDotAll = 0x00000020u,     // PCRE2_DOTALL
  kRegexMultiLine = 0x00000400u,  // PCRE2_MULTILINE
};

enum class RegexStatus {
  Match,
  NoMatch,
  // PCRE2 gave up (match, depth or heap limit, JIT stack): the answer is
  // unknown, not "no match".
  LimitHit,
  Error,
};

struct RegexFind {
  RegexStatus status = RegexStatus::NoMatch;
  // Byte offsets of the whole match and of every capture group; a group that
  // took part in nothing has start == end == npos.
  std::vector<std::size_t> starts;
  std::vector<std::size_t> ends;
  std::size_t start() const { return starts.empty() ? std::string::npos : starts[0]; }
  std::size_t end() const { return ends.empty() ? std::string::npos : ends[0]; }
};

// A compiled pattern (JIT-compiled when the library supports it) with its
// own match data. Line breaks are CR, LF or CR LF, so "." never matches
// either character unless the pattern is dot-all.
class Regex {
 public:
  Regex(std::string_view pattern, std::uint32_t options = 0);
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;
  Regex(Regex&&) noexcept = default;
  Regex& operator=(Regex&&) noexcept = default;
  ~Regex();

  bool valid() const { return code_ != nullptr; }
  const std::string& pattern() const { return pattern_; }
  std::size_t groupCount() const;

  // Searches subject[0, length) from offset; the match may start anywhere at
  // or after offset. matchLimit bounds PCRE2's work for this one call (0 keeps
  // the library default).
  // subjectIsValidUtf8 skips PCRE2's own validity check, which otherwise
  // reads from offset to the end on every call and makes a loop over many
  // matches quadratic; pass true only for text known to be valid UTF-8.
  RegexFind find(std::string_view subject, std::size_t offset, std::uint32_t matchLimit = 0,
                 bool subjectIsValidUtf8 = false) const;

 private:
  std::string pattern_;
  std::unique_ptr<pcre2_real_code_8, RegexCodeDeleter> code_;
  std::unique_ptr<pcre2_real_match_data_8, RegexMatchDataDeleter> matchData_;
  std::unique_ptr<pcre2_real_match_context_8, RegexMatchContextDeleter> context_;
  std::unique_ptr<pcre2_real_jit_stack_8, RegexJitStackDeleter> jitStack_;
};

}  // namespace vm
