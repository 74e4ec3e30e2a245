#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

TEST(Text, AsciiCaseChangesOnlyAsciiLetters) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"HTTPS://Example.ORG:443", "https://example.org:443"},
      {"az09-_[]@`{", "az09-_[]@`{"},
      {"\xC3\x84rger \xC3\x96L", "\xC3\x84rger \xC3\x96l"},  // only the ASCII "L"; UTF-8 bytes stay
      {"ID=\xFF\xC4Z", "id=\xFF\xC4z"},
  };
  for (const auto& [text, lower] : cases) {
    EXPECT_EQ(lowerAscii(text), lower) << text;
    EXPECT_TRUE(equalsIgnoringAsciiCase(text, lower)) << text;
  }
  EXPECT_EQ(upperAscii('q'), 'Q');
  EXPECT_EQ(upperAscii('Q'), 'Q');
  EXPECT_EQ(upperAscii('{'), '{');
  EXPECT_TRUE(isAsciiLetter('z'));
  EXPECT_FALSE(isAsciiLetter('@'));
  EXPECT_FALSE(isAsciiLetter('\xC3'));
}

TEST(Text, EqualsIgnoringAsciiCase) {
  const struct {
    std::string_view a, b;
    bool equal;
  } cases[] = {
      {"WebApp", "webapp", true},
      {"", "", true},
      {"key", "keys", false},
      {"@", "`", false},  // one apart from "A" and "a", but no letters
      {"[", "{", false},
      {"\xC3\x84", "\xC3\xA4", false},  // "Ä" and "ä" differ outside ASCII
  };
  for (const auto& [a, b, equal] : cases) {
    EXPECT_EQ(equalsIgnoringAsciiCase(a, b), equal) << a << " " << b;
  }
}

TEST(Text, TrimmingSpacesOrBlanks) {
  const struct {
    std::string_view text, spaces, blanks;
  } cases[] = {
      {"", "", ""},
      {"   ", "", ""},
      {" \t ", "\t", ""},
      {"  a b  ", "a b", "a b"},
      {"\ta b\t ", "\ta b\t", "a b"},
      {"x\n", "x\n", "x\n"},  // line breaks are no blanks
  };
  for (const auto& [text, spaces, blanks] : cases) {
    EXPECT_EQ(trimSpaces(text), spaces) << "[" << text << "]";
    EXPECT_EQ(trimBlanks(text), blanks) << "[" << text << "]";
  }
}

}  // namespace
}  // namespace vm
