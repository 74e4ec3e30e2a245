#include "base/result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace vm {
namespace {

Result<int> half(int n) {
  if (n % 2 != 0) return fail("odd number " + std::to_string(n), 7);
  return n / 2;
}

TEST(Result, CarriesTheValueOrTheFailure) {
  Result<int> even = half(8);
  ASSERT_TRUE(even.ok());
  EXPECT_EQ(*even, 4);
  EXPECT_EQ(even.valueOr(-1), 4);

  Result<int> odd = half(3);
  ASSERT_FALSE(odd);
  EXPECT_EQ(odd.message(), "odd number 3");
  EXPECT_EQ(odd.failure().code, 7);
  EXPECT_EQ(odd.valueOr(-1), -1);
}

TEST(Result, StatusHasNoValue) {
  Status done;
  EXPECT_TRUE(done.ok());
  Status refused = fail("refused");
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.message(), "refused");
}

TEST(Result, FailFromErrnoNamesTheCallAndKeepsTheNumber) {
  errno = ENOENT;
  Failure f = failFromErrno("open [x]");
  EXPECT_EQ(f.message, "open [x]: No such file or directory");
  EXPECT_EQ(f.code, ENOENT);
}

Result<std::string> greeting(bool polite) {
  if (polite) return "good morning";
  return fail("no greeting");
}

TEST(Result, TakesWhatConvertsToItsValue) {
  EXPECT_EQ(*greeting(true), "good morning");
  EXPECT_EQ(greeting(false).message(), "no greeting");
}

}  // namespace
}  // namespace vm
