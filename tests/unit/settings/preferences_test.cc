#include "settings/preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include <filesystem>
#include <set>

#include "settings/device_identity.h"
#include "settings/ini_document.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

using test::readFile;
using test::writeFile;

const std::string kBom = "\xEF\xBB\xBF";

class PreferencesTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string folder = dir.path() + "tessel/";
  std::string file = folder + "velomark_client.ini";
  std::vector<std::string> unusable;
  Preferences prefs{folder};

  void SetUp() override {
    prefs.setUnusableHandler([this](const std::string& p) { unusable.push_back(p); });
  }
};

TEST_F(PreferencesTest, FirstReadCreatesFolderAndFileWithBomAndEmptyLine) {
  EXPECT_EQ(prefs.readSetting("debug", "dflt", "WebApp"), "dflt");
  EXPECT_EQ(readFile(file), kBom + "\r\n");
  EXPECT_TRUE(unusable.empty());
}

TEST_F(PreferencesTest, WritesByteExactLayout) {
  prefs.writeSetting("deviceId", "ID-1", "");
  prefs.writeSetting("debug", "true", "WebApp");
  prefs.writeSetting("left", "100", "main");
  prefs.writeSetting("lang", "de", "WebApp");
  prefs.writeSetting("proxy", "", "");
  EXPECT_EQ(readFile(file), kBom +
                                "\r\n"
                                "deviceId = ID-1\r\n"
                                "proxy = \r\n"
                                "[WebApp]\r\n"
                                "debug = true\r\n"
                                "lang = de\r\n"
                                "\r\n"
                                "[main]\r\n"
                                "left = 100\r\n");
}

TEST_F(PreferencesTest, KeepsCommentsUnknownGroupsAndMatchesCaseInsensitively) {
  mkdir(folder.c_str(), 0700);
  writeFile(file,
            "; written by hand\n"
            "[webapp]\n"
            "  DEBUG\t=  true  \n"
            "empty =\n"
            "[Other]\r\n"
            "x=1\r\n"
            "not a key line\r\n");
  EXPECT_EQ(prefs.readSetting("debug", "", "WebApp"), "true");
  EXPECT_EQ(prefs.readSetting("empty", "dflt", "WEBAPP"), "");
  EXPECT_EQ(prefs.readSetting("x", "", "other"), "1");
  EXPECT_EQ(prefs.readSetting("x", "none", "WebApp"), "none");
  // A read of an existing file writes nothing.
  EXPECT_EQ(readFile(file).substr(0, 16), "; written by han");

  prefs.writeSetting("new", "v", "WebApp");
  EXPECT_EQ(readFile(file), kBom +
                                "\r\n"
                                "; written by hand\r\n"
                                "[webapp]\r\n"
                                "DEBUG = true\r\n"
                                "empty = \r\n"
                                "new = v\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "x = 1\r\n"
                                "not a key line\r\n");
}

TEST_F(PreferencesTest, RemoveKeepsEmptyGroupLine) {
  prefs.writeSetting("a", "1", "WebApp");
  prefs.removeSetting("A", "WebApp");
  prefs.removeSetting("missing", "Nowhere");
  EXPECT_EQ(readFile(file), kBom + "\r\n[WebApp]\r\n");
}

TEST_F(PreferencesTest, SettingsAsJsonListsOneGroupOnly) {
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), "{}");
  prefs.writeSetting("deviceId", "X", "");
  prefs.writeSetting("a", "1", "WebApp");
  prefs.writeSetting("q", "say \"hi\"/\\", "WebApp");
  prefs.writeSetting("left", "5", "main");
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), R"({"a":"1","q":"say \"hi\"/\\"})");
}

TEST_F(PreferencesTest, ValueWithLineBreaksCannotAddKeysOrGroups) {
  prefs.writeSetting("a", "x\r\n[main]\nleft = 1\rz", "WebApp");
  EXPECT_EQ(prefs.readSetting("a", "", "WebApp"), "x [main] left = 1 z");
  EXPECT_EQ(prefs.readSetting("left", "none", "main"), "none");
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), R"({"a":"x [main] left = 1 z"})");
}

TEST_F(PreferencesTest, BlanksAroundValuesAreNotReadBack) {
  prefs.writeSetting("a", "  padded\t", "WebApp");
  EXPECT_EQ(prefs.readSetting("a", "", "WebApp"), "padded");
}

