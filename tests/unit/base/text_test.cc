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

TEST(Text, FindIgnoringAsciiCase) {
  const struct {
    std::string_view text, needle;
    std::size_t from, found;
  } cases[] = {
      {"a <BR> b <br>", "<br", 0, 2},
      {"a <BR> b <br>", "<br", 3, 9},
      {"a <BR> b <br>", "<br", 10, std::string_view::npos},
      {"x HREF=", "href", 0, 2},     // a needle that begins with a letter
      {"x &AMP; y", "&amp;", 0, 2},  // ...and one that does not
      {"<b", "<br", 0, std::string_view::npos},
      {"abc", "", 0, std::string_view::npos},
      {"abc", "c", 4, std::string_view::npos},
      {"\xC3\xA4", "\xC3\x84", 0, std::string_view::npos},  // "ä" is no "Ä" here
  };
  for (const auto& [text, needle, from, found] : cases) {
    EXPECT_EQ(findIgnoringAsciiCase(text, needle, from), found) << text << " " << needle;
  }
}

TEST(Text, ReplaceAll) {
  const struct {
    std::string_view text, find, with, exact, ignoringCase;
  } cases[] = {
      {"a<br>b<BR>", "<br", "\r\n<br", "a\r\n<br>b<BR>", "a\r\n<br>b\r\n<br>"},
      {"aaa", "aa", "b", "ba", "ba"},  // left to right, not overlapping
      {"x\\ny", "\\n", "\r", "x\ry", "x\ry"},
      {"%1 and %1", "%1", "%1%1", "%1%1 and %1%1", "%1%1 and %1%1"},  // no rescan of the result
      {"abc", "", "x", "abc", "abc"},
      {"", "a", "b", "", ""},
  };
  for (const auto& [text, find, with, exact, ignoringCase] : cases) {
    EXPECT_EQ(replaceAll(text, find, with), exact) << text;
    EXPECT_EQ(replaceAllIgnoringAsciiCase(text, find, with), ignoringCase) << text;
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
