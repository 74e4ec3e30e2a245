#include "oauth/redirect_request.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"
#include "net/http_client.h"
#include "oauth/authorization.h"

namespace vm {
namespace {

const std::string kState = "xsf12345678901234567890";

std::string get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost:8100\r\nUser-Agent: test\r\n\r\n";
}

TEST(ParseRedirectRequest, ReadsCodeStateAndErrorFromTheRequestLine) {
  const struct {
    std::string request;
    std::string code;
    bool confirmed;
    bool error;
  } cases[] = {
      {get("/tessel?code=abc&state=" + kState), "abc", true, false},
      {get("/tessel?state=" + kState + "&code=abc"), "abc", true, false},
      {get("/tessel?code=4%2F0Ab+x%2bY&state=" + kState), "4/0Ab x+Y", true, false},
      {get("/tessel?code=one&code=two&state=" + kState), "two", true, false},
      {get("/tessel?code=a=b=c&state=" + kState), "a", true, false},  // value cut at "="
      {get("/tessel?code=abc&state=XSF12345678901234567890"), "abc", false, false},
      {get("/tessel?code=abc&state=" + kState + "0"), "abc", false, false},
      {get("/tessel?code=abc"), "abc", false, false},
      {get("/tessel?error=access_denied&state=" + kState), "", true, true},
      {get("/other/path?state=" + kState), "", true, false},
      {get("/tessel"), "", false, false},
      {get("/tessel?Code=abc&STATE=" + kState), "", false, false},  // keys are case-sensitive
      // Only a line that starts with exactly "GET " counts.
      {"POST /tessel?code=abc&state=" + kState + " HTTP/1.1\r\n\r\n", "", false, false},
      {"get /tessel?code=abc&state=" + kState + " HTTP/1.1\r\n\r\n", "", false, false},
      {"X: y\nGET /tessel?code=late&state=" + kState + " HTTP/1.1\r\n", "late", true, false},
      // Without a space after the query the line's end (CR included) belongs to it.
      {"GET /tessel?state=" + kState + "&code=abc\r\n", "abc\r", true, false},
      {"GET /tessel?code=abc&state=" + kState + "\r\n", "abc", false, false},
      {"", "", false, false},
      {std::string("GET /tessel?code=a\0b&state=", 27) + kState + " HTTP/1.1\r\n",
       std::string("a\0b", 3), true, false},
  };
  for (const auto& [request, code, confirmed, error] : cases) {
    const RedirectParameters p = parseRedirectRequest(request, kState);
    EXPECT_EQ(p.code, code) << request;
    EXPECT_EQ(p.stateConfirmed, confirmed) << request;
    EXPECT_EQ(p.errorReported, error) << request;
  }
}

TEST(ParseRedirectRequest, LogsErrorsCodeArrivalAndEveryOtherKey) {
  test::LogCapture log;
  parseRedirectRequest(get("/tessel?state=" + kState +
                           "&error=invalid_scope&error_description=Bad+scope%21"
                           "&code=x&scope=https%3A%2F%2Fmail.google.com%2F&flag"),
                       kState);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "WARN: Got error invalid_scope",
                             "WARN: Got error_description Bad scope!",
                             "Successfully got an auth token code answer",
                             "Ignored header key: scope value: https://mail.google.com/",
                             "Ignored header key: flag value: ",
                         }));
}

class AuthorizationResult : public ::testing::Test {
 protected:
  OAuthProviderTable providers = makeOAuthProviderTable();
  std::string refresh = "kept-refresh";
  HttpClient http{""};
  OAuthContext context{providers, kState, refresh, http, nullptr};
};

TEST_F(AuthorizationResult, ValidStateGivesTheCodeAndKeepsTheRefreshToken) {
  test::LogCapture log;
  EXPECT_EQ(authorizationCodeFrom(context, get("/tessel?code=c%2F1&state=" + kState)).valueOr("-"),
            "c/1");
  EXPECT_EQ(refresh, "kept-refresh");
  EXPECT_EQ(log.lines().back(), "Successfully got auth token: [c/1]");
  // A valid state without a code is an empty code, not an error.
  EXPECT_EQ(authorizationCodeFrom(context, get("/tessel?state=" + kState)).valueOr("-"), "");
}

TEST_F(AuthorizationResult, NoRequestTextLeavesTheRefreshToken) {
  Result<std::string> code = authorizationCodeFrom(context, "");
  ASSERT_FALSE(code);
  EXPECT_EQ(code.message(),
            "Failed to retrieve token (network? Wrong ID provider? Firewall? Antivirus?)");
  EXPECT_EQ(refresh, "kept-refresh");
}

TEST_F(AuthorizationResult, BadStateOrProviderErrorClearsTheRefreshToken) {
  for (const std::string& request : {get("/tessel?code=c&state=XSF12345678901234567890"),
                                     get("/tessel?code=c&state=" + kState + "&error=access_denied"),
                                     std::string("no request line at all")}) {
    refresh = "kept-refresh";
    test::LogCapture log;
    Result<std::string> code = authorizationCodeFrom(context, request);
    ASSERT_FALSE(code);
    EXPECT_EQ(code.message(), "Failed xsf validation (state invalid)");
    EXPECT_EQ(refresh, "");
    EXPECT_EQ(log.lines().back(),
              "WARN: Failed xsf validation (state value was missing or not the same as the sent "
              "one)");
  }
}

}  // namespace
}  // namespace vm
