// The bridge commands setSetting, getSetting, deleteSetting and
// getAllSettings; all work on the group "WebApp".
#pragma once

#include <string>

#include "base/bridge_json.h"

namespace vm {

class Preferences;

BridgeAnswer setSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer getSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer deleteSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer getAllSettingsCommand(Preferences& prefs, const std::string& argsJson);

}  // namespace vm
