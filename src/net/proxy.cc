#include "net/proxy.h"

#include <utility>
#include <vector>

#include "base/log.h"
#include "base/numbers.h"
#include "base/regex_match.h"
#include "base/text.h"
#include "net/http_client.h"
#include "platform/dialogs.h"
#include "platform/webview.h"
#include "settings/preferences.h"

namespace vm {
namespace {

constexpr const char* kPacPrefix = "pac:";

// The text of credentials up to the first ":" and between the first and
// the second, both trimmed: a colon inside the password cuts it.
std::pair<std::string, std::string> splitCredentials(const std::string& credentials) {
  auto first = credentials.find(':');
  if (first == std::string::npos) return {std::string(trimBlanks(credentials)), {}};
  auto second = credentials.find(':', first + 1);
  std::string password = credentials.substr(
      first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  return {std::string(trimBlanks(credentials.substr(0, first))), std::string(trimBlanks(password))};
}

std::string lowerSchemeAt(const std::string& text, std::string::size_type start) {
  auto separator = text.find("://", start);
  if (separator == std::string::npos) return text;
  for (auto i = start; i < separator; ++i)
    if (!isAsciiLetter(text[i]) && !(text[i] >= '0' && text[i] <= '9')) return text;
  return text.substr(0, start) + lowerAscii(text.substr(start, separator - start)) +
         text.substr(separator);
}

void applyNoProxy(ProxyContext& ctx) {
  writeLog("Don't use proxy server");
  ctx.webViewProxy = {"", 8080, "", ""};
  ctx.http.setProxy({});
}

}  // namespace

std::string withLowerCaseScheme(const std::string& setting) {
  if (lowerAscii(setting.substr(0, 4)) == kPacPrefix)
    return lowerSchemeAt(kPacPrefix + setting.substr(4), 4);
  return lowerSchemeAt(setting, 0);
}

std::optional<ProxySettings> parseManualProxy(const std::string& text) {
  std::vector<std::string> groups;
  if (regexGroups(text, kManualProxyPattern, groups) < 3) return std::nullopt;
  ProxySettings proxy;
  proxy.address = groups[1] + ":" + groups[2];
  proxy.host = groups[1];
  proxy.port = static_cast<std::int32_t>(leadingInt(groups[2]).value_or(0));
  auto [user, password] = splitCredentials(groups[3]);
  proxy.user = std::move(user);
  proxy.password = std::move(password);
  return proxy;
}

std::string effectiveProxyText(const ProxySettings& proxy) {
  std::string text = proxy.address;
  if (!proxy.user.empty()) {
    text += " " + proxy.user;
    if (!proxy.password.empty()) text += ":" + proxy.password;
  }
  return text;
}

std::string proxyCredentialsLogLine(const std::string& user, const std::string& password) {
  return "Setting proxy credentials [" + user + "] / [" + (password.empty() ? "" : "***") + "]";
}

bool resolveProxy(ProxyContext& ctx, const std::string& setting, const std::string& appUrl,
                  ProxySettings& proxy) {
  const std::string key = setting + appUrl;
  if (ctx.remembered.key == key && !ctx.remembered.settings.host.empty()) {
    proxy = ctx.remembered.settings;
    return true;
  }
  std::string manual = withLowerCaseScheme(setting);
  if (manual.starts_with(kPacPrefix)) {
    std::optional<std::string> resolved =
        ctx.resolvePac ? ctx.resolvePac(manual, appUrl) : std::nullopt;
    if (!resolved) return false;
    manual = *resolved;
  }
  std::optional<ProxySettings> parsed = parseManualProxy(manual);
  if (!parsed) {
    ctx.dialogs.showTitledError(
        kPacErrorTitle,
        "Invalid proxy configuration. Cannot parse the three needed values. Check format!");
    return false;
  }
  proxy = *parsed;
  ctx.remembered = {key, proxy};
  return true;
}

void applyProxySettings(ProxyContext& ctx, const std::string& appUrl) {
  ctx.effectiveProxy.clear();
  const std::string setting(trimBlanks(ctx.prefs.readSetting(kProxySettingKey, "", kUnnamedGroup)));
  ProxySettings proxy;
  if (setting.empty() || !resolveProxy(ctx, setting, appUrl, proxy)) {
    applyNoProxy(ctx);
    return;
  }
  writeLog("Setting proxy values [" + proxy.host + "] / [" + std::to_string(proxy.port) + "]");
  writeLog(proxyCredentialsLogLine(proxy.user, proxy.password));
  ctx.webViewProxy = {proxy.host, proxy.port, proxy.user, proxy.password};
  ctx.http.setProxy({proxy.host + ":" + std::to_string(proxy.port), proxy.user, proxy.password});
  ctx.effectiveProxy = effectiveProxyText(proxy);
}

}  // namespace vm
