#include "net/regex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

class RegexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    processLog().setPath(dir_.path() + "log.txt");
    processLog().open();
  }
  void TearDown() override { processLog().close(); }
  std::string log() const { return test::readFile(dir_.path() + "log.txt"); }
  test::TempDir dir_;
};

TEST_F(RegexTest, MatchRegexIsCaseSensitiveAndSearchesAnywhere) {
  const struct {
    const char* text;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"pac:https://example.org/p.pac", R"(^pac:(http:\/\/|https:\/\/|\\\\).*$)", true},
      {"pac:\\\\server\\p.pac", R"(^pac:(http:\/\/|https:\/\/|\\\\).*$)", true},
      {"PAC:https://example.org", R"(^pac:(http:\/\/|https:\/\/|\\\\).*$)", false},
      {"http://proxy.local:8080", R"(^(http|https|socks|socks4):\/\/[a-zA-Z0-9\.\-\_\/]+:\d{2,5}\s*.*$)", true},
      {"http://proxy.local:8", R"(^(http|https|socks|socks4):\/\/[a-zA-Z0-9\.\-\_\/]+:\d{2,5}\s*.*$)", false},
      {"zürich", "ü", true},
      {"", "^$", true},
  };
  for (const auto& c : cases) EXPECT_EQ(matchRegex(c.text, c.pattern), c.matches) << c.text;
}

TEST_F(RegexTest, PatternThatDoesNotCompileIsLoggedAndCountsAsNoMatch) {
  std::vector<std::string> groups{"stale"};
  EXPECT_FALSE(matchRegex("abc", "a(b"));
  EXPECT_EQ(regexGroups("abc", "[z-a]", groups), 0);
  EXPECT_TRUE(groups.empty());
  EXPECT_EQ(log(), "ERROR: Invalid RegEx a(b\r\nERROR: Invalid RegEx [z-a]\r\n");
}

TEST_F(RegexTest, RegexGroupsGivesTrimmedGroupsOfTheFirstMatch) {
  const char* proxy = R"(^((?:http|https|socks|socks4|socks5):\/\/.*):(\d{2,5})\s*?(.*?)$)";
  std::vector<std::string> groups;
  ASSERT_EQ(regexGroups("http://10.0.0.1:3128:8080 user:secret ", proxy, groups), 3);
  EXPECT_EQ(groups, (std::vector<std::string>{"", "http://10.0.0.1:3128", "8080", "user:secret"}));

  // A group that took part in nothing is empty text.
  ASSERT_EQ(regexGroups("ac", "a(b)?(c)", groups), 2);
  EXPECT_EQ(groups, (std::vector<std::string>{"", "", "c"}));

  EXPECT_EQ(regexGroups("socks9://x:80", proxy, groups), 0);
  EXPECT_TRUE(groups.empty());
  EXPECT_EQ(log(), "");
}

TEST(RegexClass, ReportsLimitInsteadOfNoMatch) {
  Regex nested("(a+)+b");
  ASSERT_TRUE(nested.valid());
  std::string subject = std::string(40, 'a') + "cb";
  EXPECT_EQ(nested.find(subject, 0, 1000).status, RegexStatus::LimitHit);
  EXPECT_EQ(nested.find("aab", 0).status, RegexStatus::Match);
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
  EXPECT_FALSE(isValidUtf8("\xC3"));
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_TRUE(isValidUtf8("\xC3\xA9\xF0\x9F\x98\x80"));
  EXPECT_EQ(any.find("\xC3x", 0).status, RegexStatus::Error);
  EXPECT_FALSE(matchRegex("\xC3x", "x"));
}

}  // namespace
}  // namespace vm
