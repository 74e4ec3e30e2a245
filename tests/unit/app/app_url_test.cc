#include "app/app_url.h"

#include <gtest/gtest.h>

#include "net/http_client.h"

namespace vm {
namespace {

TEST(AppUrl, ServerNumberReplacesEveryPlaceholder) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"app%id%.example", 2, "app2.example"},
      {"127.0.0.%id%:8443", 3, "127.0.0.3:8443"},
      {"https://s%id%.x/%id%/", 1, "https://s1.x/1/"},
      {"plain.example", 1, "plain.example"},
      {"%id%%id", 2, "2%id"},
  };
  for (const auto& [text, n, expected] : cases) EXPECT_EQ(withServerNumber(text, n), expected);
}

// The probe hands its request to the transfer it is given and judges the
// answer that comes back as it judges its own transfer's.
TEST(AppUrl, ProbeRunsThroughTheTransferItIsGiven) {
  struct Case {
    long status;
    const char* body;
    bool skipChecks;
    bool expected;
  };
  const Case cases[] = {
      {200, "OK", false, true},   {200, "OK", true, true},    {200, "OK\n", false, false},
      {200, "ok", false, false},  {404, "OK", false, false},
  };
  HttpClient http("");
  for (const Case& c : cases) {
    HttpRequest seen;
    ProbeTransfer transfer = [&](const HttpClient&, const HttpRequest& request) {
      seen = request;
      HttpResult result;
      result.ok = true;
      result.status = c.status;
      result.body = c.body;
      return result;
    };
    const std::string url = "https://127.0.0.1:1/pc/check.html?t=123456";
    EXPECT_EQ(iCheckURLExists(http, url, c.skipChecks, transfer), c.expected) << c.body << c.status;
    EXPECT_EQ(seen.url, url);
    EXPECT_EQ(seen.verifyCertificates, !c.skipChecks);
  }
}

}  // namespace
}  // namespace vm
