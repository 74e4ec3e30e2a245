// The per-user preferences file (INI, UTF-8 with BOM, CR LF). Every operation
// opens, uses and closes the file; nothing is cached between operations.
// Several client processes may share the file: every rewrite holds an
// advisory lock on "<file>.lock" beside it, reads the file again under the
// lock, applies its one change and renames a new file over it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "settings/ini_document.h"

namespace vm {

// The groups of the preferences file.
inline constexpr const char* kWebAppGroup = "WebApp";  // the page's settings and the mail account
inline constexpr const char* kWindowGroup = "main";    // the main window's place and size
inline constexpr const char* kUnnamedGroup = "";       // before the first group line

class Preferences {
 public:
  // Called once, with the file path, when the file can neither be read nor
  // created, or is something other than a regular file (a folder, a FIFO). From then on every operation does nothing and answers its
  // default: the client shows its error box once and ends after the step
  // that met the file. Tests record the call.
  using UnusableHandler = std::function<void(const std::string& filePath)>;

  // folder ends with "/"; it is created (one level) when missing.
  explicit Preferences(std::string folder, std::string fileName = "velomark_client.ini");

  void setUnusableHandler(UnusableHandler handler) { onUnusable_ = std::move(handler); }
  std::string filePath() const { return folder_ + fileName_; }

  // group "" is the empty group before the first group line.
  std::string readSetting(const std::string& key, const std::string& defaultValue,
                          const std::string& group);
  // A key that could not be read back as itself (see isStorableKey) is
  // refused with a log line; nothing is written.
  std::string writeSetting(const std::string& key, const std::string& value,
                           const std::string& group);
  void removeSetting(const std::string& key, const std::string& group);
  // Compact JSON object of the group's keys and values; "{}" for a missing group.
  std::string settingsAsJson(const std::string& group);

 private:
  // The file's content for a read; a missing file is made first. nullopt
  // when the file is unusable.
  std::optional<IniDocument> readDocument();
  // Runs change on the file's content under the lock and rewrites the file
  // when change answers true (or when the file had to be made).
  void changeDocument(const std::function<bool(IniDocument&)>& change);
  // From now on the file counts as unusable; runs the handler.
  void markUnusable();

  std::string folder_;
  std::string fileName_;
  UnusableHandler onUnusable_;
  bool unusable_ = false;
};

}  // namespace vm
