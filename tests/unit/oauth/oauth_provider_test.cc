#include "oauth/oauth_provider.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace vm {
namespace {

OAuthConfig sampleConfig() {
  OAuthConfig c;
  c.msClientId = "0b1c2d3e-aaaa-bbbb-cccc-0123456789ab";
  c.msLoginHost = "login.ms.test";
  c.msScopeHost = "outlook.ms.test";
  c.googleClientId = "123456789012-abcdefghijklmnopqrstuvwxyz012345.apps.g.test";
  c.googleClientSecret = "secret with space+plus";
  c.googleAuthHost = "accounts.g.test";
  c.googleTokenHost = "token.g.test";
  c.googleScopeHost = "apis.g.test";
  return c;
}

TEST(OAuthProviderTable, HoldsBothProvidersWithTheFixedPathsAndOneRedirect) {
  const OAuthProviderTable table = makeOAuthProviderTable(sampleConfig());
  ASSERT_EQ(table.size(), 2u);
  const OAuthProvider& ms = table.at("MS");
  EXPECT_EQ(ms.clientId, "0b1c2d3e-aaaa-bbbb-cccc-0123456789ab");
  EXPECT_EQ(ms.clientSecret, "");
  EXPECT_EQ(ms.authorizationUrl, "https://login.ms.test/consumers/oauth2/v2.0/authorize");
  EXPECT_EQ(ms.tokenUrl, "https://login.ms.test/consumers/oauth2/v2.0/token");
  EXPECT_EQ(ms.redirectUri, "http://localhost:8100/tessel");
  EXPECT_EQ(ms.scope, "https://outlook.ms.test/SMTP.Send offline_access");
  const OAuthProvider& google = table.at("GOOGLE");
  EXPECT_EQ(google.clientSecret, "secret with space+plus");
  EXPECT_EQ(google.authorizationUrl, "https://accounts.g.test/o/oauth2/auth");
  EXPECT_EQ(google.tokenUrl, "https://token.g.test/token");
  EXPECT_EQ(google.redirectUri, "http://localhost:8100/tessel");
  EXPECT_EQ(google.scope, "https://apis.g.test/auth/gmail.send");
  EXPECT_EQ(findOAuthProvider(table, "ms"), nullptr);
}

TEST(OAuthProviderTable, BuildConfigurationKeepsTheLoopbackRedirect) {
  const OAuthProviderTable table = makeOAuthProviderTable();
  for (const char* key : {"MS", "GOOGLE"}) {
    EXPECT_EQ(table.at(key).redirectUri, "http://localhost:8100/tessel");
  }
  EXPECT_EQ(table.at("MS").clientSecret, "");
}

TEST(ComposeAuthorizationUrl, ParametersInOrderHintOnlyWhenGiven) {
  const OAuthProviderTable table = makeOAuthProviderTable(sampleConfig());
  const std::string state = "xsf12345678901234567890";
  const struct {
    const char* key;
    std::string hint;
    std::string url;
  } cases[] = {
      {"MS", "",
       "https://login.ms.test/consumers/oauth2/v2.0/authorize?response_type=code&"
       "client_id=0b1c2d3e-aaaa-bbbb-cccc-0123456789ab&"
       "redirect_uri=http://localhost:8100/tessel&"
       "scope=https://outlook.ms.test/SMTP.Send%20offline_access&"
       "state=xsf12345678901234567890"},
      {"GOOGLE", "a b+c@x.test&y=z",
       "https://accounts.g.test/o/oauth2/auth?response_type=code&"
       "client_id=123456789012-abcdefghijklmnopqrstuvwxyz012345.apps.g.test&"
       "login_hint=a%20b%2Bc@x.test&y=z&"
       "redirect_uri=http://localhost:8100/tessel&"
       "scope=https://apis.g.test/auth/gmail.send&"
       "state=xsf12345678901234567890"},
  };
  for (const auto& [key, hint, url] : cases) {
    test::LogCapture log;
    EXPECT_EQ(composeAuthorizationUrl(table.at(key), state, hint), url);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Compiled oauth url: [" + url + "]"});
  }
}

}  // namespace
}  // namespace vm
