#include "settings/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/log.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "settings/ini_document.h"

namespace vm {

class Preferences::Session {
 public:
  explicit Session(Preferences& owner) : owner_(owner) {}

  // Loads the file, creating it when missing or empty. False when it can
  // neither be read nor created (now or before); the unusable handler runs
  // the first time.
  bool open() {
    if (owner_.unusable_) return false;
    makeFolders(owner_.folder_);
    std::string path = owner_.filePath();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      if (Result<std::string> bytes = readFile(path)) {
        doc_ = IniDocument::parse(*bytes);
        // A file without write permission is read-only, also for root.
        writable_ = (st.st_mode & S_IWUSR) && ::access(path.c_str(), W_OK) == 0;
        return true;
      }
    } else if (openFile(path, O_WRONLY | O_CREAT, 0600)) {
      dirty_ = true;
      return true;
    }
    owner_.unusable_ = true;
    if (owner_.onUnusable_) owner_.onUnusable_(path);
    return false;
  }

  IniDocument& doc() { return doc_; }
  void markChanged() { dirty_ = true; }

  void close() {
    if (!dirty_) return;
    std::string path = owner_.filePath();
    // The file holds the device identifier that keys the stored SMTP
    // password: a rewrite must never leave it truncated.
    Status written = writable_ ? replaceFileAtomically(path, doc_.serialize())
                               : Status(fail("read-only file", EACCES));
    if (!written) {
      writeLog("ERROR: Failed to write preferences file [" + path +
               "]: " + std::strerror(written.failure().code));
    }
  }

 private:
  Preferences& owner_;
  IniDocument doc_;
  bool dirty_ = false;
  bool writable_ = true;
};

Preferences::Preferences(std::string folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

std::string Preferences::readSetting(const std::string& key, const std::string& defaultValue,
                                     const std::string& group) {
  Session s(*this);
  if (!s.open()) return defaultValue;
  const std::string* found = s.doc().find(group, key);
  std::string value = found ? *found : defaultValue;
  s.close();
  return value;
}

std::string Preferences::writeSetting(const std::string& key, const std::string& value,
                                      const std::string& group) {
  Session s(*this);
  if (!s.open()) return value;
  s.doc().set(group, key, value);
  s.markChanged();
  s.close();
  return value;
}

void Preferences::removeSetting(const std::string& key, const std::string& group) {
  Session s(*this);
  if (!s.open()) return;
  if (s.doc().remove(group, key)) s.markChanged();
  s.close();
}

std::string Preferences::settingsAsJson(const std::string& group) {
  Session s(*this);
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  if (s.open()) {
    for (const auto& [key, value] : s.doc().entries(group)) object[key] = value;
    s.close();
  }
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace vm
