#include "base/bridge_json.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(BridgeJson, EscapesTheEightCharactersAndOtherControlsAsUnicode) {
  EXPECT_EQ(jsonEscape("\b\t\n\f\r\"/\\"), R"(\b\t\n\f\r\"\/\\)");
  EXPECT_EQ(jsonEscape(std::string("a\x01z\x1f", 4)), R"(a\u0001z\u001F)");
  EXPECT_EQ(jsonEscape("Grüße €"), "Grüße €");
  EXPECT_EQ(jsonStringAnswer(""), "\"\"");
  // Every answer must parse back to the original text.
  std::string all;
  for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Json::parse(jsonStringAnswer(all)).get<std::string>(), all);
}

TEST(BridgeJson, FixedPointText) {
  const std::pair<double, const char*> cases[] = {
      {2.50, "2.5"}, {3, "3"}, {0.5, "0.5"}, {0, "0"}, {-0.0, "0"}, {1.0, "1"},
      {-7.125, "-7.125"}, {0.00000000001, "0"}, {123456789.5, "123456789.5"},
  };
  for (const auto& [number, text] : cases) EXPECT_EQ(fixedPointText(number), text) << number;
}

TEST(BridgeJson, ValueAtPath) {
  Json doc = Json::parse(R"({"a":[10,20],"v":{"w":{"32":[{"version":"5.1"}]}}})");
  const std::pair<const char*, const char*> found[] = {
      {"a\\[1]", "20"}, {"a\\[]", "10"}, {"v\\w\\32\\[0]\\version", "\"5.1\""}, {"", nullptr},
  };
  for (const auto& [path, dump] : found) {
    const Json* v = jsonValueAtPath(&doc, path);
    ASSERT_NE(v, nullptr) << path;
    if (dump) {
      EXPECT_EQ(v->dump(), dump) << path;
    }
  }
  for (const char* path : {"a\\[2]", "a\\[-1]", "a\\b", "missing", "a\\[1]\\x", "v\\"})
    EXPECT_EQ(jsonValueAtPath(&doc, path), nullptr) << path;
  EXPECT_EQ(jsonValueAtPath(nullptr, "a"), nullptr);
}

TEST(BridgeJson, TextAtPath) {
  Json doc = Json::parse(R"({"one":1.0,"t":true,"n":null,"s":"x","arr":[1],"obj":{}})");
  EXPECT_EQ(jsonTextAtPath(&doc, "one", ""), "1");
  EXPECT_EQ(jsonTextAtPath(&doc, "t", ""), "true");
  EXPECT_EQ(jsonTextAtPath(&doc, "n", ""), "null");
  EXPECT_EQ(jsonTextAtPath(&doc, "s", "'"), "'x'");
  EXPECT_EQ(jsonTextAtPath(&doc, "arr", ""), "");
  EXPECT_EQ(jsonTextAtPath(&doc, "obj", ""), "");
  EXPECT_EQ(jsonTextAtPath(&doc, "missing", "'"), "");
  EXPECT_EQ(jsonTextAtPath(nullptr, "s", "'"), "");
}

TEST(BridgeJson, ArgumentsMustBeAnArray) {
  EXPECT_TRUE(parseBridgeArgs("[]"));
  EXPECT_TRUE(parseBridgeArgs(R"([1,"a",null])"));
  EXPECT_FALSE(parseBridgeArgs("{}"));
  EXPECT_FALSE(parseBridgeArgs("[1,"));
  EXPECT_FALSE(parseBridgeArgs(""));
}

}  // namespace
}  // namespace vm
