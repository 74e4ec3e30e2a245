#include "update/update_check.h"

#include <gtest/gtest.h>

#include <climits>

#include "net/http_client.h"
#include "support/log_capture.h"

namespace vm {
namespace {

constexpr long long kNow = 1700000000;
constexpr const char* kNotDueLine = "No update check because the time is not due.";

TEST(UpdateDue, SevenDaysAfterTheLastCheckOrNeverChecked) {
  struct Case {
    long long checkTime;
    bool due;
  };
  const Case cases[] = {
      {0, true},                                 // never checked
      {kNow - kUpdateCheckInterval + 1, false},  // one second short of seven days
      {kNow - kUpdateCheckInterval, true},       // exactly seven days
      {kNow - 10 * kUpdateCheckInterval, true},
      {kNow, false},
      {kNow + 3600, false},  // the clock was set back
      {LLONG_MAX, false},
      {LLONG_MIN, true},
  };
  for (const auto& [checkTime, due] : cases) {
    test::LogCapture log;
    EXPECT_EQ(updateDue(checkTime, kNow), due) << checkTime;
    const std::vector<std::string> expected =
        due ? std::vector<std::string>{} : std::vector<std::string>{kNotDueLine};
    EXPECT_EQ(log.lines(), expected) << checkTime;
  }
}

TEST(CheckForUpdate, NotDueAnswersNoWithoutFetching) {
  test::LogCapture log;
  HttpClient http("");
  // Nothing listens there: a fetch would log a failed download.
  const UpdateCheckContext context{http, "https://127.0.0.1:9/update.json",
                                   "velomark\\linux deb\\64\\[0]\\", " 5.0.0-140", kNow};
  EXPECT_EQ(checkForUpdate(kNow - 60, context), "no");
  EXPECT_EQ(log.lines(), std::vector<std::string>{kNotDueLine});
}

}  // namespace
}  // namespace vm
