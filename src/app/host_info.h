// The getHostInfo bridge command: what the web application learns about the
// host it runs in.
#pragma once

#include <string>

#include "base/bridge_json.h"

namespace vm {

struct AppChannel;
class Preferences;

// Where the eight members come from; the caller fills it from the
// process-wide state.
struct HostInfoSources {
  const std::string& versionText;     // " 5.0.0-140"
  const AppChannel& channel;          // mode and channel of the last determination
  const std::string& effectiveProxy;  // empty while no proxy is used
  const std::string& developerMode;   // "true" or empty
  Preferences& prefs;                 // holds (and on first use makes) the device identifier
};

// Compact JSON object with os, version, mode, channel, deviceName, deviceID,
// proxy and developerMode, all strings, in this order.
std::string hostInfoJson(const HostInfoSources& sources);

// The bridge command; its arguments are ignored.
BridgeAnswer getHostInfoCommand(const HostInfoSources& sources, const std::string& argsJson);

}  // namespace vm
