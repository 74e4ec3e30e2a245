// The bridge commands setSetting, getSetting, deleteSetting and
// getAllSettings; all work on the group "WebApp".
#pragma once

#include <string>

#include "base/bridge_json.h"

namespace vm {

class Preferences;

// setSetting refuses a longer value (1 MiB), with a log line.
inline constexpr std::size_t kMaxSettingValueBytes = 1024 * 1024;

BridgeAnswer setSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer getSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer deleteSettingCommand(Preferences& prefs, const std::string& argsJson);
BridgeAnswer getAllSettingsCommand(Preferences& prefs, const std::string& argsJson);

}  // namespace vm
