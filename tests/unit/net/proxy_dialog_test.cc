#include "net/proxy_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "i18n/catalogue.h"
#include "settings/preferences.h"
#include "support/log_capture.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

TEST(ProxyDialog, EntryIsTrimmedAndDoubleBlanksCollapseInOnePass) {
  const std::pair<const char*, const char*> cases[] = {
      {"  http://10.0.0.8:80  ", "http://10.0.0.8:80"},
      {"http://h:80  u:p", "http://h:80 u:p"},
      {"http://h:80   u:p", "http://h:80  u:p"},  // three become two
      {"http://h:80    u:p", "http://h:80  u:p"},  // four become two
      {"\thttp://h:80 u:p\t", "http://h:80 u:p"},
      {"   ", ""},
  };
  for (const auto& [entered, stored] : cases) EXPECT_EQ(tidyProxyEntry(entered), stored);
}

TEST(ProxyDialog, EntriesTheChecksAcceptOrRefuse) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"http://10.0.0.8:80", ""},
      {"https://proxy.corp:3128 User:Pw", ""},
      {"socks4://h:1080", ""},
      {"pac:http://pac.example/proxy.pac", ""},
      {"pac:https://pac.example/proxy.pac u:p", ""},
      {"pac:\\\\server\\share\\proxy.pac", ""},
      {"pac:file:///etc/proxy.pac", ""},
      {"pac:ftp://pac.example/proxy.pac", "wrongPacUrl"},
      {"pac:\\server\\proxy.pac", "wrongPacUrl"},
      // Both checks are case-sensitive: capitals go to the proxy check.
      {"PAC:http://pac.example/proxy.pac", "wrongProxyUrl"},
      {"HTTP://10.0.0.8:80", "wrongProxyUrl"},
      {"socks5://10.0.0.1:1080", "wrongProxyUrl"},
      {"http://10.0.0.8", "wrongProxyUrl"},
      {"http://10.0.0.8:8", "wrongProxyUrl"},
      {"http://bad host:80", "wrongProxyUrl"},
  };
  for (const auto& [entry, problem] : cases) EXPECT_EQ(proxyEntryProblem(entry), problem) << entry;
}

class EditProxySetting : public ::testing::Test {
 protected:
  EditProxySetting() { catalogue.chooseLanguage("en"); }
  void run() {
    ProxyDialogContext context{prefs, dialogs, catalogue};
    editProxySetting(context);
  }
  std::string stored() { return prefs.readSetting("proxy", "<none>", kUnnamedGroup); }

  test::TempDir dir;
  test::LogCapture log;
  Preferences prefs{dir.path()};
  test::RecordingDialogs dialogs;
  Catalogue catalogue = Catalogue::standard();
};

TEST_F(EditProxySetting, StoresTheTidiedEntryAndLogsIt) {
  prefs.writeSetting("proxy", "http://old:80  u:p", kUnnamedGroup);
  dialogs.textAnswers = {"  http://10.0.0.8:80  u:p "};
  run();
  EXPECT_EQ(stored(), "http://10.0.0.8:80 u:p");
  EXPECT_EQ(dialogs.prompts, std::vector<std::string>{catalogueText(catalogue, "askProxy")});
  // The stored setting is shown as it is, not tidied.
  EXPECT_EQ(dialogs.presets, std::vector<std::string>{"http://old:80  u:p"});
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Save proxy to be [http://10.0.0.8:80 u:p]"});
}

TEST_F(EditProxySetting, RefusedEntryShowsItsBoxAndAsksAgainWithTheStoredSetting) {
  prefs.writeSetting("proxy", "http://stored:8080", kUnnamedGroup);
  dialogs.textAnswers = {"pac:ftp://x", "PAC:http://pac.example/p.pac", "pac:http://pac.example/p.pac"};
  run();
  EXPECT_EQ(dialogs.errors, (std::vector<std::string>{catalogueText(catalogue, "wrongPacUrl"),
                                                      catalogueText(catalogue, "wrongProxyUrl")}));
  EXPECT_EQ(dialogs.presets, std::vector<std::string>(3, "http://stored:8080"));
  EXPECT_EQ(stored(), "pac:http://pac.example/p.pac");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Save proxy to be [pac:http://pac.example/p.pac]"});
}

TEST_F(EditProxySetting, CancelAndEmptyEntryBothStoreNoProxy) {
  prefs.writeSetting("proxy", "http://stored:8080", kUnnamedGroup);
  dialogs.textAnswers = {};  // the recording fake answers a cancel with empty text
  run();
  EXPECT_EQ(stored(), "");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"Save proxy to be []"});
}

}  // namespace
}  // namespace vm
