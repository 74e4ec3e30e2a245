// The command-line table: one-character option keys, bare parameters as
// "-1", "-2", ...; later values overwrite earlier ones.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vm {

class CommandLine {
 public:
  // params: the program parameters without the program name.
  static CommandLine parse(const std::vector<std::string>& params);
  // Empty text for a key that was never given.
  std::string value(const std::string& key) const;
  const std::map<std::string, std::string>& entries() const { return entries_; }
  bool wantsUsage() const { return value("?") == "1" || value("h") == "1"; }
  // The file to open: the first bare parameter followed directly by the "i"
  // value (normally only one of them is given); empty when neither is.
  std::string fileToOpen() const { return value("-1") + value("i"); }

 private:
  std::map<std::string, std::string> entries_;
};

// The file to open that a later start's parameters name, as this process
// finds it: a relative path is taken from the later start's working folder.
std::string laterStartFileToOpen(const std::vector<std::string>& params,
                                 const std::string& workingFolder);

// The seven usage lines, each ending in "\n".
std::string usageText();

}  // namespace vm
