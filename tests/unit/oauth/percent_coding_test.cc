#include "oauth/percent_coding.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(PercentEncode, KeepsTheWideSafeSetAndEscapesTheRestInUpperCase) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"AZaz09", "AZaz09"},
      {"!#$&'()*,-./:;=?@_~", "!#$&'()*,-./:;=?@_~"},
      {"http://localhost:8100/tessel", "http://localhost:8100/tessel"},
      {"https://outlook.office.com/SMTP.Send offline_access",
       "https://outlook.office.com/SMTP.Send%20offline_access"},
      {"a b+c%d", "a%20b%2Bc%25d"},
      {"user@example.com", "user@example.com"},
      {"x&y=z", "x&y=z"},
      {"\"<>[]\\^`{|}", "%22%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
      {"\r\n\t", "%0D%0A%09"},
      {std::string("\0\x7F", 2), "%00%7F"},
      {"\xC3\xA4\xE2\x82\xAC", "%C3%A4%E2%82%AC"},  // ä and €, byte by byte
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(percentEncode(in), out) << in;
}

TEST(PercentDecode, EscapesPlusAndTheFirstMalformedEscape) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"4%2F0Ab+cd", "4/0Ab cd"},
      {"%2f%2F", "//"},
      {"%41%4a%4A", "AJJ"},
      {"a%2", "a"},  // cut escape at the end
      {"a%", "a"},
      {"ab%zz%41", "ab"},  // decoding stops, the rest is dropped
      {"a%4g", "a"},
      {"%C3%A4", "\xC3\xA4"},
      {"%FF", "\xEF\xBF\xBD"},  // not UTF-8: replacement character
      {"%00x", std::string("\0x", 2)},
      {"plain", "plain"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(percentDecode(in), out) << in;
}

}  // namespace
}  // namespace vm
