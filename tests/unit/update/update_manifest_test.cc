#include "update/update_manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

constexpr const char* kClientVersion = " 5.0.0-140";

struct VersionCase {
  const char* a;
  const char* b;
  int expected;
};

TEST(CompareVersions, FieldByFieldAsWholeNumbers) {
  const VersionCase cases[] = {
      // A manifest version against the client's version text.
      {"5.0.1-150", kClientVersion, 1},   // third field 1 > 0
      {"V5.0.0_140", kClientVersion, 0},  // v dropped, _ separates
      {"5.0.0", kClientVersion, -1},      // fourth field empty reads 0 < 140
      {"5.1beta", kClientVersion, 1},     // "1beta" reads 1
      {"6", kClientVersion, 1},
      {"5.0.0-140", kClientVersion, 0},  // the blank in front is skipped
      {"5.0.0-139", kClientVersion, -1},
      // Fields beyond the end read 0; both empty ends the comparison.
      {"5.0.0.140.0", kClientVersion, 0},
      {"", "", 0},
      {"", "0", 0},
      {"1..2", "1.0.2", 0},
      {"v", "", 0},
      // Blanks and tabs before the digits, a plus sign; "-" separates, so it is
      // never a sign.
      {"\t+7", "7", 0},
      {"7-1", "7.1", 0},
      {"x7", "0", 0},
      // Signed 32-bit values: larger numbers saturate.
      {"99999999999", "2147483647", 0},
      {"99999999999", "2147483646", 1},
  };
  for (const auto& [a, b, expected] : cases) {
    EXPECT_EQ(compareVersions(a, b), expected) << '"' << a << "\" vs \"" << b << '"';
    EXPECT_EQ(compareVersions(b, a), -expected) << '"' << b << "\" vs \"" << a << '"';
  }
}

TEST(ManifestEntryPath, NamesThePlatformAndBitness) {
  EXPECT_EQ(manifestEntryPath("linux deb", "64"), "velomark\\linux deb\\64\\[0]\\");
}

TEST(ParseJsonDocument, TheFailureCarriesTheParsersMessageAndItsLine) {
  struct Case {
    std::string text;
    int line;
  };
  const Case cases[] = {
      {"not found", 1},
      {"{\n  \"velomark\": {\n    \"linux deb\": x\n  }\n}", 3},
      {"{\n\"a\": 1,\n", 3},  // the end of the input is where it stops
      {"{\"a\": 1} trailing", 1},
  };
  for (const auto& [text, line] : cases) {
    Result<Json> parsed = parseJsonDocument(text);
    ASSERT_FALSE(parsed) << text;
    EXPECT_EQ(parsed.failure().code, line) << text;
    // The parser's own message names the same line.
    EXPECT_NE(parsed.message().find("parse error at line " + std::to_string(line) + ","),
              std::string::npos)
        << parsed.message();
  }
  Result<Json> good = parseJsonDocument("{\"a\": [1, 2]}");
  ASSERT_TRUE(good);
  EXPECT_EQ((*good)["a"][1], 2);
}

}  // namespace
}  // namespace vm