TEST_F(PreferencesTest, MissingParentFoldersOfAFreshAccountAreCreated) {
  Preferences fresh(dir.path() + "home/.config/tessel/");
  fresh.setUnusableHandler([this](const std::string& p) { unusable.push_back(p); });
  fresh.writeSetting("k", "v", "WebApp");
  EXPECT_TRUE(unusable.empty());
  EXPECT_EQ(fresh.readSetting("k", "", "WebApp"), "v");
}

TEST_F(PreferencesTest, UnusableFileCallsHandlerAndReturnsDefault) {
  writeFile(dir.path() + "plain-file", "x");
  Preferences broken(dir.path() + "plain-file/tessel/");
  std::vector<std::string> seen;
  broken.setUnusableHandler([&](const std::string& p) { seen.push_back(p); });
  EXPECT_EQ(broken.readSetting("k", "d", "WebApp"), "d");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], dir.path() + "plain-file/tessel/velomark_client.ini");

  // Once unusable, every operation answers its default without another call,
  // and nothing is written even where the file could now be made.
  std::filesystem::remove(dir.path() + "plain-file");
  EXPECT_EQ(broken.writeSetting("k", "v", "WebApp"), "v");
  broken.removeSetting("k", "WebApp");
  EXPECT_EQ(broken.readSetting("k", "d2", "WebApp"), "d2");
  EXPECT_EQ(broken.settingsAsJson("WebApp"), "{}");
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "plain-file"));
}

TEST_F(PreferencesTest, ReadOnlyFileKeepsReadsWorkingAndIsNotReplaced) {
  prefs.writeSetting("a", "1", "WebApp");
  chmod(file.c_str(), 0400);
  prefs.writeSetting("a", "2", "WebApp");
  EXPECT_EQ(prefs.readSetting("a", "", "WebApp"), "1");
}

// The log names the reason of the step that failed, for root as well.
TEST_F(PreferencesTest, FailedRewriteLogsTheReasonOfTheFailedStep) {
  struct Case {
    const char* name;
    std::function<void()> breakIt;
    const char* reason;
  };
  const Case cases[] = {
      {"read-only file", [&] { ASSERT_EQ(chmod(file.c_str(), 0400), 0); }, "Permission denied"},
      {"a folder where the lock file goes",
       [&] {
         std::filesystem::remove(file + ".lock");
         ASSERT_EQ(mkdir((file + ".lock").c_str(), 0700), 0);
       },
       "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(folder);
    prefs.writeSetting("a", "1", "WebApp");
    c.breakIt();
    test::LogCapture log;
    prefs.writeSetting("a", "2", "WebApp");
    prefs.removeSetting("a", "WebApp");
    const std::string line = "ERROR: Failed to write preferences file [" + file + "]: " + c.reason;
    EXPECT_EQ(log.lines(), (std::vector<std::string>{line, line}));
    EXPECT_EQ(prefs.readSetting("a", "", "WebApp"), "1");
    EXPECT_TRUE(unusable.empty());
    chmod(file.c_str(), 0600);
  }
}

// A key that would come back as another key, a comment or a group line is
// not written at all.
TEST_F(PreferencesTest, KeysThatCannotBeReadBackAreRefused) {
  prefs.writeSetting("kept", "1", "WebApp");
  const std::string before = readFile(file);
  test::LogCapture log;
  const std::string refused[] = {"",   "a=b",  ";x",  "[x",   "[x]", "a\nb", "a\rb",
                                 " a", "a ",   "\ta", "  ;x", " [x"};
  for (const std::string& key : refused) prefs.writeSetting(key, "v", "WebApp");
  EXPECT_EQ(readFile(file), before);
  std::string expected;
  for (const std::string& key : refused) expected += "ERROR: Refused setting key [" + key + "]\r\n";
  EXPECT_EQ(log.text(), expected);

  // Brackets, semicolons and blanks inside a key are fine.
  for (const std::string key : {"a;b", "a[1]", "x]", "two words", "é"}) {
    prefs.writeSetting(key, key + "!", "WebApp");
    EXPECT_EQ(prefs.readSetting(key, "", "WebApp"), key + "!") << key;
  }
}

// Anything at the file's path but a regular file is treated like a folder
// there: the unusable handler runs, and nothing blocks (a FIFO without a
// writer would hold a plain open for good).
TEST_F(PreferencesTest, SomethingOtherThanARegularFileIsUnusableWithoutBlocking) {
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"FIFO", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); }},
      {"folder", [&] { ASSERT_EQ(mkdir(file.c_str(), 0700), 0); }},
      {"character device", [&] { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(folder);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    c.plant();
    // In a child, so that a blocking open fails the test instead of hanging it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Preferences probe(folder);
      int calls = 0;
      probe.setUnusableHandler([&](const std::string& p) { calls += p == file ? 1 : 100; });
      const bool defaults = probe.readSetting("k", "d", "WebApp") == "d";
      probe.writeSetting("k", "v", "WebApp");
      _exit(defaults && calls == 1 ? 0 : 1);
    }
    int status = -1;
    for (int waited = 0; waited < 500 && waitpid(child, &status, WNOHANG) == 0; ++waited) usleep(10000);
    if (waitpid(child, nullptr, WNOHANG) == 0) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "blocked";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

// Two processes changing the file at the same time lose nothing: each
// rewrite reads the file again under the lock.
TEST_F(PreferencesTest, TwoProcessesWritingAtOnceKeepEveryKey) {
  constexpr int kKeys = 300;
  prefs.writeSetting("deviceId", "ID", "");
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      Preferences mine(folder);
      for (int i = 0; i < kKeys; ++i)
        mine.writeSetting("w" + std::to_string(w) + "_" + std::to_string(i), "v", "WebApp");
      _exit(0);
    }
  }
  for (pid_t writer : writers) {
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto entries = IniDocument::parse(readFile(file)).entries("WebApp");
  EXPECT_EQ(entries.size(), 2u * kKeys);
  EXPECT_EQ(prefs.readSetting("deviceId", "", ""), "ID");
}

