// The bridge commands that steer the application's own window: closeApp,
// reload and openURL.
#pragma once

#include <functional>
#include <string>
#include <string_view>

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

// Exactly one argument: the address, handed to opener as it is when it is
// an http, https or mailto address (isOpenableAddress); anything else (a
// non-string element gives empty text) is logged as refused and not opened.
BridgeAnswer openURLCommand(const std::function<void(const std::string&)>& opener,
                            const std::string& argsJson);

// An address that openURL hands to the system: "http://", "https://" or
// "mailto:" (letters in either case) in front, and no control character.
// Files, other schemes and texts the opener would read as options are not.
bool isOpenableAddress(std::string_view address);

}  // namespace vm
