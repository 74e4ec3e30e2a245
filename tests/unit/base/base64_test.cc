#include "base/base64.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vm {
namespace {

TEST(Base64, EncodesRfc4648VectorsAndBothDecodersReadThemBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"a", "YQ=="},
      {"ab", "YWI="},
      {"abc", "YWJj"},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xff\xfe?", "//4/"},
  };
  for (const auto& [raw, encoded] : cases) {
    SCOPED_TRACE(encoded);
    EXPECT_EQ(base64Encode(raw), encoded);
    EXPECT_EQ(base64DecodeSkippingJunk(encoded), raw);
    EXPECT_EQ(base64DecodeEitherAlphabet(encoded), raw);
    // Unpadded text decodes the same.
    const std::string unpadded = encoded.substr(0, encoded.find('='));
    EXPECT_EQ(base64DecodeSkippingJunk(unpadded), raw);
    EXPECT_EQ(base64DecodeEitherAlphabet(unpadded), raw);
  }
}

TEST(Base64, WhatEachDecoderAccepts) {
  const struct {
    std::string text;
    std::string skippingJunk;
    std::optional<std::string> eitherAlphabet;
  } cases[] = {
      {"YW\r\nJj\t", "abc", "abc"},        // line breaks and tabs are skipped by both
      {"YQ==YWJj", "a", "a"},              // decoding ends at the first "="
      {"YWJj=not base64!", "abc", "abc"},  // whatever follows "=" is never looked at
      {"Y", "", ""},                       // six bits give no byte
      {"YW Jj", "abc", std::nullopt},      // a blank is junk to one, damage to the other
      {"Y!W*J\x01j", "abc", std::nullopt},
      {"\xC3\xA4YWJj", "abc", std::nullopt},
      {"-_-_", "", std::string("\xfb\xff\xbf", 3)},  // the URL-safe alphabet...
      {"+/+/", std::string("\xfb\xff\xbf", 3), std::string("\xfb\xff\xbf", 3)},  // ...as + and /
      {"a-b_", "i", "k\xE6\xFF"},  // "-" and "_" are junk to the standard alphabet
  };
  for (const auto& [text, skippingJunk, eitherAlphabet] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64DecodeSkippingJunk(text), skippingJunk);
    EXPECT_EQ(base64DecodeEitherAlphabet(text), eitherAlphabet);
  }
}

TEST(Base64, LargeTextRoundTripsAcrossEncoderSlices) {
  std::string big(5 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
  const std::string encoded = base64Encode(big);
  EXPECT_EQ(encoded.size(), (big.size() + 2) / 3 * 4);
  EXPECT_EQ(base64DecodeSkippingJunk(encoded), big);
  EXPECT_EQ(base64DecodeEitherAlphabet(encoded), big);
}

}  // namespace
}  // namespace vm
