// The seventeen bridge commands and their registration on the main web view.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/bridge_json.h"

namespace vm {

class WebView;

using BridgeHandler = std::function<BridgeAnswer(const std::string& argsJson)>;
using BridgeHandlers = std::map<std::string, BridgeHandler>;

// The command names in registration order.
inline constexpr std::array<const char*, 17> kBridgeCommandNames = {
    "getHostInfo", "setSetting",   "deleteSetting", "getSetting",  "getAllSettings", "openFile",
    "closeApp",    "reload",       "askProxy",      "sendLogEntry", "enableLog",     "attachFiles",
    "requestData", "openURL",      "sendMail",      "getAddresses", "sendLog"};

// The names of the table that have a handler, in table order; names outside
// the table are left out.
std::vector<std::string> bridgeRegistrationOrder(const BridgeHandlers& handlers);

// Binds every command of the table that has a handler, in table order.
void registerBridge(WebView& view, const BridgeHandlers& handlers);

}  // namespace vm
