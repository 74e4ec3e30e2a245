#include "settings/migration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>

#include "build_config.h"
#include "i18n/catalogue.h"
#include "platform/paths.h"
#include "settings/device_identity.h"
#include "settings/preferences.h"
#include "settings/secret_protection.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using namespace std::string_literals;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (saved_)
      setenv(name_, saved_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// What the predecessor stored on this machine: the machine key is the SHA-256
// of computer name + serial text ("0" here), which is exactly the legacy
// password key of that text.
std::string predecessorSecret(const std::string& plain) {
  return protectTextLegacy(plain, computerName() + "0");
}

// The legacy format under the fixed key, as the web application reads it.
std::string readFixedKeySecret(const std::string& stored) {
  return unprotectLegacyWithKeyText(stored, sha256Hex(config::kLegacyKeyText));
}

long long localSecondsNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<long long>(now) + local.tm_gmtoff;
}

std::string predecessorIni(const std::string& useTls, const std::string& usePass) {
  return "[USER]\r\n"
         "tesselUsername = anna.muster\r\n"
         "tesselServer = https://tessel.example.ch\r\n"
         "tesselPassword = " +
         predecessorSecret("Kontö-Passwort") +
         "\r\n"
         "\r\n"
         "[SMTP]\r\n"
         "server = smtp.example.ch:587\r\n"
         "username = anna\r\n"
         "senderAddress = anna@example.ch\r\n"
         "returnAddress = reply@example.ch\r\n"
         "password = " +
         predecessorSecret("smtp-Geheimnis ß") + "\r\n" +
         (useTls.empty() ? "" : "useTLS = " + useTls + "\r\n") +
         (usePass.empty() ? "" : "usePass = " + usePass + "\r\n");
}

class MigrationTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string folder = dir.path() + "tessel/";
  std::string oldFile = folder + "tessel_client.ini";
  std::vector<std::string> unusable;
  Preferences prefs{folder};
  test::RecordingDialogs dialogs;
  Catalogue catalogue = Catalogue::standard();

  void SetUp() override {
    fs::create_directories(folder);
    prefs.setUnusableHandler([this](const std::string& p) { unusable.push_back(p); });
    catalogue.chooseLanguage("en");
  }

  void migrate() { migratePredecessorSettings({prefs, dialogs, catalogue, folder}); }
  std::string web(const std::string& key) { return prefs.readSetting(key, "<missing>", "WebApp"); }

  void makeLeftovers(const std::string& base) {
    fs::create_directories(base + "ckeditor44/plugins/link");
    writeFile(base + "ckeditor44/ckeditor.js", "js");
    writeFile(base + "ckeditor44/plugins/link/plugin.js", "js");
    fs::create_directories(base + "tessel_attachments");
    writeFile(base + "tessel_attachments/invoice.pdf", "pdf");
    for (const char* name :
         {"Logo.png", "tessel_default_message.htm", "tessel_default_message.txt"})
      writeFile(base + name, "x");
  }
};

