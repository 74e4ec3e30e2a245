#include "base/regex.h"

#include <gtest/gtest.h>

#include <string>


namespace vm {
namespace {

TEST(RegexClass, ReportsLimitInsteadOfNoMatch) {
  Regex nested("(a+)+b");
  ASSERT_TRUE(nested.valid());
  std::string subject = std::string(40, 'a') + "cb";
  EXPECT_EQ(nested.find(subject, 0, 1000).status, RegexStatus::LimitHit);
  EXPECT_EQ(nested.find("aab", 0).status, RegexStatus::Match);
}

TEST(RegexClass, InvalidPatternIsNotValid) {
  EXPECT_FALSE(Regex("a(b").valid());
  EXPECT_EQ(Regex("a(b").find("ab", 0).status, RegexStatus::Error);
}

TEST(RegexClass, GroupsOfAMatch) {
  Regex r("a(b)?(c)");
  RegexFind f = r.find("xxac", 0);
  ASSERT_EQ(f.status, RegexStatus::Match);
  EXPECT_EQ(f.start(), 2u);
  EXPECT_EQ(f.end(), 4u);
  EXPECT_EQ(f.starts[1], std::string::npos);
  EXPECT_EQ(f.starts[2], 3u);
  EXPECT_EQ(r.find("xxac", 3).status, RegexStatus::NoMatch);
}

TEST(RegexClass, DotStopsAtCrAndLf) {
  Regex dot("a.b");
  EXPECT_EQ(dot.find("a\rb", 0).status, RegexStatus::NoMatch);
  EXPECT_EQ(dot.find("a\nb", 0).status, RegexStatus::NoMatch);
  Regex dotAll("a.b", kRegexDotAll);
  EXPECT_EQ(dotAll.find("a\rb", 0).status, RegexStatus::Match);
}

TEST(RegexClass, InvalidUtf8SubjectIsAnErrorNotACrash) {
  Regex any("x");
  EXPECT_EQ(any.find("\xC3x", 0).status, RegexStatus::Error);
}

}  // namespace
}  // namespace vm
