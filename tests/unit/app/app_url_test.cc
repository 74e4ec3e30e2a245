#include "app/app_url.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vm
