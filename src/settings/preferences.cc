#include "settings/preferences.h"

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/log.h"
#include "base/utf8.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "settings/ini_document.h"

namespace vm {

namespace {

// A rewrite waits this long for another client process's rewrite (which
// takes milliseconds) before it gives up.
constexpr int kLockWaitMs = 5000;

// What a look at the file found.
struct StoredFile {
  enum class Kind { Found, Missing, Unusable } kind;
  IniDocument doc;
};

// Reads the file without blocking: a FIFO, a device or a folder at its path
// is unusable, so is a file that cannot be read; a missing or empty file is
// made anew by the caller.
StoredFile readStoredFile(const std::string& path) {
  Result<std::string> bytes = readFile(path, {.regularFileOnly = true});
  if (!bytes) {
    return {bytes.failure().code == ENOENT ? StoredFile::Kind::Missing : StoredFile::Kind::Unusable,
            {}};
  }
  if (bytes->empty()) return {StoredFile::Kind::Missing, {}};
  return {StoredFile::Kind::Found, IniDocument::parse(*bytes)};
}

}  // namespace

Preferences::Preferences(std::string folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

void Preferences::markUnusable() {
  unusable_ = true;
  if (onUnusable_) onUnusable_(filePath());
}

std::optional<IniDocument> Preferences::readDocument() {
  if (unusable_) return std::nullopt;
  makeFolders(folder_);
  StoredFile stored = readStoredFile(filePath());
  if (stored.kind == StoredFile::Kind::Found) return std::move(stored.doc);
  if (stored.kind == StoredFile::Kind::Unusable) {
    markUnusable();
    return std::nullopt;
  }
  // Missing: made anew under the lock, unless another process has made it meanwhile.
  std::optional<IniDocument> made;
  changeDocument([&made](IniDocument& doc) {
    made = doc;
    return false;
  });
  return unusable_ ? std::nullopt : made;
}

void Preferences::changeDocument(const std::function<bool(IniDocument&)>& change) {
  if (unusable_) return;
  makeFolders(folder_);
  const std::string path = filePath();
  // Under the lock the file is read again, so the one change applies to what
  // another client process has written in the meantime; readers need no lock
  // because every rewrite replaces the file whole.
  Result<FileDescriptor> lock = lockFile(path + ".lock", kLockWaitMs);
  StoredFile stored = readStoredFile(path);
  const bool creating = stored.kind == StoredFile::Kind::Missing;
  if (stored.kind == StoredFile::Kind::Unusable || (creating && !lock)) {
    markUnusable();
    return;
  }
  if (!change(stored.doc) && !creating) return;
  // The file holds the device identifier that keys the stored SMTP password:
  // a rewrite must never leave it truncated.
  Status written = !lock      ? Status(lock.failure())
                   : creating ? Status()
                              : mayChangeFile(path);
  if (written) written = replaceFileAtomically(path, stored.doc.serialize());
  if (written) return;
  if (creating) {
    markUnusable();
    return;
  }
  writeLog("ERROR: Failed to write preferences file [" + path +
           "]: " + std::strerror(written.failure().code));
}

std::string Preferences::readSetting(const std::string& key, const std::string& defaultValue,
                                     const std::string& group) {
  std::optional<IniDocument> doc = readDocument();
  const std::string* found = doc ? doc->find(group, key) : nullptr;
  return found ? *found : defaultValue;
}

std::string Preferences::writeSetting(const std::string& key, const std::string& value,
                                      const std::string& group) {
  if (!isStorableKey(key)) {
    writeLog("ERROR: Refused setting key [" + key + "]");
    return value;
  }
  changeDocument([&](IniDocument& doc) {
    doc.set(group, key, value);
    return true;
  });
  return value;
}

void Preferences::removeSetting(const std::string& key, const std::string& group) {
  changeDocument([&](IniDocument& doc) { return doc.remove(group, key); });
}

std::string Preferences::settingsAsJson(const std::string& group) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  if (std::optional<IniDocument> doc = readDocument()) {
    // Another program may have written bytes that are not UTF-8; the answer
    // must stay JSON.
    for (const auto& [key, value] : doc->entries(group)) object[validUtf8(key)] = validUtf8(value);
  }
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace vm
