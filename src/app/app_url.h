// Where the web application is loaded from: a developer server named in the
// settings, the QA channel or the release channel, each probed for "OK".
#pragma once

#include <functional>
#include <string>

namespace vm {

class Dialogs;
class HttpClient;
class Preferences;
struct HttpRequest;
struct HttpResult;

// Runs one probe's transfer and answers its result; an empty one runs it
// on a worker while the main loop turns.
using ProbeTransfer = std::function<HttpResult(const HttpClient&, const HttpRequest&)>;

// What the last determination selected; getHostInfo reports it. Both texts
// are empty before the first determination.
struct AppChannel {
  std::string channel;  // "release", "pc-qa" or "(no channel in developer mode)"
  std::string mode;     // "release", "qa" or "developer"
};

// The servers to choose from. The client always uses fromBuildConfig();
// only test tools build other values, to reach servers on loopback.
struct AppServers {
  std::string hostTemplate;  // "%id%" stands for the server number; may carry ":port"
  std::string domain;        // developer servers are sub-domains of it
  static AppServers fromBuildConfig();
};

struct AppUrlContext {
  Preferences& prefs;
  Dialogs& dialogs;
  HttpClient& http;
  AppChannel& channel;  // overwritten by every determination
  AppServers servers = AppServers::fromBuildConfig();
  // Hands the proxy for the servers of a base address to the web view and the
  // HTTP client, before those servers are contacted (applyProxySettings).
  // Test tools may leave it empty; probes then use the client's proxy as it is.
  std::function<void(const std::string& baseAddress)> applyProxySettings;
  // Told each server's base address before it is probed; may be empty.
  std::function<void(const std::string& baseAddress)> serverAhead;
};

inline constexpr const char* kDeveloperSettingPattern = "^[-a-z0-9.]+:\\d{2,5}$";

// The address of the application page, or empty text when no server answered.
std::string determineAppUrl(AppUrlContext& context);

// The reachability probe: GET url, true only for status 200 with the body
// exactly "OK". Sets the client's process-wide time limits first.
bool iCheckURLExists(HttpClient& http, const std::string& url, bool skipCertificateChecks,
                     const ProbeTransfer& transfer = {});

// "%id%" replaced by n everywhere in text.
std::string withServerNumber(const std::string& text, int n);

}  // namespace vm
