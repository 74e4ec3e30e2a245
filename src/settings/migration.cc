#include "settings/migration.h"

#include <sys/stat.h>

#include <climits>
#include <cerrno>
#include <cctype>
#include <filesystem>
#include <optional>

#include "build_config.h"
#include "base/log.h"
#include "base/numbers.h"
#include "i18n/catalogue.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "settings/device_identity.h"
#include "settings/ini_document.h"
#include "settings/preferences.h"
#include "settings/secret_protection.h"

namespace vm {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPredecessorFile = "tessel_client.ini";
// The predecessor's settings file holds a dozen short lines; anything this
// large is not that file and is not read into memory.
constexpr std::size_t kMaxPredecessorFileSize = 1 << 20;

enum class PredecessorFile { Absent, Unreadable, Read };

// Only a regular file of sane size is read, and a FIFO put in the file's
// place cannot hang the start-up.
PredecessorFile readPredecessorFile(const std::string& path, std::string* bytes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return PredecessorFile::Absent;
  if (S_ISREG(st.st_mode) && st.st_size == 0) return PredecessorFile::Absent;

  Result<std::string> read =
      readFile(path, {.maxBytes = kMaxPredecessorFileSize, .regularFileOnly = true});
  if (!read) return PredecessorFile::Unreadable;
  *bytes = std::move(*read);
  return PredecessorFile::Read;
}

// A leftover without write permission for its owner was marked read-only by
// the user, that is, to be kept; it is not removed.
bool isReadOnlyFile(const fs::path& path) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  return !ec && fs::is_regular_file(st) &&
         (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

// Removes a folder with everything in it, except read-only files and the
// folders that hold them. Symbolic links are removed as links and never
// followed, so nothing outside the folder can be reached through them.
// True when the folder is gone.
bool removeTree(const fs::path& folder) {
  std::error_code ec;
  bool everythingGone = true;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    std::error_code statEc;
    fs::file_status st = fs::symlink_status(entry, statEc);
    if (statEc) {
      everythingGone = false;
    } else if (fs::is_directory(st)) {
      everythingGone = removeTree(entry) && everythingGone;
    } else if (isReadOnlyFile(entry)) {
      everythingGone = false;
    } else {
      std::error_code rmEc;
      everythingGone = fs::remove(entry, rmEc) && everythingGone;
    }
  }
  if (ec || !everythingGone) return false;
  std::error_code rmEc;
  return fs::remove(folder, rmEc);
}

// Only a real folder is removed: a file or a link under a folder's name is left alone.
void removeFolderIfFolder(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(path, ec))) removeTree(path);
}

void removeFileIfFile(const fs::path& path) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  if (ec || !(fs::is_regular_file(st) || fs::is_symlink(st)) || isReadOnlyFile(path)) return;
  fs::remove(path, ec);
}

std::string valueOr(const IniDocument& doc, const char* group, const char* key) {
  const std::string* value = doc.find(group, key);
  return value ? *value : std::string();
}

}  // namespace

long long leadingWholeNumber(const std::string& text) {
  // A flag counts only when its digits begin at the first character;
  // leadingInteger alone would also take them after white space.
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return 0;
  return leadingInteger(text).value_or(0);
}

