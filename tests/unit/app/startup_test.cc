#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/command_line.h"
#include "app/process_state.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

using test::readFile;

class StartupTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string tmp = dir.path() + "tmp/";
  ProcessState state{Preferences(dir.path() + "tessel/"), dir.path() + "tessel/"};
  test::RecordingDialogs dialogs;

  void SetUp() override {
    mkdir(tmp.c_str(), 0700);
    state.dialogs = &dialogs;
  }
  void TearDown() override { state.log.close(); }
  void startWith(const std::vector<std::string>& params) {
    state.log.close();
    setUpLogging(state, CommandLine::parse(params), tmp);
  }
  std::string banner(const std::string& path) {
    return "------------------ Start local logging ------------------\r\n"
           "Enabled local debug writing to [" + path + "]\r\n";
  }
};

TEST_F(StartupTest, InitialStateAndOAuthState) {
  initialiseProcessState(state);
  EXPECT_EQ(state.versionText, " 5.0.0-140");
  EXPECT_EQ(state.titleVersion.substr(0, 10), " 5.0.0-140");
  EXPECT_FALSE(state.quitRequested);
  for (int i = 0; i < 50; ++i) {
    std::string s = makeOAuthState();
    ASSERT_EQ(s.size(), 23u) << s;
    EXPECT_EQ(s.substr(0, 3), "xsf");
    long long first = std::stoll(s.substr(3, 10)), second = std::stoll(s.substr(13));
    for (long long n : {first, second}) {
      EXPECT_GE(n, 1000000000LL);
      EXPECT_LE(n, 2147483647LL);
    }
  }
}

TEST_F(StartupTest, NoOptionAndNoStoredDebugLeavesLoggingOff) {
  startWith({});
  EXPECT_FALSE(state.log.isOn());
  EXPECT_EQ(state.log.path(), tmp + "velomark_log.txt");
  EXPECT_EQ(access((tmp + "velomark_log.txt").c_str(), F_OK), -1);
}

TEST_F(StartupTest, OptionWithoutValueLogsToDefaultAndPersistsDebug) {
  startWith({"-l"});
  EXPECT_TRUE(state.log.isOn());
  EXPECT_EQ(readFile(tmp + "velomark_log.txt"), banner(tmp + "velomark_log.txt"));
  EXPECT_EQ(state.prefs.readSetting("debug", "", "WebApp"), "true");

  // A later run without -l keeps logging, to the default path.
  startWith({});
  EXPECT_TRUE(state.log.isOn());
  EXPECT_EQ(state.log.path(), tmp + "velomark_log.txt");
}

TEST_F(StartupTest, OptionValueNamesTheLogFileInEitherForm) {
  for (const auto& params : std::vector<std::vector<std::string>>{
           {"-l", dir.path() + "a.log"}, {"-l" + dir.path() + "a.log"}, {"-l1", "x"}}) {
    startWith(params);
    EXPECT_TRUE(state.log.isOn());
  }
  EXPECT_EQ(readFile(dir.path() + "a.log"), banner(dir.path() + "a.log") + banner(dir.path() + "a.log"));
  // "-l1" means the default path, not a file named 1.
  EXPECT_EQ(readFile(tmp + "velomark_log.txt"), banner(tmp + "velomark_log.txt"));
}

TEST_F(StartupTest, StoredDebugMustBeExactlyTrue) {
  state.prefs.writeSetting("debug", "TRUE", "WebApp");
  startWith({});
  EXPECT_FALSE(state.log.isOn());
}

TEST(DeveloperMode, FromEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* expected;
  };
  const Case cases[] = {
      {{}, ""},
      {{{"TS_PLSKEYID", "0"}}, ""},
      {{{"TS_PLSKEYID", ""}, {"TS_CLKEYID", "0"}}, ""},
      {{{"TS_PLSKEYID", "1"}}, "true"},
      {{{"TS_CLKEYID", "yes"}}, "true"},
      {{{"TS_PLSKEYID", "0"}, {"TS_CLKEYID", "false"}}, "true"},
  };
  for (const auto& [env, expected] : cases) {
    auto lookup = [&env = env](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(developerModeFrom(lookup), expected);
  }
}

