#include "base/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>


namespace vm {

static_assert(kRegexCaseless == PCRE2_CASELESS);
static_assert(kRegexDotAll == PCRE2_DOTALL);
static_assert(kRegexMultiLine == PCRE2_MULTILINE);

void RegexCodeDeleter::operator()(pcre2_code* code) const { pcre2_code_free(code); }
void RegexMatchDataDeleter::operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
void RegexMatchContextDeleter::operator()(pcre2_match_context* context) const {
  pcre2_match_context_free(context);
}
void RegexJitStackDeleter::operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }

namespace {

// Lazy quantifiers over long lines need more than the 32 KiB machine stack
// the JIT uses by default; running out would end a match as "no match known".
constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 4 * 1024 * 1024;

struct CompileContextDeleter {
  void operator()(pcre2_compile_context* c) const { pcre2_compile_context_free(c); }
};

}  // namespace

Regex::Regex(std::string_view pattern, std::uint32_t options) : pattern_(pattern) {
  std::unique_ptr<pcre2_compile_context, CompileContextDeleter> compileContext(
      pcre2_compile_context_create(nullptr));
  if (!compileContext) return;
  // The converted mail text uses CR LF; with the library's default (LF only)
  // a dot would swallow the CR.
  pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_ANYCRLF);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_.data()), pattern_.size(),
                            options | PCRE2_UTF, &errorCode, &errorOffset, compileContext.get()));
  if (!code_) return;
  matchData_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
  context_.reset(pcre2_match_context_create(nullptr));
  if (!matchData_ || !context_) {
    code_.reset();
    return;
  }
  // Without JIT support the interpreter runs the same pattern, only slower.
  if (pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE) == 0) {
    jitStack_.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
    if (jitStack_) pcre2_jit_stack_assign(context_.get(), nullptr, jitStack_.get());
  }
}

Regex::~Regex() = default;

std::size_t Regex::groupCount() const {
  if (!code_) return 0;
  std::uint32_t count = 0;
  pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &count);
  return count;
}

RegexFind Regex::find(std::string_view subject, std::size_t offset, std::uint32_t matchLimit,
                      bool subjectIsValidUtf8) const {
  RegexFind result;
  if (!code_ || offset > subject.size()) {
    result.status = RegexStatus::Error;
    return result;
  }
  pcre2_set_match_limit(context_.get(), matchLimit == 0 ? 10000000u : matchLimit);
  int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                       offset, subjectIsValidUtf8 ? PCRE2_NO_UTF_CHECK : 0, matchData_.get(),
                       context_.get());
  if (rc == PCRE2_ERROR_NOMATCH) {
    result.status = RegexStatus::NoMatch;
    return result;
  }
  if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
      rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
      rc == PCRE2_ERROR_NOMEMORY) {
    result.status = RegexStatus::LimitHit;
    return result;
  }
  if (rc < 0) {
    result.status = RegexStatus::Error;
    return result;
  }
  std::size_t pairs = groupCount() + 1;
  PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData_.get());
  result.status = RegexStatus::Match;
  result.starts.resize(pairs, std::string::npos);
  result.ends.resize(pairs, std::string::npos);
  for (std::size_t k = 0; k < pairs && k < static_cast<std::size_t>(rc); ++k) {
    if (ovector[2 * k] == PCRE2_UNSET) continue;
    result.starts[k] = ovector[2 * k];
    result.ends[k] = ovector[2 * k + 1];
  }
  return result;
}

}  // namespace vm
