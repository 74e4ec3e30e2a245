// The "proxy" setting: its three forms (empty, manual, "pac:"), its
// resolution to one proxy, and the hand-over of that proxy to the two
// network users, the shared HTTP client and the web view.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vm {

class Dialogs;
class HttpClient;
class Preferences;
struct WebViewProxy;

// The resolved proxy.
struct ProxySettings {
  std::string address;  // scheme "://" host ":" port
  std::string host;     // scheme "://" host
  std::int32_t port = 0;
  std::string user;
  std::string password;
};

// The one resolution remembered per run: the setting text followed by the
// application URL it was resolved for, and its proxy.
struct RememberedProxy {
  std::string key;
  ProxySettings settings;
};

inline constexpr const char* kProxySettingKey = "proxy";  // in the unnamed group
inline constexpr const char* kManualProxyPattern =
    R"(^((?:http|https|socks|socks4|socks5):\/\/.*):(\d{2,5})\s*?(.*?)$)";
inline constexpr const char* kPacErrorTitle = "PAC error";

// The setting with the "pac:" prefix and the scheme (of the proxy, or of
// the PAC location) in lower case; everything else keeps its case.
std::string withLowerCaseScheme(const std::string& setting);

// The manual form parsed; nullopt when it does not match kManualProxyPattern.
std::optional<ProxySettings> parseManualProxy(const std::string& text);

// What getHostInfo reports: address, then " " + user when there is one,
// then ":" + password when there is one too.
std::string effectiveProxyText(const ProxySettings& proxy);

// The log line of the credentials: the user name as it is, a password that
// is not empty as "***" (the log goes to support with sendLog).
std::string proxyCredentialsLogLine(const std::string& user, const std::string& password);

// A PAC setting resolved to the manual form, or nullopt for "no proxy" (the
// user has been told or the log says why).
using PacResolver =
    std::function<std::optional<std::string>(const std::string& setting, const std::string& appUrl)>;

struct ProxyContext {
  Preferences& prefs;
  Dialogs& dialogs;
  HttpClient& http;
  WebViewProxy& webViewProxy;   // read when the main web view is created
  std::string& effectiveProxy;  // getHostInfo's "proxy"
  RememberedProxy& remembered;
  PacResolver resolvePac;
};

// True with the proxy filled, or false for "no proxy" (after the box when
// the setting does not parse). A resolution that gave a proxy is reused for
// the same setting and URL without reading the PAC file again.
bool resolveProxy(ProxyContext& context, const std::string& setting, const std::string& appUrl,
                  ProxySettings& proxy);

// Reads the setting, resolves it for appUrl and hands the result to the web
// view (for its creation) and the HTTP client (for every later request).
void applyProxySettings(ProxyContext& context, const std::string& appUrl);

}  // namespace vm
