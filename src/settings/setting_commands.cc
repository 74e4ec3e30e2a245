#include "settings/setting_commands.h"

#include "base/log.h"
#include "settings/preferences.h"

namespace vm {

BridgeAnswer setSettingCommand(Preferences& prefs, const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 2, "setSettings had wrong parameter count!");
  if (!args) return std::nullopt;
  std::string key = jsonStringOrEmpty((*args)[0]);
  std::string value = settingValueText((*args)[1]);
  args.reset();
  // Every operation reads the whole file: one huge value would slow every
  // later call of the page and of the client.
  if (value.size() > kMaxSettingValueBytes) {
    writeLog("ERROR: Refused setting value of [" + key + "]: " + std::to_string(value.size()) +
             " bytes, more than " + std::to_string(kMaxSettingValueBytes));
    return std::nullopt;
  }
  prefs.writeSetting(key, value, kWebAppGroup);
  return std::nullopt;
}

BridgeAnswer getSettingCommand(Preferences& prefs, const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 2, "getSetting had wrong parameter count!");
  if (!args) return std::nullopt;
  std::string key = jsonStringOrEmpty((*args)[0]);
  std::string defaultValue = settingValueText((*args)[1]);
  return jsonStringAnswer(prefs.readSetting(key, defaultValue, kWebAppGroup));
}

BridgeAnswer deleteSettingCommand(Preferences& prefs, const std::string& argsJson) {
  auto args = parseBridgeArgs(argsJson);
  if (!args || args->size() != 1) writeLog("deleteSetting had wrong parameter count!");
  if (!args || args->empty()) return std::nullopt;
  prefs.removeSetting(jsonStringOrEmpty((*args)[0]), kWebAppGroup);
  return std::nullopt;
}

BridgeAnswer getAllSettingsCommand(Preferences& prefs, const std::string&) {
  return prefs.settingsAsJson(kWebAppGroup);
}

}  // namespace vm
