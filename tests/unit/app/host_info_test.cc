#include "app/host_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/app_url.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace vm {
namespace {

class HostInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(dir_), nullptr);
    folder_ = std::string(dir_) + "/tessel/";
  }
  void TearDown() override { std::system(("rm -rf '" + std::string(dir_) + "'").c_str()); }
  char dir_[32] = "/tmp/host_info_test.XXXXXX";
  std::string folder_;
};

TEST_F(HostInfoTest, EightCompactStringMembersInOrder) {
  Preferences prefs(folder_);
  const std::string version = " 5.0.0-140";
  const AppChannel channel{"pc-qa", "qa"};
  const std::string proxy;
  const std::string developerMode = "true";
  HostInfoSources sources{version, channel, proxy, developerMode, prefs};

  const std::string first = *getHostInfoCommand(sources, "[1,2]");
  const std::string id = prefs.readSetting("deviceId", "", "");
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(first,
            "{\"os\":\"linux\",\"version\":\" 5.0.0-140\",\"mode\":\"qa\",\"channel\":\"pc-qa\","
            "\"deviceName\":\"" +
                hostName() + "\",\"deviceID\":\"" + id +
                "\",\"proxy\":\"\",\"developerMode\":\"true\"}");
  // The identifier made by the first call is kept.
  EXPECT_EQ(*getHostInfoCommand(sources, "garbage"), first);
}

TEST_F(HostInfoTest, BeforeAnyDeterminationModeAndChannelAreEmpty) {
  Preferences prefs(folder_);
  const std::string version = " 5.0.0-140", proxy = "http://10.0.0.8:8080 u:p", devMode;
  const AppChannel channel;
  const auto info = nlohmann::json::parse(hostInfoJson({version, channel, proxy, devMode, prefs}));
  EXPECT_EQ(info["mode"], "");
  EXPECT_EQ(info["channel"], "");
  EXPECT_EQ(info["proxy"], "http://10.0.0.8:8080 u:p");
  EXPECT_EQ(info["developerMode"], "");
}

}  // namespace
}  // namespace vm