TEST_F(PreferencesTest, RewriteLeavesNoTemporaryFilesBehind) {
  for (int i = 0; i < 20; ++i) prefs.writeSetting("k" + std::to_string(i), "v", "WebApp");
  std::set<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename());
  // The lock file stays: removing it could let two writers lock different files.
  EXPECT_EQ(names, (std::set<std::string>{"velomark_client.ini", "velomark_client.ini.lock"}));
}

TEST(DeviceIdentity, NewIdentifierHasVersion4Form) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    std::string id = newIdentifier();
    ASSERT_EQ(id.size(), 36u);
    for (int pos : {8, 13, 18, 23}) EXPECT_EQ(id[pos], '-');
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
    for (char c : id) EXPECT_NE(std::string("0123456789ABCDEF-").find(c), std::string::npos) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST_F(PreferencesTest, DeviceIdentifierIsMadeOnceAndKept) {
  std::string first = deviceIdentifier(prefs);
  auto written = readFile(file);
  EXPECT_EQ(deviceIdentifier(prefs), first);
  Preferences again(folder);
  EXPECT_EQ(deviceIdentifier(again), first);
  EXPECT_EQ(readFile(file), written);
  EXPECT_EQ(prefs.settingsAsJson("WebApp"), "{}");
}

TEST_F(PreferencesTest, BlankDeviceIdentifierIsReplaced) {
  mkdir(folder.c_str(), 0700);
  writeFile(file, "deviceId =    \r\n");
  std::string id = deviceIdentifier(prefs);
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(prefs.readSetting("deviceId", "", ""), id);
}

// A kill at any moment of a rewrite leaves either the old or the new file,
// never a truncated one: the device identifier must survive.
TEST_F(PreferencesTest, KillDuringRewriteNeverBreaksTheFile) {
  std::string id = deviceIdentifier(prefs);
  for (int round = 0; round < 15; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Preferences writer(folder);
      std::string big(4000, 'x');
      for (long i = 0;; ++i) writer.writeSetting("k" + std::to_string(i % 50), big, "WebApp");
    }
    usleep(2000 + round * 1500);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::string bytes = readFile(file);
    ASSERT_EQ(bytes.substr(0, 5), kBom + "\r\n") << "round " << round;
    auto doc = IniDocument::parse(bytes);
    const std::string* stored = doc.find("", "deviceId");
    ASSERT_NE(stored, nullptr) << "round " << round;
    EXPECT_EQ(*stored, id);
  }
}

}  // namespace
}  // namespace vm
