#include <gtest/gtest.h>

#include "platform/webview.h"

namespace vm {
namespace {

TEST(OriginOf, SchemeHostAndPortOnly) {
  const struct {
    const char* url;
    const char* origin;
  } cases[] = {
      {"https://app1.example.org/pc/velomark.html?o=1", "https://app1.example.org"},
      {"HTTPS://App1.Example.ORG:8443/x#y", "https://app1.example.org:8443"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
      {"https://host:443/a", "https://host"},       // default port names the same origin
      {"http://host:80?q", "http://host"},
      {"http://host:8080/a", "http://host:8080"},  // other ports do not
      {"https://user:pw@evil.example/", "https://evil.example"},
      {"https://good.example@evil.example/", "https://evil.example"},
      {"about:blank", ""},
      {"file:///tmp/x.html", ""},
      {"", ""},
  };
  for (const auto& [url, origin] : cases) EXPECT_EQ(originOf(url), origin) << url;
}

}  // namespace
}  // namespace vm
