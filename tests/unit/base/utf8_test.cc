#include "base/utf8.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"Gr\xC3\xBC\xC3\x9F" "e", "Gr\xC3\xBC\xC3\x9F" "e"},
      {"\xF0\x9F\x93\xA7", "\xF0\x9F\x93\xA7"},            // U+1F4E7 kept
      {"a\xFFz", "a\xEF\xBF\xBDz"},                        // stray byte
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},            // overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},     // truncated sequence
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                  // U+1F600 kept
      {"\xF4\x90\x80\x80x", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx"},  // text after it
      {"a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},  // cut sequence at the end
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(validUtf8(in), out);
}

TEST(Utf8, AppendEncodesEveryLength) {
  std::string s;
  for (char32_t cp : {U'A', U'\u00E9', U'\u20AC', U'\U0001F4E7'}) appendUtf8(s, cp);
  EXPECT_EQ(s, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x93\xA7");
}

}  // namespace
}  // namespace vm
