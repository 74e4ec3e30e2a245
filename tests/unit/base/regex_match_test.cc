#include "base/regex_match.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/app_url.h"
#include "support/log_capture.h"

namespace vm {
namespace {

TEST(MatchRegex, DeveloperSettingPattern) {
  const std::pair<const char*, bool> cases[] = {
      {"dev1:8443", true}, {"a.b-c:12", true},    {"dev1:99999", true},   {"Dev1:8443", false},
      {"dev1", false},     {"dev1:8", false},     {"dev1:123456", false}, {"dev_1:8443", false},
      {":8443", false},    {"dev1:8443x", false}, {"dev1:84a3", false},   {"", false},
      {"dev1:٣٣٣", false},  // \d is ASCII digits only
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(matchRegex(text, kDeveloperSettingPattern), expected) << text;
  }
}

TEST(MatchRegex, CaseSensitiveAndUnanchoredUnlessThePatternSaysSo) {
  EXPECT_TRUE(matchRegex("xxPAC:yy", "PAC:"));
  EXPECT_FALSE(matchRegex("pac:", "PAC:"));
  EXPECT_FALSE(matchRegex("invalid \xff utf-8", "utf"));
}

TEST(MatchRegex, InvalidPatternIsLoggedAndMatchesNothing) {
  test::LogCapture log;
  std::vector<std::string> groups{"stale"};
  EXPECT_FALSE(matchRegex("abc", "a(b"));
  EXPECT_EQ(regexGroups("abc", "[a", groups), 0);
  EXPECT_TRUE(groups.empty());

  EXPECT_EQ(log.text(), "ERROR: Invalid RegEx a(b\r\nERROR: Invalid RegEx [a\r\n");
}

TEST(RegexGroups, GroupsOfTheFirstMatchTrimmed) {
  const std::string proxyPattern =
      "^((?:http|https|socks|socks4|socks5):\\/\\/.*):(\\d{2,5})\\s*?(.*?)$";
  struct Case {
    std::string text;
    int count;
    std::vector<std::string> groups;
  };
  const Case cases[] = {
      {"http://10.0.0.8:8080", 3, {"", "http://10.0.0.8", "8080", ""}},
      {"http://h:8080  User:Pa ss", 3, {"", "http://h", "8080", "User:Pa ss"}},
      // Digits-only password: the last colon-and-digits run is the port.
      {"http://h:8080 user:1234", 3, {"", "http://h:8080 user", "1234", ""}},
      {"http://10.0.0.8", 0, {}},
  };
  for (const auto& [text, count, expected] : cases) {
    std::vector<std::string> groups;
    EXPECT_EQ(regexGroups(text, proxyPattern, groups), count) << text;
    if (count > 0) {
      EXPECT_EQ(groups, expected) << text;
    }
  }
  std::vector<std::string> groups;
  EXPECT_EQ(regexGroups("b", "(a)?(b)", groups), 2);
  EXPECT_EQ(groups, (std::vector<std::string>{"", "", "b"}));
}

}  // namespace
}  // namespace vm
