// Test-only tool: runs the shared HTTP client or the application URL choice
// once and prints the outcome as one JSON object. The integration tests use
// it to drive the real code against HTTPS servers on loopback; the server
// host template and domain are arguments here, which the client itself never
// takes (it always uses the build configuration).
//
//   net_probe fetch URL [--ca FILE] [--no-verify] [--no-redirect] [--max N]
//                       [--post BODY] [--download PATH] [--proxy URL]
//   net_probe trust URL --store CAFILE [--extra CAFILE]
//   net_probe appurl --host-template T --domain D [--ca FILE] [--log FILE]
//                    [--set KEY=VALUE]... [--times N]
//   net_probe pac --pac FILE --url URL [--doh HOST] [--times N]
//   net_probe proxy --url URL [--ca FILE] [--log FILE] [--doh HOST] [--times N]
// appurl uses the preferences below $XDG_CONFIG_HOME; --set writes group
// "WebApp" first. pac runs FindProxyForURL of FILE for URL in the hidden web
// view N times and prints the answers and the milliseconds each took. proxy
// applies the stored "proxy" setting for URL N times (a PAC file is loaded
// and run as the client does) and prints what the web view, the HTTP client
// and getHostInfo got each time. Both need a display; --doh replaces the
// build's DNS-over-HTTPS host.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app_url.h"
#include "diag/log_writer.h"
#include "net/http_client.h"
#include "net/pac.h"
#include "net/pac_evaluation.h"
#include "net/proxy.h"
#include "platform/file.h"
#include "platform/webview.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "settings/preferences.h"

namespace {
// The tool's own log file, the receiver of every writeLog of the code under test.
vm::LogWriter processLog;
}  // namespace

namespace {

using nlohmann::ordered_json;

// Message boxes are recorded instead of shown.
class RecordingDialogs : public vm::Dialogs {
 public:
  std::vector<std::string> boxes;
  void showError(const std::string& text) override { boxes.push_back("error: " + text); }
  void showTitledError(const std::string& title, const std::string& text) override {
    boxes.push_back(title + ": " + text);
  }
  void showInfo(const std::string& text) override { boxes.push_back("info: " + text); }
  bool askYesNo(const std::string& text) override {
    boxes.push_back("question: " + text);
    return false;
  }
  std::string askText(const std::string& prompt, const std::string&, bool* confirmed) override {
    boxes.push_back("input: " + prompt);
    if (confirmed) *confirmed = false;
    return {};
  }
  std::string chooseSaveFile(const std::string&, const std::string&,
                             const std::vector<vm::FileFilter>&) override {
    return {};
  }
  std::vector<std::string> chooseOpenFiles(const std::string&,
                                           const std::vector<vm::FileFilter>&) override {
    return {};
  }
};

int usage() {
  std::fputs(
      "usage: net_probe fetch URL [options] | net_probe appurl --host-template T --domain D\n",
      stderr);
  return 2;
}

void print(const ordered_json& j) {
  std::puts(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

int fetch(const std::vector<std::string>& args) {
  vm::HttpRequest req;
  std::string ca;
  vm::HttpProxy proxy;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--ca")
      ca = next();
    else if (a == "--no-verify")
      req.verifyCertificates = false;
    else if (a == "--no-redirect")
      req.followRedirects = false;
    else if (a == "--max")
      req.maxBodyBytes = std::stoul(next());
    else if (a == "--post") {
      req.method = vm::HttpMethod::PostForm;
      req.body = next();
    } else if (a == "--download")
      req.downloadPath = next();
    else if (a == "--proxy")
      proxy.proxy = next();
    else if (req.url.empty())
      req.url = a;
    else
      return usage();
  }
  vm::HttpClient http(ca);
  http.setProxy(proxy);
  http.setTimeouts({8000, 15000});
  vm::HttpResult res = http.perform(req);
  print({{"ok", res.ok},
         {"status", res.status},
         {"body", res.body},
         {"bytes", res.bytesReceived},
         {"curlCode", static_cast<int>(res.curlCode)},
         {"error", res.error}});
  return 0;
}

// Loads --store as the whole base store (standing in for the system store)
// and adds --extra the way the client adds its extra CA.
int trust(const std::vector<std::string>& args) {
  std::string url, store, extra;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--store")
      store = next();
    else if (a == "--extra")
      extra = next();
    else if (url.empty())
      url = a;
    else
      return usage();
  }
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> h(curl_easy_init(), curl_easy_cleanup);
  if (!h) return 1;
  curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(h.get(), CURLOPT_PROXY, "");
  curl_easy_setopt(h.get(), CURLOPT_CAINFO, store.c_str());
  curl_easy_setopt(h.get(), CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(
      h.get(), CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
  vm::trustExtraCa(h.get(), extra);
  CURLcode rc = curl_easy_perform(h.get());
  print({{"ok", rc == CURLE_OK}, {"curlCode", static_cast<int>(rc)}});
  return 0;
}

int appUrl(const std::vector<std::string>& args) {
  vm::AppServers servers;
  std::string ca, log;
  int times = 1;
  std::vector<std::pair<std::string, std::string>> settings;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--host-template")
      servers.hostTemplate = next();
    else if (a == "--domain")
      servers.domain = next();
    else if (a == "--ca")
      ca = next();
    else if (a == "--log")
      log = next();
    else if (a == "--times")
      times = std::atoi(next().c_str());
    else if (a == "--set") {
      std::string kv = next();
      auto eq = kv.find('=');
      if (eq == std::string::npos) return usage();
      settings.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
    } else
      return usage();
  }
  if (servers.hostTemplate.empty() || servers.domain.empty()) return usage();
  if (!log.empty()) {
    processLog.setPath(log);
    processLog.open();
  }
  vm::Preferences prefs(vm::appDataFolder());
  for (const auto& [key, value] : settings) prefs.writeSetting(key, value, vm::kWebAppGroup);

  RecordingDialogs dialogs;
  vm::HttpClient http(ca);
  vm::AppChannel channel;
  std::vector<std::string> proxyCalls;
  std::vector<std::string> serversAhead;
  vm::AppUrlContext ctx{prefs,   dialogs,
                        http,    channel,
                        servers, [&](const std::string& base) { proxyCalls.push_back(base); },
                        [&](const std::string& base) { serversAhead.push_back(base); }};
  ordered_json runs = ordered_json::array();
  for (int t = 0; t < times; ++t) {
    std::string url = vm::determineAppUrl(ctx);
    runs.push_back({{"url", url}, {"channel", channel.channel}, {"mode", channel.mode}});
  }
  print({{"runs", runs},
         {"boxes", dialogs.boxes},
         {"proxyCalls", proxyCalls},
         {"serversAhead", serversAhead},
         {"connectMs", http.timeouts().connectMs},
         {"totalMs", http.timeouts().totalMs}});
  return 0;
}

struct PacOptions {
  std::string pacFile, url, ca, log, doh;
  int times = 1;
};

bool readPacOptions(const std::vector<std::string>& args, PacOptions& o) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "--pac")
      o.pacFile = next();
    else if (a == "--url")
      o.url = next();
    else if (a == "--ca")
      o.ca = next();
    else if (a == "--log")
      o.log = next();
    else if (a == "--doh")
      o.doh = next();
    else if (a == "--times")
      o.times = std::atoi(next().c_str());
    else
      return false;
  }
  if (!o.log.empty()) {
    processLog.setPath(o.log);
    processLog.open();
  }
  return !o.url.empty();
}

