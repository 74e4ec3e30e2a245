#include "settings/setting_commands.h"

#include <gtest/gtest.h>

#include "diag/log_writer.h"
#include "settings/preferences.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

class SettingCommandsTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  Preferences prefs{dir.path()};
  std::string logPath = dir.path() + "log.txt";
  test::LogCapture logCapture{logPath};
  std::string logged() { return test::readFile(logPath); }
};

TEST_F(SettingCommandsTest, ValuesBecomeTextByJsonType) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(["n", 2.50])", "2.5"},   {R"(["i", 3])", "3"},           {R"(["h", 0.5])", "0.5"},
      {R"(["b", true])", "1"},     {R"(["f", false])", "0"},       {R"(["x", null])", ""},
      {R"(["a", [1,2]])", ""},     {R"(["o", {"k":1}])", ""},      {R"(["s", "text"])", "text"},
      {R"(["neg", -1.25])", "-1.25"}, {R"(["big", 12345678901])", "12345678901"},
  };
  for (const auto& [args, stored] : cases) {
    EXPECT_EQ(setSettingCommand(prefs, args), std::nullopt);
    auto key = nlohmann::json::parse(args)[0].get<std::string>();
    EXPECT_EQ(prefs.readSetting(key, "<missing>", "WebApp"), stored) << args;
  }
}

TEST_F(SettingCommandsTest, GetSettingAnswersEscapedJsonString) {
  prefs.writeSetting("k", "a\"b/c", "WebApp");
  EXPECT_EQ(getSettingCommand(prefs, R"(["k", ""])"), R"("a\"b\/c")");
  EXPECT_EQ(nlohmann::json::parse(*getSettingCommand(prefs, R"(["k", ""])")), "a\"b/c");
  EXPECT_EQ(getSettingCommand(prefs, R"(["missing", 5])"), R"("5")");
  EXPECT_EQ(getSettingCommand(prefs, R"(["missing", true])"), R"("1")");
  EXPECT_EQ(getSettingCommand(prefs, R"([42, "d"])"), R"("d")");
}

TEST_F(SettingCommandsTest, WrongCountsAreLoggedAndUnanswered) {
  EXPECT_EQ(getSettingCommand(prefs, R"(["k"])"), std::nullopt);
  EXPECT_EQ(setSettingCommand(prefs, R"(["k", 1, 2])"), std::nullopt);
  EXPECT_EQ(setSettingCommand(prefs, "not json"), std::nullopt);
  EXPECT_EQ(prefs.readSetting("k", "untouched", "WebApp"), "untouched");
  EXPECT_EQ(logged(),
            "getSetting had wrong parameter count!\r\n"
            "setSettings had wrong parameter count!\r\n"
            "setSettings had wrong parameter count!\r\n");
}

TEST_F(SettingCommandsTest, DeleteSettingTakesFirstKeyEvenWithWrongCount) {
  prefs.writeSetting("a", "1", "WebApp");
  prefs.writeSetting("b", "2", "WebApp");
  deleteSettingCommand(prefs, R"(["a", "b"])");
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), R"({"b":"2"})");
  deleteSettingCommand(prefs, "[]");
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), R"({"b":"2"})");
  EXPECT_EQ(logged(),
            "deleteSetting had wrong parameter count!\r\n"
            "deleteSetting had wrong parameter count!\r\n");
}

TEST_F(SettingCommandsTest, GetAllSettingsIgnoresArgumentsAndOtherGroups) {
  EXPECT_EQ(getAllSettingsCommand(prefs, "[1,2]"), "{}");
  prefs.writeSetting("deviceId", "X", "");
  setSettingCommand(prefs, R"(["lang", "fr"])");
  EXPECT_EQ(getAllSettingsCommand(prefs, "[]"), R"({"lang":"fr"})");
}

}  // namespace
}  // namespace vm