void migratePredecessorSettings(const MigrationEnvironment& env) {
  Preferences& prefs = env.prefs;
  if (!prefs.readSetting("tesselUser", "", kWebAppGroup).empty()) return;
  // A predecessor file without a user name leaves "tesselUser" empty; without
  // a mark of its own the migration would run again at every start, undoing
  // the user's later SMTP settings and removing the app password each time.
  // appPasswordTime is only ever written here, so it also marks migrations
  // done before the mark existed.
  if (!prefs.readSetting(kMigrationDoneKey, "", kUnnamedGroup).empty() ||
      !prefs.readSetting("appPasswordTime", "", kWebAppGroup).empty())
    return;

  const std::string path = env.folder + kPredecessorFile;
  std::string bytes;
  PredecessorFile state = readPredecessorFile(path, &bytes);
  if (state == PredecessorFile::Absent) return;
  writeLog("Try migration of old tessel client settings...");
  // Migrating defaults in place of an unreadable file would overwrite the
  // settings with empty values and mark the work done; leaving everything
  // as it is lets a later start try again once the file can be read.
  if (state == PredecessorFile::Unreadable) {
    writeLog("ERROR: Cannot read [" + path + "], migration skipped");
    return;
  }

  IniDocument old = IniDocument::parse(bytes);
  const std::string userName = valueOr(old, "USER", "tesselUsername");
  const std::string server = valueOr(old, "USER", "tesselServer");
  const std::string accountPassword = valueOr(old, "USER", "tesselPassword");
  const std::string smtpServer = valueOr(old, "SMTP", "server");
  const std::string smtpLogin = valueOr(old, "SMTP", "username");
  const std::string smtpSender = valueOr(old, "SMTP", "senderAddress");
  const std::string smtpReply = valueOr(old, "SMTP", "returnAddress");
  const std::string smtpPassword = valueOr(old, "SMTP", "password");
  const long long useTls = leadingWholeNumber(valueOr(old, "SMTP", "useTLS"));
  const long long usePass = leadingWholeNumber(valueOr(old, "SMTP", "usePass"));

  const std::string fixedKey = config::kLegacyKeyText;
  const std::string deviceId = deviceIdentifier(prefs);
  const std::string tesselPass =
      protectTextLegacy(unprotectMachineLegacy(accountPassword), fixedKey);
  const std::string smtpPasswd = protectText(unprotectMachineLegacy(smtpPassword), deviceId);
  const std::string keyTest = protectTextLegacy(config::kLegacyCheckSentence, fixedKey);

  prefs.writeSetting("keyTest", keyTest, kWebAppGroup);
  prefs.writeSetting("tesselUser", userName, kWebAppGroup);
  prefs.writeSetting("providerUrl", server, kWebAppGroup);
  prefs.writeSetting("tesselPass", tesselPass, kWebAppGroup);
  prefs.writeSetting("smtp_server", smtpServer, kWebAppGroup);
  prefs.writeSetting("smtp_login", smtpLogin, kWebAppGroup);
  prefs.writeSetting("smtp_sender", smtpSender, kWebAppGroup);
  prefs.writeSetting("smtp_reply", smtpReply, kWebAppGroup);
  prefs.writeSetting("smtp_passwd", smtpPasswd, kWebAppGroup);
  prefs.writeSetting("smtp_auth", useTls == 1 ? "tls" : "none", kWebAppGroup);

  const std::string now = std::to_string(localSecondsNow());
  prefs.writeSetting("secKey", sha256Hex(deviceId + now), kWebAppGroup);
  prefs.writeSetting("appPasswordTime", now, kWebAppGroup);
  prefs.removeSetting("appPassword", kWebAppGroup);

  // The predecessor's data goes only once the carried-over settings are known
  // to be on disk; a preferences file that silently refuses writes would
  // otherwise lose them together with the predecessor's files.
  prefs.writeSetting(kMigrationDoneKey, now, kUnnamedGroup);
  if (prefs.readSetting(kMigrationDoneKey, "", kUnnamedGroup) != now) {
    writeLog("ERROR: Migrated settings could not be stored in [" + prefs.filePath() + "]");
    return;
  }

  if (usePass > 0) env.dialogs.showInfo(catalogueText(env.catalogue, "cantMigrateKey"));

  const fs::path folder(env.folder);
  removeFolderIfFolder(folder / "ckeditor44");
  removeFolderIfFolder(folder / "tessel_attachments");
  removeFileIfFile(folder / "Logo.png");
  removeFileIfFile(folder / "tessel_default_message.htm");
  removeFileIfFile(folder / "tessel_default_message.txt");

  prefs.writeSetting("beta", "true", kWebAppGroup);
  writeLog("Migration done");
}

}  // namespace vm
