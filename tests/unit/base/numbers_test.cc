#include "base/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace vm {
namespace {

TEST(Numbers, DecimalIntegersByStrtollsRule) {
  const struct {
    std::string text;
    std::optional<long long> leading, whole;
    std::optional<int> asInt;
  } cases[] = {
      {"", std::nullopt, std::nullopt, std::nullopt},
      {"12", 12, 12, 12},
      {"+3", 3, 3, 3},
      {"-20", -20, -20, -20},
      {"007", 7, 7, 7},
      {"1300px", 1300, std::nullopt, 1300},
      {"-4x", -4, std::nullopt, -4},
      {"abc", std::nullopt, std::nullopt, std::nullopt},
      {"x5", std::nullopt, std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt, std::nullopt},
      {" \t\n1", 1, 1, 1},         // white space before the number is skipped...
      {"1 ", 1, std::nullopt, 1},  // ...but not after it
      {"$10", std::nullopt, std::nullopt, std::nullopt},
      {"2147483647", INT_MAX, INT_MAX, INT_MAX},
      {"-2147483649", -2147483649LL, -2147483649LL, std::nullopt},
      {"99999999999999999999", LLONG_MAX, LLONG_MAX, std::nullopt},
      {"-99999999999999999999", LLONG_MIN, LLONG_MIN, std::nullopt},
      {std::string("5\0x", 3), 5, std::nullopt, 5},
  };
  for (const auto& [text, leading, whole, asInt] : cases) {
    SCOPED_TRACE("[" + text + "]");
    EXPECT_EQ(leadingInteger(text), leading);
    EXPECT_EQ(wholeInteger(text), whole);
    EXPECT_EQ(leadingInt(text), asInt);
  }
}

TEST(Numbers, HexDigitValues) {
  const std::pair<char, int> cases[] = {{'0', 0},  {'9', 9},   {'a', 10},   {'F', 15}, {'f', 15},
                                        {'g', -1}, {'G', -1},  {'/', -1},   {':', -1}, {'@', -1},
                                        {'`', -1}, {'\0', -1}, {'\xC3', -1}};
  for (const auto& [c, value] : cases) EXPECT_EQ(hexDigitValue(c), value) << c;
}

TEST(Numbers, ValIntegersWithRadixPrefixes) {
  const struct {
    std::string text;
    long long value;
  } cases[] = {
      {"1", 1},
      {"0", 0},
      {"no", 0},
      {"", 0},
      {" \t 7x", 7},
      {"+3", 3},
      {"-2", -2},
      {"$1F", 31},
      {"$ff", 255},
      {"%101", 5},
      {"%102", 2},  // "2" is no binary digit and ends the number
      {"$", 0},
      {"-$10", -16},
      {"$-10", 0},
      {"1 2", 1},
      {"\n1", 0},  // only blanks and tabs are skipped
      {"12$", 12},
      {"99999999999999999999999999", LLONG_MAX},
      {"-$FFFFFFFFFFFFFFFFFF", LLONG_MIN},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(valInteger(text), value) << "[" << text << "]";
  }
}

}  // namespace
}  // namespace vm
