#include "platform/process_start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace vm {
namespace {

using namespace std::chrono_literals;

TEST(RunAndWait, AnswersTheExitStatus) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"-c", "exit 0"}, 0},
      {{"-c", "exit 3"}, 3},
      {{"-c", "kill -TERM $$"}, 128 + 15},
  };
  for (const auto& [args, status] : cases) {
    Result<std::optional<int>> ended = runAndWait("sh", args, 30s);
    ASSERT_TRUE(ended) << args[1];
    ASSERT_TRUE(ended->has_value()) << args[1];
    EXPECT_EQ(**ended, status) << args[1];
  }
}

TEST(RunAndWait, AProgramStillRunningAtTheLimitIsLeftToRun) {
  test::TempDir dir;
  const std::string mark = dir.path() + "finished";
  Result<std::optional<int>> ended =
      runAndWait("sh", {"-c", "sleep 1; touch '" + mark + "'"}, 100ms);
  ASSERT_TRUE(ended);
  EXPECT_FALSE(ended->has_value());
  // It was not ended at the limit: it goes on and does its work.
  struct stat st;
  for (int i = 0; i < 500 && stat(mark.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(stat(mark.c_str(), &st), 0);
}

TEST(RunAndWait, AProgramThatIsNotInstalledFails) {
  Result<std::optional<int>> ended = runAndWait("velomark-no-such-program", {}, 1s);
  ASSERT_FALSE(ended);
  EXPECT_NE(ended.message().find("velomark-no-such-program"), std::string::npos) << ended.message();
  EXPECT_FALSE(programOnPath("velomark-no-such-program"));
  EXPECT_TRUE(programOnPath("sh"));
}

}  // namespace
}  // namespace vm
