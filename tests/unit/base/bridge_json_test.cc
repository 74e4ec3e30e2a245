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

// Bytes written by another program reach answers as valid UTF-8, each
// invalid byte as U+FFFD, so the page can always parse the answer.
TEST(BridgeJson, InvalidUtf8BecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"a\xFFz", "a" + r + "z"},                      // never part of UTF-8
      {"x\xC3", "x" + r},                             // cut sequence at the end
      {"\xC3(", r + "("},                             // cut sequence before ASCII
      {"\xC0\xAF", r + r},                           // overlong "/"
      {"\xED\xA0\x80", r + r + r},                  // an encoded surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},         // past U+10FFFF
      {"ok \xE2\x82\xAC \xF0\x9F\x98\x80", "ok € 😀"},  // valid text is kept
  };
  for (const auto& [bytes, text] : cases) {
    const std::string answer = jsonStringAnswer(bytes);
    Json parsed = Json::parse(answer, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << answer;
    EXPECT_EQ(parsed.get<std::string>(), text) << answer;
  }
}

// JSON.stringify writes half a surrogate pair as an escape that strict
// parsers refuse; the half reads as U+FFFD and the call goes on.
TEST(BridgeJson, LoneSurrogateEscapesReadAsReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<const char*, std::string> cases[] = {
      {R"(["cut \ud83d"])", "cut " + r},
      {R"(["\uDE00 low first"])", r + " low first"},
      {R"(["\ud83d\ude00"])", "😀"},
      {R"(["\ud83d\ud83d\ude00"])", r + "😀"},
      {R"(["\ud83dx\ude00"])", r + "x" + r},
      {R"(["\\ud83d"])", "\\ud83d"},  // an escaped backslash, then plain letters
      {R"(["\"\ud800\""])", "\"" + r + "\""},
      {R"(["\u00e9\u20AC"])", "é€"},
  };
  for (const auto& [args, text] : cases) {
    auto parsed = parseBridgeArgs(args);
    ASSERT_TRUE(parsed) << args;
    ASSERT_EQ(parsed->size(), 1u) << args;
    EXPECT_EQ((*parsed)[0].get<std::string>(), text) << args;
  }
  // Keys of objects and later elements are read the same way; text outside
  // strings is left to the parser.
  auto parsed = parseBridgeArgs(R"([{"\udc00": "\ud800"}, "b"])");
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)[0].begin().key(), r);
  EXPECT_EQ((*parsed)[0].begin().value(), r);
  EXPECT_EQ((*parsed)[1], "b");
  EXPECT_FALSE(parseBridgeArgs(R"([\ud800])"));
  EXPECT_EQ(replaceLoneSurrogateEscapes(R"(["\u12"])"), R"(["\u12"])");
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
