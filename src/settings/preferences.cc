#include "settings/preferences.h"

namespace vm {

Preferences::Preferences(std::string folder, std::string fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

// The file format and the four operations come with the settings work.
std::string Preferences::readSetting(const std::string&, const std::string& defaultValue,
                                     const std::string&) {
  return defaultValue;
}
std::string Preferences::writeSetting(const std::string&, const std::string& value,
                                      const std::string&) {
  return value;
}
void Preferences::removeSetting(const std::string&, const std::string&) {}
std::string Preferences::settingsAsJson(const std::string&) { return "{}"; }

}  // namespace vm
