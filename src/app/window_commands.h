// The bridge commands that steer the application's own window: closeApp,
// reload and openURL.
#pragma once

#include <functional>
#include <string>

#include "base/bridge_json.h"

namespace vm {

struct ProcessState;
class WebView;

// Sets the quit request flag and wakes the event loop; arguments are ignored.
BridgeAnswer closeAppCommand(ProcessState& state, const std::string& argsJson);

// Decides the application URL again and loads it, or the offline page when
// the answer is empty. The start-up marker "?o=1" is not added.
BridgeAnswer reloadCommand(WebView& view, const std::function<std::string()>& applicationUrl,
                           const std::string& offlinePage, const std::string& argsJson);

// Exactly one argument: the address, handed to opener as it is (a non-string
// element gives empty text).
BridgeAnswer openURLCommand(const std::function<void(const std::string&)>& opener,
                            const std::string& argsJson);

}  // namespace vm
