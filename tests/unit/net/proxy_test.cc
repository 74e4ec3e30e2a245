#include "net/proxy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "platform/webview.h"
#include "settings/preferences.h"
#include "support/log_capture.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

constexpr const char* kInvalidConfiguration =
    "Invalid proxy configuration. Cannot parse the three needed values. Check format!";

TEST(Proxy, ManualFormsResolveToHostPortAndCredentials) {
  struct Case {
    const char* setting;
    bool parses;
    const char* address;
    const char* host;
    int port;
    const char* user;
    const char* password;
    const char* effective;
  };
  const Case cases[] = {
      {"http://10.0.0.8:8080", true, "http://10.0.0.8:8080", "http://10.0.0.8", 8080, "", "",
       "http://10.0.0.8:8080"},
      {"http://proxy.corp:3128 ProxyUser:S3cret", true, "http://proxy.corp:3128",
       "http://proxy.corp", 3128, "ProxyUser", "S3cret", "http://proxy.corp:3128 ProxyUser:S3cret"},
      // A password of two to five digits only is taken for the port: the
      // host runs up to the last colon and the credentials come out empty.
      {"http://10.0.0.8:8080 user:12345", true, "http://10.0.0.8:8080 user:12345",
       "http://10.0.0.8:8080 user", 12345, "", "", "http://10.0.0.8:8080 user:12345"},
      {"socks5://10.0.0.1:1080", true, "socks5://10.0.0.1:1080", "socks5://10.0.0.1", 1080, "", "",
       "socks5://10.0.0.1:1080"},
      // No range check on the port.
      {"https://p.example:99999", true, "https://p.example:99999", "https://p.example", 99999, "",
       "", "https://p.example:99999"},
      // A colon inside the password cuts it; no colon leaves the password empty.
      {"http://p:8080 u:pa:ss", true, "http://p:8080", "http://p", 8080, "u", "pa", "http://p:8080 u:pa"},
      {"http://p:8080 onlyuser", true, "http://p:8080", "http://p", 8080, "onlyuser", "",
       "http://p:8080 onlyuser"},
      {"http://10.0.0.8", false, "", "", 0, "", "", ""},
      {"http://10.0.0.8:8", false, "", "", 0, "", "", ""},
      {"ftp://10.0.0.8:21", false, "", "", 0, "", "", ""},
      {"10.0.0.8:8080", false, "", "", 0, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting);
    std::optional<ProxySettings> proxy = parseManualProxy(c.setting);
    ASSERT_EQ(proxy.has_value(), c.parses);
    if (!c.parses) continue;
    EXPECT_EQ(proxy->address, c.address);
    EXPECT_EQ(proxy->host, c.host);
    EXPECT_EQ(proxy->port, c.port);
    EXPECT_EQ(proxy->user, c.user);
    EXPECT_EQ(proxy->password, c.password);
    EXPECT_EQ(effectiveProxyText(*proxy), c.effective);
  }
}

TEST(Proxy, PrefixAndSchemeAreReadInAnyCaseAndUsedInLowerCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTP://Proxy.Corp:3128 User:Pw", "http://Proxy.Corp:3128 User:Pw"},
      {"SOCKS5://H:1080", "socks5://H:1080"},
      {"PAC:HTTPS://Pac.Example/Proxy.pac U:P", "pac:https://Pac.Example/Proxy.pac U:P"},
      {"Pac:\\\\Server\\Share\\p.pac", "pac:\\\\Server\\Share\\p.pac"},
      {"http://h:80", "http://h:80"},
      {"no scheme here", "no scheme here"},
  };
  for (const auto& [setting, expected] : cases) EXPECT_EQ(withLowerCaseScheme(setting), expected);
}

TEST(Proxy, CredentialsLineNamesTheUserAndHidesThePassword) {
  EXPECT_EQ(proxyCredentialsLogLine("ProxyUser", "S3cret"),
            "Setting proxy credentials [ProxyUser] / [***]");
  EXPECT_EQ(proxyCredentialsLogLine("ProxyUser", ""), "Setting proxy credentials [ProxyUser] / []");
  EXPECT_EQ(proxyCredentialsLogLine("", ""), "Setting proxy credentials [] / []");
}

