#include "app/host_info.h"

#include "app/app_url.h"
#include "platform/host_platform.h"
#include "platform/paths.h"
#include "settings/device_identity.h"

namespace vm {

std::string hostInfoJson(const HostInfoSources& s) {
  // ordered_json keeps the members in insertion order.
  nlohmann::ordered_json info = nlohmann::ordered_json::object();
  info["os"] = operatingSystem(false);
  info["version"] = s.versionText;
  info["mode"] = s.channel.mode;
  info["channel"] = s.channel.channel;
  info["deviceName"] = hostName();
  info["deviceID"] = deviceIdentifier(s.prefs);
  info["proxy"] = s.effectiveProxy;
  info["developerMode"] = s.developerMode;
  // A host name or setting is not guaranteed to be UTF-8; replace rather than throw.
  return info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

BridgeAnswer getHostInfoCommand(const HostInfoSources& sources, const std::string& /*argsJson*/) {
  return hostInfoJson(sources);
}

}  // namespace vm
