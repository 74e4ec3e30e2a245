#include "net/pac.h"

#include <vector>

#include "base/log.h"
#include "base/regex_match.h"
#include "base/text.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "platform/worker.h"

namespace vm {
namespace {

constexpr const char* kProxySchemes[] = {"http://", "https://", "socks://", "socks4://",
                                         "socks5://"};

}  // namespace

std::string loadText(HttpClient& http, const std::string& location) {
  const std::string lower = lowerAscii(location);
  if (lower.starts_with("http://") || lower.starts_with("https://")) {
    // At start-up the PAC file comes before the first probe has set the
    // program's time limits; without them a server that never answers
    // would hold the window for good.
    if (http.timeouts().connectMs == 0 && http.timeouts().totalMs == 0)
      http.setTimeouts(kReachabilityTimeouts);
    // The window keeps answering while the file comes; the worker uses a
    // copy of the client, so nothing of it changes under the transfer.
    HttpResult result;
    runOnWorkerAndWait([&result, &location, client = HttpClient(http)] {
      result = client.get(location);
    });
    if (!result.ok) {
      writeLog("ERROR: Unable to open/access URL [" + location + "]");
      return {};
    }
    return result.body;
  }
  Result<std::string> content = readSharedFile(location, kMaxHttpBodyBytes);
  if (!content) {
    writeLog("ERROR: Unable to open/access file [" + location + "]");
    return {};
  }
  return std::move(*content);
}

PacChoice scanPacResult(const std::string& result) {
  std::string::size_type start = 0;
  while (start < result.size()) {
    auto semicolon = result.find(';', start);
    std::string entry(trimBlanks(std::string_view(result).substr(
        start, semicolon == std::string::npos ? std::string::npos : semicolon - start)));
    if (entry.empty()) break;
    if (entry.starts_with("DIRECT")) return {PacChoice::Kind::Direct, {}};
    if (entry.starts_with("PROXY")) {
      std::string address(trimBlanks(std::string_view(entry).substr(5)));
      if (address.empty()) break;  // names no proxy
      return {PacChoice::Kind::Proxy, std::move(address)};
    }
    if (semicolon == std::string::npos) break;
    start = semicolon + 1;
  }
  return {};
}

std::string manualProxyForPac(const std::string& address, const std::string& credentials) {
  bool hasScheme = false;
  for (const char* scheme : kProxySchemes) hasScheme = hasScheme || address.starts_with(scheme);
  return (hasScheme ? address : "http://" + address) + " " + credentials;
}

std::string hostOfUrl(const std::string& url) {
  auto separator = url.find("://");
  auto start = separator == std::string::npos ? 0 : separator + 3;
  auto end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
  if (auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  if (authority.starts_with("[")) {
    auto close = authority.find(']');
    return authority.substr(1, close == std::string::npos ? close : close - 1);
  }
  return authority.substr(0, authority.find(':'));
}

std::optional<std::string> resolvePacReference(PacContext& ctx, const std::string& setting,
                                               const std::string& appUrl) {
  std::vector<std::string> groups;
  if (regexGroups(setting, kPacReferencePattern, groups) < 2) {
    ctx.dialogs.showTitledError(kPacErrorTitle, "Invalid PAC reference. Cannot parse. Check format!");
    return std::nullopt;
  }
  const std::string& location = groups[1];
  const std::string& credentials = groups[2];
  writeLog("Loading PAC file [" + location + "]");
  const std::string text = loadText(ctx.http, location);
  if (text.empty() || text.find("FindProxyForURL") == std::string::npos) {
    ctx.dialogs.showTitledError(kPacErrorTitle, "PAC file [" + location +
                                                    "] not found or invalid! Using no proxy.");
    return std::nullopt;
  }
  writeLog("PAC file content [" + text + "]");

  Result<std::string> result = ctx.evaluate(text, appUrl, hostOfUrl(appUrl));
  if (!result) {
    writeLog("ERROR: " + result.message());
    if (ctx.endRunEarly) ctx.endRunEarly();
    return std::nullopt;
  }
  writeLog("PAC parsing result [" + *result + "]");
  PacChoice choice = scanPacResult(*result);
  if (choice.kind == PacChoice::Kind::Direct) return std::nullopt;
  if (choice.kind == PacChoice::Kind::Nothing) {
    ctx.dialogs.showTitledError(kPacErrorTitle,
                                "PAC file returned no usable DIRECT or PROXY entry. Unfortunatelly "
                                "we support only DIRECT or PROXY results!");
    return std::nullopt;
  }
  return manualProxyForPac(choice.address, credentials);
}

}  // namespace vm