// The real preferences, HTTP client and log; a PAC resolver that answers
// from a script and counts its calls.
class ApplyProxy : public ::testing::Test {
 protected:
  void setSetting(const std::string& value) { prefs.writeSetting("proxy", value, kUnnamedGroup); }
  void apply(const std::string& url = "https://app1.example/pc/") {
    ProxyContext context{prefs,          dialogs,    http, webViewProxy,
                         effectiveProxy, remembered, [this](const std::string& setting,
                                                            const std::string& url) {
                           pacCalls.push_back(setting + " @ " + url);
                           return pacAnswer;
                         }};
    applyProxySettings(context, url);
  }
  // What the web view, the HTTP client and getHostInfo got, in one line.
  std::string handedOver() const {
    const HttpProxy& h = http.proxy();
    return "web view [" + webViewProxy.host + "] [" + std::to_string(webViewProxy.port) + "] [" +
           webViewProxy.user + "] [" + webViewProxy.password + "], HTTP [" + h.proxy + "] [" +
           h.user + "] [" + h.password + "], host info [" + effectiveProxy + "]";
  }

  test::TempDir dir;
  test::LogCapture log;
  Preferences prefs{dir.path()};
  test::RecordingDialogs dialogs;
  HttpClient http{""};
  WebViewProxy webViewProxy{"stale", 1, "stale", "stale"};
  std::string effectiveProxy = "stale";
  RememberedProxy remembered;
  std::optional<std::string> pacAnswer;
  std::vector<std::string> pacCalls;
};

TEST_F(ApplyProxy, ManualProxyReachesBothNetworkUsersWithItsCase) {
  setSetting("  http://Proxy.Corp:3128   ProxyUser:S3cret  ");
  apply();
  EXPECT_EQ(handedOver(),
            "web view [http://Proxy.Corp] [3128] [ProxyUser] [S3cret], "
            "HTTP [http://Proxy.Corp:3128] [ProxyUser] [S3cret], "
            "host info [http://Proxy.Corp:3128 ProxyUser:S3cret]");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "Setting proxy values [http://Proxy.Corp] / [3128]",
                             "Setting proxy credentials [ProxyUser] / [***]"}));
  EXPECT_EQ(log.text().find("S3cret"), std::string::npos);
  EXPECT_TRUE(dialogs.titledErrors.empty());
}

TEST_F(ApplyProxy, NoSettingOrAnUnparsableOneMeansNoProxyAtAll) {
  for (const char* setting : {"", "   ", "http://10.0.0.8"}) {
    SCOPED_TRACE(setting);
    setSetting(setting);
    http.setProxy({"http://old:1", "u", "p"});
    effectiveProxy = "stale";
    apply();
    EXPECT_EQ(handedOver(), "web view [] [8080] [] [], HTTP [] [] [], host info []");
    EXPECT_EQ(log.lines().back(), "Don't use proxy server");
  }
  // Only the setting without a port has something wrong to tell.
  ASSERT_EQ(dialogs.titledErrors.size(), 1u);
  EXPECT_EQ(dialogs.titledErrors[0].first, "PAC error");
  EXPECT_EQ(dialogs.titledErrors[0].second, kInvalidConfiguration);
}

TEST_F(ApplyProxy, PacSettingThatGaveAProxyIsNotEvaluatedAgainForTheSameUrl) {
  setSetting("PAC:https://pac.example/proxy.pac u:p");
  pacAnswer = "http://10.0.0.8:3128 u:p";
  apply();
  apply();
  EXPECT_EQ(pacCalls, (std::vector<std::string>{
                          "pac:https://pac.example/proxy.pac u:p @ https://app1.example/pc/"}));
  EXPECT_EQ(effectiveProxy, "http://10.0.0.8:3128 u:p");
  EXPECT_EQ(http.proxy().proxy, "http://10.0.0.8:3128");
  // Another URL is another question.
  apply("https://app1.example/pc-qa/");
  EXPECT_EQ(pacCalls.size(), 2u);
}

TEST_F(ApplyProxy, PacSettingThatGaveNoProxyIsEvaluatedAgainAtTheNextReload) {
  setSetting("pac:https://pac.example/proxy.pac");
  pacAnswer = std::nullopt;  // DIRECT, or a failure the resolver has told about
  apply();
  EXPECT_EQ(log.lines().back(), "Don't use proxy server");
  pacAnswer = "http://10.0.0.9:8080 ";
  apply();
  EXPECT_EQ(pacCalls.size(), 2u);
  EXPECT_EQ(handedOver(),
            "web view [http://10.0.0.9] [8080] [] [], HTTP [http://10.0.0.9:8080] [] [], "
            "host info [http://10.0.0.9:8080]");
}

TEST_F(ApplyProxy, PacAnswerThatDoesNotParseGivesTheBoxAndNoProxy) {
  setSetting("pac:https://pac.example/proxy.pac");
  pacAnswer = "http://10.0.0.9 ";
  apply();
  EXPECT_EQ(effectiveProxy, "");
  ASSERT_EQ(dialogs.titledErrors.size(), 1u);
  EXPECT_EQ(dialogs.titledErrors[0].second, kInvalidConfiguration);
}

}  // namespace
}  // namespace vm
