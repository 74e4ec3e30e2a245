#include "app/app_url.h"

#include <random>

#include "build_config.h"
#include "base/log.h"
#include "net/http_client.h"
#include "base/regex_match.h"
#include "platform/dialogs.h"
#include "platform/worker.h"
#include "settings/preferences.h"

namespace vm {

namespace {

constexpr const char* kProbeFile = "check.html?t=";
constexpr const char* kAppPage = "velomark.html";

std::string drawProbeToken() {
  // The token only defeats caches between client and server; it is no secret.
  std::random_device rd;
  std::uniform_int_distribution<int> dist(100000, 999999);
  return std::to_string(dist(rd));
}

void applyProxy(AppUrlContext& ctx, const std::string& base) {
  if (ctx.applyProxySettings) ctx.applyProxySettings(base);
}

// Developer server; empty when there is none, it is invalid or not reached
// (the user has been told).
std::string tryDeveloperServer(AppUrlContext& ctx, const std::string& token) {
  const std::string developer = ctx.prefs.readSetting("developer", "", kWebAppGroup);
  if (developer.empty()) return {};
  if (!matchRegex(developer, kDeveloperSettingPattern)) {
    ctx.dialogs.showError("Developer setting is no valid subdomain to " + ctx.servers.domain +
                          "! (must be subdomain:port)");
    return {};
  }
  const auto colon = developer.find(':');
  const std::string base = "https://" + developer.substr(0, colon) + "." + ctx.servers.domain +
                           ":" + developer.substr(colon + 1) + "/";
  writeLog("Test Developer URL: [" + base + "]");
  applyProxy(ctx, base);
  // Developer servers run with certificates of their own making.
  if (iCheckURLExists(ctx.http, base + kProbeFile + token, true)) {
    ctx.channel.channel = "(no channel in developer mode)";
    ctx.channel.mode = "developer";
    return base + kAppPage;
  }
  ctx.dialogs.showError("Developer subdomain not reached!");
  return {};
}

}  // namespace

AppServers AppServers::fromBuildConfig() { return {config::kAppHostTemplate, config::kAppDomain}; }

std::string withServerNumber(const std::string& text, int n) {
  static const std::string placeholder = "%id%";
  const std::string number = std::to_string(n);
  std::string out;
  std::string::size_type start = 0;
  while (true) {
    auto at = text.find(placeholder, start);
    if (at == std::string::npos) break;
    out.append(text, start, at - start);
    out += number;
    start = at + placeholder.size();
  }
  out.append(text, start, std::string::npos);
  return out;
}

bool iCheckURLExists(HttpClient& http, const std::string& url, bool skipCertificateChecks,
                     const ProbeTransfer& transfer) {
  http.setTimeouts(kReachabilityTimeouts);
  writeLog("iCheckURLExists: [" + url + "]");
  HttpRequest req;
  req.url = url;
  req.verifyCertificates = !skipCertificateChecks;
  // A probe may take 15 seconds; the window keeps answering meanwhile. The
  // worker uses a copy, so nothing of the client changes under it.
  HttpResult res;
  if (transfer) {
    res = transfer(http, req);
  } else {
    runOnWorkerAndWait([&res, &req, client = HttpClient(http)] { res = client.perform(req); });
  }
  if (res.curlCode == CURLE_FAILED_INIT && res.status == 0) {
    writeLog("ERROR: Request creation failed");
    return false;
  }
  if (res.ok && res.status == 200 && res.body == "OK") return true;
  writeLog("ERROR: " + res.error + " [" + std::to_string(res.status) + "]");
  return false;
}

std::string determineAppUrl(AppUrlContext& ctx) {
  const std::string token = drawProbeToken();

  std::string url = tryDeveloperServer(ctx, token);
  if (!url.empty()) return url;

  std::string baseTemplate = "https://" + ctx.servers.hostTemplate + "/pc/";
  ctx.channel = {"release", "release"};
  if (!ctx.prefs.readSetting("beta", "", kWebAppGroup).empty()) {
    writeLog("We're in Beta mode");
    baseTemplate = "https://" + ctx.servers.hostTemplate + "/pc-qa/";
    ctx.channel = {"pc-qa", "qa"};
  }

  applyProxy(ctx, withServerNumber(baseTemplate, 1));

  for (int n = 1; n <= 3; ++n) {
    const std::string base = withServerNumber(baseTemplate, n);
    const std::string probe = base + kProbeFile + token;
    writeLog("Checking [" + probe + "]");
    if (ctx.serverAhead) ctx.serverAhead(base);
    if (iCheckURLExists(ctx.http, probe, false)) {
      writeLog("Use application URL: [" + base + kAppPage + "]");
      return base + kAppPage;
    }
  }
  return {};
}

}  // namespace vm