TEST_F(StartupTest, TemporaryFilesAreDeletedAndFailuresLogged) {
  std::string logPath = dir.path() + "log.txt";
  state.log.setPath(logPath);
  state.log.open();
  LogSinkScope logScope(state.log);
  std::string file = tmp + "a.pdf", readOnly = tmp + "b.pdf", folder = tmp + "folder";
  test::writeFile(file, "x");
  test::writeFile(readOnly, "y");
  chmod(readOnly.c_str(), 0400);
  mkdir(folder.c_str(), 0700);
  std::string locked = dir.path() + "locked/";
  mkdir(locked.c_str(), 0700);
  test::writeFile(locked + "c.pdf", "z");
  chmod(locked.c_str(), 0500);
  bool rootCanDelete = geteuid() == 0;
  // A file that nobody, root included, can delete.
  const std::string undeletable = "/proc/version";
  ASSERT_TRUE(std::filesystem::is_regular_file(undeletable));

  deleteTemporaryFiles({file, tmp + "gone.pdf", folder, readOnly, locked + "c.pdf", undeletable});
  EXPECT_EQ(access(file.c_str(), F_OK), -1);
  EXPECT_EQ(access(readOnly.c_str(), F_OK), -1);
  EXPECT_EQ(access(folder.c_str(), F_OK), 0);
  chmod(locked.c_str(), 0700);
  std::string expected = rootCanDelete ? "" : "ERROR: Failed deletion of [" + locked + "c.pdf]\r\n";
  expected += "ERROR: Failed deletion of [/proc/version]\r\n";
  EXPECT_EQ(readFile(logPath), expected);
}

// The update step of the shutdown with recorded calls in place of the check
// and the download, which the end-to-end tests run for real.
class UpdateStepTest : public StartupTest {
 protected:
  static constexpr long long kNow = 1700000000;
  std::vector<long long> checkedWith;
  std::vector<std::string> downloaded;

  void SetUp() override {
    StartupTest::SetUp();
    state.catalogue.chooseLanguage("en");
  }
  void runWithAnswer(const std::string& answer) {
    UpdateStepCalls calls{
        [this, answer](long long checkTime) {
          checkedWith.push_back(checkTime);
          return answer;
        },
        [this](const std::string& url) {
          downloaded.push_back(url);
          return true;
        },
        [] { return kNow; },
    };
    runUpdateStep(state, calls);
  }
  std::string storedCheckTime() { return state.prefs.readSetting("lastUpdateCheck", "unset", ""); }
};

TEST_F(UpdateStepTest, TheStoredCheckTimeIsReadAsAWholeNumber) {
  const std::pair<const char*, long long> cases[] = {
      {nullptr, 0}, {"1699990000", 1699990000}, {"-5", -5}, {"12abc", 12}, {"abc", 0}, {"", 0}};
  for (const auto& [stored, expected] : cases) {
    if (stored) state.prefs.writeSetting("lastUpdateCheck", stored, "");
    checkedWith.clear();
    runWithAnswer("no");
    EXPECT_EQ(checkedWith, std::vector<long long>{expected}) << (stored ? stored : "(none)");
  }
}

TEST_F(UpdateStepTest, NotDueLeavesTheTimeAndAsksNothing) {
  state.prefs.writeSetting("lastUpdateCheck", "1699999000", "");
  runWithAnswer("no");
  EXPECT_EQ(storedCheckTime(), "1699999000");
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(UpdateStepTest, ACheckWithoutOfferStoresTheTimeAndAsksNothing) {
  runWithAnswer("");
  EXPECT_EQ(storedCheckTime(), std::to_string(kNow));
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_TRUE(downloaded.empty());
}

TEST_F(UpdateStepTest, AnOfferIsAskedAndOnlyYesDownloads) {
  for (bool yes : {false, true}) {
    state.prefs.removeSetting("lastUpdateCheck", "");
    dialogs.questions.clear();
    dialogs.yesNoAnswer = yes;
    runWithAnswer("5.1.0|https://h/velomark_5.1.0.deb?a=1|b");
    EXPECT_EQ(storedCheckTime(), std::to_string(kNow)) << yes;
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"There is an update available for version 5.1.0.\r\r"
                                       "Do you want to download and install this update?"});
  }
  EXPECT_EQ(downloaded, std::vector<std::string>{"https://h/velomark_5.1.0.deb?a=1|b"});
}

}  // namespace
}  // namespace vm
