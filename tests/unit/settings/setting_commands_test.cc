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

TEST_F(SettingCommandsTest, RefusedKeysGiveTheWrongArgumentAnswerAndWriteNothing) {
  setSettingCommand(prefs, R"(["kept", "1"])");
  const std::string file = prefs.filePath();
  const std::string before = test::readFile(file);
  const std::pair<const char*, const char*> cases[] = {
      {R"(["a=b", "v"])", "a=b"}, {R"([";x", "v"])", ";x"},   {R"(["[x", "]"])", "[x"},
      {R"(["a\nb", "v"])", "a\nb"}, {R"([42, "v"])", ""},     {R"([null, "v"])", ""},
      {R"(["", "v"])", ""},       {R"([" a", "v"])", " a"},
  };
  std::string expected = logged();
  for (const auto& [args, key] : cases) {
    EXPECT_EQ(setSettingCommand(prefs, args), std::nullopt) << args;
    expected += std::string("ERROR: Refused setting key [") + key + "]\r\n";
  }
  EXPECT_EQ(test::readFile(file), before);
  EXPECT_EQ(logged(), expected);
}

TEST_F(SettingCommandsTest, ValuesLongerThanOneMebibyteAreRefused) {
  const std::string limit(kMaxSettingValueBytes, 'x');
  setSettingCommand(prefs, nlohmann::json::array({"fits", limit}).dump());
  EXPECT_EQ(prefs.readSetting("fits", "", "WebApp"), limit);
  const std::string before = test::readFile(prefs.filePath());
  EXPECT_EQ(setSettingCommand(prefs, nlohmann::json::array({"big", limit + "y"}).dump()),
            std::nullopt);
  EXPECT_EQ(logged(), "ERROR: Refused setting value of [big]: 1048577 bytes, more than 1048576\r\n");
  EXPECT_EQ(test::readFile(prefs.filePath()), before);
  // The page goes on working.
  setSettingCommand(prefs, R"(["after", "ok"])");
  EXPECT_EQ(getSettingCommand(prefs, R"(["after", ""])"), R"("ok")");
}

// Values and keys that another program wrote as bytes that are not UTF-8
// still give answers that parse, with U+FFFD for each bad byte.
TEST_F(SettingCommandsTest, StoredBytesThatAreNotUtf8GiveValidJsonAnswers) {
  const std::string r = "\xEF\xBF\xBD";
  test::writeFile(prefs.filePath(),
                  "[WebApp]\r\n"
                  "latin1 = Gr\xFC\xDF" "e\r\n"
                  "cut = \xE2\x82\r\n"
                  "surrogate = \xED\xA0\xBD!\r\n"
                  "k\xE9y = v\r\n");
  const std::pair<const char*, std::string> cases[] = {
      {"latin1", "Gr" + r + r + "e"},
      {"cut", r + r},
      {"surrogate", r + r + r + "!"},
  };
  for (const auto& [key, text] : cases) {
    BridgeAnswer answer = getSettingCommand(prefs, nlohmann::json::array({key, ""}).dump());
    ASSERT_TRUE(answer);
    auto parsed = nlohmann::json::parse(*answer, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << *answer;
    EXPECT_EQ(parsed, text) << key;
  }
  auto all = nlohmann::json::parse(*getAllSettingsCommand(prefs, "[]"), nullptr, false);
  ASSERT_FALSE(all.is_discarded());
  EXPECT_EQ(all["latin1"], "Gr" + r + r + "e");
  EXPECT_EQ(all["k" + r + "y"], "v");
}

TEST_F(SettingCommandsTest, HalfASurrogatePairIsStoredAsReplacementCharacter) {
  setSettingCommand(prefs, R"(["subject", "Hi \ud83d"])");
  EXPECT_EQ(prefs.readSetting("subject", "", "WebApp"), "Hi \xEF\xBF\xBD");
  EXPECT_EQ(logged(), "");
}

TEST_F(SettingCommandsTest, GetAllSettingsIgnoresArgumentsAndOtherGroups) {
  EXPECT_EQ(getAllSettingsCommand(prefs, "[1,2]"), "{}");
  prefs.writeSetting("deviceId", "X", "");
  setSettingCommand(prefs, R"(["lang", "fr"])");
  EXPECT_EQ(getAllSettingsCommand(prefs, "[]"), R"({"lang":"fr"})");
}

}  // namespace
}  // namespace vm