// The whole run through the real per-user folder: $XDG_CONFIG_HOME/tessel/.
TEST_F(MigrationTest, CarriesSettingsOverOnceAndRemovesLeftovers) {
  std::string xdg = dir.path() + "config";
  ScopedEnv xdgGuard("XDG_CONFIG_HOME", xdg);
  std::string base = appDataFolder();
  ASSERT_EQ(base, xdg + "/tessel/");
  fs::create_directories(base);
  Preferences realPrefs(base);
  realPrefs.setUnusableHandler([this](const std::string& p) { unusable.push_back(p); });

  realPrefs.writeSetting("appPassword", "hash-of-the-local-lock", "WebApp");
  realPrefs.writeSetting("lang", "de", "WebApp");
  std::string oldIni = predecessorIni("1", "1");
  writeFile(base + "tessel_client.ini", oldIni);
  makeLeftovers(base);
  writeFile(base + "unrelated.txt", "mine");

  long long before = localSecondsNow();
  migratePredecessorSettings({realPrefs, dialogs, catalogue, base});
  long long after = localSecondsNow();

  auto web = [&](const std::string& key) {
    return realPrefs.readSetting(key, "<missing>", "WebApp");
  };
  EXPECT_EQ(web("tesselUser"), "anna.muster");
  EXPECT_EQ(web("providerUrl"), "https://tessel.example.ch");
  EXPECT_EQ(web("smtp_server"), "smtp.example.ch:587");
  EXPECT_EQ(web("smtp_login"), "anna");
  EXPECT_EQ(web("smtp_sender"), "anna@example.ch");
  EXPECT_EQ(web("smtp_reply"), "reply@example.ch");
  EXPECT_EQ(web("smtp_auth"), "tls");
  EXPECT_EQ(web("beta"), "true");
  EXPECT_EQ(web("lang"), "de");
  EXPECT_EQ(web("appPassword"), "<missing>");

  // Passwords come out in the current and the legacy format.
  std::string deviceId = realPrefs.readSetting("deviceId", "", "");
  ASSERT_EQ(deviceId.size(), 36u);
  EXPECT_EQ(unprotectText(web("smtp_passwd"), deviceId), "smtp-Geheimnis ß");
  EXPECT_EQ(readFixedKeySecret(web("tesselPass")), "Kontö-Passwort");
  EXPECT_EQ(readFixedKeySecret(web("keyTest")), config::kLegacyCheckSentence);

  std::string time = web("appPasswordTime");
  EXPECT_GE(std::stoll(time), before);
  EXPECT_LE(std::stoll(time), after);
  EXPECT_EQ(web("secKey"), sha256Hex(deviceId + time));
  EXPECT_EQ(web("secKey").size(), 64u);

  // Written in the fixed order after the keys that were there before.
  std::string prefsText = readFile(realPrefs.filePath());
  std::size_t last = prefsText.find("lang = de");
  for (const char* key : {"keyTest", "tesselUser", "providerUrl", "tesselPass", "smtp_server",
                          "smtp_login", "smtp_sender", "smtp_reply", "smtp_passwd", "smtp_auth",
                          "secKey", "appPasswordTime", "beta"}) {
    std::size_t at = prefsText.find(std::string("\n") + key + " = ");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }

  ASSERT_EQ(dialogs.infos.size(), 1u);
  EXPECT_EQ(dialogs.infos[0], catalogue.text("cantMigrateKey"));
  EXPECT_EQ(dialogs.infos[0].rfind("It was not possible to migrate your app password", 0), 0u);

  for (const char* gone : {"ckeditor44", "tessel_attachments", "Logo.png",
                           "tessel_default_message.htm", "tessel_default_message.txt"})
    EXPECT_FALSE(fs::exists(base + gone)) << gone;
  EXPECT_EQ(readFile(base + "unrelated.txt"), "mine");
  EXPECT_EQ(readFile(base + "tessel_client.ini"), oldIni);  // left in place, unchanged

  // The next start finds the work done: nothing read, written, shown or deleted.
  makeLeftovers(base);
  realPrefs.writeSetting("appPassword", "new-lock", "WebApp");
  std::string settled = readFile(realPrefs.filePath());
  migratePredecessorSettings({realPrefs, dialogs, catalogue, base});
  EXPECT_EQ(readFile(realPrefs.filePath()), settled);
  EXPECT_EQ(dialogs.infos.size(), 1u);
  EXPECT_TRUE(fs::exists(base + "ckeditor44/ckeditor.js"));
  EXPECT_TRUE(unusable.empty());
}

// Without a user name "tesselUser" stays empty; the migration must still not
// run again and undo what the user set up since.
TEST_F(MigrationTest, PredecessorWithoutUserNameIsMigratedOnlyOnce) {
  writeFile(oldFile, "[SMTP]\r\nserver = old.example.ch\r\nusePass = 1\r\npassword = " +
                         predecessorSecret("old") + "\r\n");
  migrate();
  EXPECT_EQ(web("tesselUser"), "");
  EXPECT_EQ(web("smtp_server"), "old.example.ch");
  EXPECT_EQ(dialogs.infos.size(), 1u);

  prefs.writeSetting("smtp_server", "new.example.ch", "WebApp");
  prefs.writeSetting("appPassword", "lock", "WebApp");
  std::string settled = readFile(prefs.filePath());
  makeLeftovers(folder);
  migrate();
  migrate();
  EXPECT_EQ(readFile(prefs.filePath()), settled);
  EXPECT_EQ(dialogs.infos.size(), 1u);
  EXPECT_TRUE(fs::exists(folder + "Logo.png"));
}