vm::PacPageFacts factsFor(const PacOptions& o, const std::string& host) {
  vm::PacPageFacts facts = vm::pacPageFactsFor(host);
  if (!o.doh.empty()) facts.dohHost = o.doh;
  return facts;
}

int pac(const std::vector<std::string>& args) {
  PacOptions o;
  if (!readPacOptions(args, o) || o.pacFile.empty()) return usage();
  auto text = vm::readFile(o.pacFile);
  if (!text) return usage();
  const std::string host = vm::hostOfUrl(o.url);
  ordered_json results = ordered_json::array(), ms = ordered_json::array();
  for (int t = 0; t < o.times; ++t) {
    auto start = std::chrono::steady_clock::now();
    auto result = vm::evaluatePac(*text, o.url, host, factsFor(o, host));
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    results.push_back(result ? ordered_json(*result) : ordered_json(nullptr));
  }
  print({{"results", results}, {"ms", ms}});
  return 0;
}

int proxy(const std::vector<std::string>& args) {
  PacOptions o;
  if (!readPacOptions(args, o)) return usage();
  vm::Preferences prefs(vm::appDataFolder());
  RecordingDialogs dialogs;
  vm::HttpClient http(o.ca);
  vm::WebViewProxy webViewProxy;
  std::string effective;
  vm::RememberedProxy remembered;
  bool endedEarly = false;
  vm::PacContext pacContext{
      dialogs, http,
      [&o](const std::string& text, const std::string& url, const std::string& host) {
        return vm::evaluatePac(text, url, host, factsFor(o, host));
      },
      [&endedEarly] { endedEarly = true; }};
  vm::ProxyContext context{prefs,     dialogs,    http, webViewProxy, effective, remembered,
                           [&pacContext](const std::string& setting, const std::string& url) {
                             return vm::resolvePacReference(pacContext, setting, url);
                           }};
  ordered_json runs = ordered_json::array();
  for (int t = 0; t < o.times; ++t) {
    vm::applyProxySettings(context, o.url);
    runs.push_back({{"webView",
                     {webViewProxy.host, webViewProxy.port, webViewProxy.user, webViewProxy.password}},
                    {"http", {http.proxy().proxy, http.proxy().user, http.proxy().password}},
                    {"hostInfo", effective}});
  }
  print({{"runs", runs}, {"boxes", dialogs.boxes}, {"endedEarly", endedEarly}});
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vm::LogSinkScope logScope(processLog);
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (cmd == "fetch") return fetch(args);
  if (cmd == "trust") return trust(args);
  if (cmd == "appurl") return appUrl(args);
  if (cmd == "pac") return pac(args);
  if (cmd == "proxy") return proxy(args);
  return usage();
}