// Preferences migrated before the done mark existed carry appPasswordTime.
TEST_F(MigrationTest, EarlierMigrationWithoutMarkIsRecognised) {
  prefs.writeSetting("tesselUser", "", "WebApp");
  prefs.writeSetting("appPasswordTime", "1700000000", "WebApp");
  prefs.writeSetting("smtp_server", "mine.example.ch", "WebApp");
  writeFile(oldFile, predecessorIni("1", "1"));
  std::string settled = readFile(prefs.filePath());
  migrate();
  EXPECT_EQ(readFile(prefs.filePath()), settled);
  EXPECT_TRUE(dialogs.infos.empty());
}

TEST_F(MigrationTest, AlreadyMigratedTouchesNothing) {
  prefs.writeSetting("tesselUser", "someone", "WebApp");
  prefs.writeSetting("appPassword", "lock", "WebApp");
  writeFile(oldFile, predecessorIni("1", "1"));
  makeLeftovers(folder);
  std::string settled = readFile(prefs.filePath());
  migrate();
  EXPECT_EQ(readFile(prefs.filePath()), settled);
  EXPECT_TRUE(dialogs.infos.empty());
  EXPECT_TRUE(fs::exists(folder + "ckeditor44/ckeditor.js"));
  EXPECT_TRUE(fs::exists(folder + "Logo.png"));
}

TEST_F(MigrationTest, NoOrEmptyPredecessorFileWritesNothing) {
  for (bool emptyFile : {false, true}) {
    SCOPED_TRACE(emptyFile ? "empty file" : "no file");
    if (emptyFile) writeFile(oldFile, "");
    makeLeftovers(folder);
    migrate();
    EXPECT_EQ(prefs.settingsAsJson("WebApp"), "{}");
    EXPECT_EQ(prefs.readSetting("deviceId", "", ""), "");  // not made here
    EXPECT_TRUE(fs::exists(folder + "Logo.png"));
  }
  EXPECT_TRUE(dialogs.infos.empty());
}

TEST_F(MigrationTest, TlsAndNoticeFollowTheWholeNumbers) {
  const struct {
    std::string useTls, usePass, auth;
    bool notice;
  } cases[] = {
      {"1", "1", "tls", true},
      {"2", "0", "none", false},
      {"0", "", "none", false},
      {"", "7", "none", true},
      {"+1", "-3", "tls", false},
      {"1abc", "2x", "tls", true},
      {"abc", "x1", "none", false},
      {"-1", "0009", "none", true},
      {"99999999999999999999999", "99999999999999999999999", "none", true},
      {"-99999999999999999999999", "-99999999999999999999999", "none", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("useTLS=" + c.useTls + " usePass=" + c.usePass);
    test::TempDir caseDir;
    std::string caseFolder = caseDir.path();
    Preferences casePrefs(caseFolder);
    test::RecordingDialogs caseDialogs;
    writeFile(caseFolder + "tessel_client.ini", predecessorIni(c.useTls, c.usePass));
    migratePredecessorSettings({casePrefs, caseDialogs, catalogue, caseFolder});
    EXPECT_EQ(casePrefs.readSetting("smtp_auth", "", "WebApp"), c.auth);
    EXPECT_EQ(caseDialogs.infos.size(), c.notice ? 1u : 0u);
  }
}

TEST_F(MigrationTest, LeadingWholeNumber) {
  const std::pair<std::string, long long> cases[] = {
      {"", 0},
      {"12", 12},
      {"+3", 3},
      {"-4x", -4},
      {"x5", 0},
      {"-", 0},
      {" 1", 0},
      {"007", 7},
      {"99999999999999999999", LLONG_MAX},
      {"-99999999999999999999", LLONG_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(leadingWholeNumber(text), value) << text;
}

// Files that parse to little or nothing still migrate with the defaults, and
// never take the client down.
TEST_F(MigrationTest, MalformedPredecessorFilesMigrateWithDefaults) {
  std::string otherMachine = protectTextLegacy("secret", "OTHER-PC0");
  const struct {
    const char* name;
    std::string content;
    std::string user, server, auth, smtpPassword;
  } cases[] = {
      {"no SMTP group", "[USER]\ntesselUsername = u\n", "u", "", "none", ""},
      {"binary garbage", "\x00\xFF[\x01=\x02\n\x89PNG\r\n\x00"s, "", "", "none", ""},
      {"lower-case names, BOM, LF and CR lines",
       "\xEF\xBB\xBF[user]\rTESSELUSERNAME= u2 \n[smtp]\nSERVER=\ts\t\nusetls=1\n", "u2", "", "tls",
       ""},
      {"broken lines", "[USER\n=orphan\n[]\nno equals sign\n[SMTP]\nserver = a = b\n", "", "",
       "none", ""},
      {"passwords that are no legacy text",
       "[SMTP]\npassword = XYZ\n[USER]\ntesselPassword = 0123456789abcdef\n", "", "", "none", ""},
      {"password from another machine", "[SMTP]\npassword = " + otherMachine + "\n", "", "", "none",
       "?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir caseDir;
    std::string caseFolder = caseDir.path();
    Preferences casePrefs(caseFolder);
    test::RecordingDialogs caseDialogs;
    writeFile(caseFolder + "tessel_client.ini", c.content);
    migratePredecessorSettings({casePrefs, caseDialogs, catalogue, caseFolder});
    auto read = [&](const char* key) { return casePrefs.readSetting(key, "<missing>", "WebApp"); };
    EXPECT_EQ(read("tesselUser"), c.user);
    EXPECT_EQ(read("providerUrl"), c.server);
    EXPECT_EQ(read("smtp_auth"), c.auth);
    EXPECT_EQ(read("beta"), "true");
    std::string deviceId = casePrefs.readSetting("deviceId", "", "");
    std::string smtpPassword = unprotectText(read("smtp_passwd"), deviceId);
    if (c.smtpPassword == "?") {
      // Unreadable here, but stored as valid text all the same.
      EXPECT_NE(smtpPassword, "secret");
      EXPECT_NO_THROW((void)nlohmann::json(smtpPassword).dump());
    } else {
      EXPECT_EQ(smtpPassword, c.smtpPassword);
      EXPECT_EQ(read("smtp_passwd").size(), 44u);  // the protected empty text
    }
    EXPECT_EQ(readFixedKeySecret(read("keyTest")), config::kLegacyCheckSentence);
  }
}

// Migrating defaults from a file that cannot be read would overwrite the
// settings with empty values and mark the migration done; it waits instead.
TEST_F(MigrationTest, UnreadablePredecessorFileLeavesEverythingForALaterStart) {
  prefs.writeSetting("smtp_server", "mine.example.ch", "WebApp");
  makeLeftovers(folder);
  auto directoryInPlace = [&] { fs::create_directory(oldFile); };
  auto fifoInPlace = [&] { ASSERT_EQ(mkfifo(oldFile.c_str(), 0600), 0); };
  auto oversized = [&] {
    writeFile(oldFile, "[USER]\ntesselUsername = u\n" + std::string(2 << 20, ';'));
  };
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"directory", directoryInPlace}, {"fifo", fifoInPlace}, {"oversized", oversized}};
  for (const auto& [name, makeIt] : cases) {
    SCOPED_TRACE(name);
    fs::remove_all(oldFile);
    makeIt();
    std::string settled = readFile(prefs.filePath());
    migrate();
    EXPECT_EQ(readFile(prefs.filePath()), settled);
    EXPECT_TRUE(fs::exists(folder + "ckeditor44/ckeditor.js"));
  }
  EXPECT_TRUE(dialogs.infos.empty());

  // Once the file is readable the migration runs.
  fs::remove_all(oldFile);
  writeFile(oldFile, predecessorIni("0", "0"));
  migrate();
  EXPECT_EQ(web("tesselUser"), "anna.muster");
  EXPECT_FALSE(fs::exists(folder + "ckeditor44"));
}

// The predecessor's data goes only when the carried-over settings are safely
// in the preferences file.
TEST_F(MigrationTest, PreferencesThatRefuseWritesKeepThePredecessorData) {
  prefs.writeSetting("smtp_server", "mine.example.ch", "WebApp");
  ASSERT_EQ(chmod(prefs.filePath().c_str(), 0400), 0);
  writeFile(oldFile, predecessorIni("1", "1"));
  makeLeftovers(folder);
  migrate();
  EXPECT_EQ(web("smtp_server"), "mine.example.ch");
  EXPECT_TRUE(dialogs.infos.empty());
  EXPECT_TRUE(fs::exists(folder + "ckeditor44/ckeditor.js"));
  EXPECT_TRUE(fs::exists(folder + "tessel_attachments/invoice.pdf"));
  EXPECT_TRUE(fs::exists(folder + "Logo.png"));
}

TEST_F(MigrationTest, RemovalKeepsReadOnlyFilesAndNeverFollowsLinks) {
  test::TempDir outside;
  writeFile(outside.path() + "precious.txt", "user data");
  writeFile(oldFile, predecessorIni("0", "0"));

  // A file where a folder is expected, and a link where a folder is expected.
  writeFile(folder + "ckeditor44", "not a folder");
  fs::create_directory_symlink(outside.path(), folder + "tessel_attachments");
  // A link in place of a file is only a link: removing it loses nothing.
  fs::create_symlink(outside.path() + "precious.txt", folder + "Logo.png");
  // A read-only leftover file stays.
  writeFile(folder + "tessel_default_message.txt", "read-only");
  fs::permissions(folder + "tessel_default_message.txt", fs::perms::owner_read);
  migrate();

  EXPECT_EQ(readFile(folder + "ckeditor44"), "not a folder");
  EXPECT_TRUE(fs::is_symlink(folder + "tessel_attachments"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "Logo.png")));
  EXPECT_TRUE(fs::exists(folder + "tessel_default_message.txt"));
  EXPECT_EQ(readFile(outside.path() + "precious.txt"), "user data");
}

TEST_F(MigrationTest, FolderRemovalStopsAtReadOnlyFilesAndLinksInside) {
  test::TempDir outside;
  fs::create_directories(outside.path() + "docs");
  writeFile(outside.path() + "docs/precious.txt", "user data");
  writeFile(oldFile, predecessorIni("0", "0"));

  fs::create_directories(folder + "ckeditor44/skins/moono");
  writeFile(folder + "ckeditor44/skins/moono/editor.css", "css");
  fs::create_directory_symlink(outside.path() + "docs", folder + "ckeditor44/docs-link");
  fs::create_directories(folder + "tessel_attachments/2019/03");
  writeFile(folder + "tessel_attachments/2019/03/kept.pdf", "pdf");
  fs::permissions(folder + "tessel_attachments/2019/03/kept.pdf", fs::perms::owner_read);
  writeFile(folder + "tessel_attachments/2019/gone.pdf", "pdf");
  fs::create_directories(folder + "tessel_attachments/2020");
  writeFile(folder + "tessel_attachments/2020/gone.pdf", "pdf");
  migrate();

  EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "ckeditor44")));
  EXPECT_EQ(readFile(outside.path() + "docs/precious.txt"), "user data");
  EXPECT_TRUE(fs::exists(folder + "tessel_attachments/2019/03/kept.pdf"));
  EXPECT_FALSE(fs::exists(folder + "tessel_attachments/2019/gone.pdf"));
  EXPECT_FALSE(fs::exists(folder + "tessel_attachments/2020"));
}

}  // namespace
}  // namespace vm
