// Test-only host of the main window: runs the window, the web view and the
// bridge the way the client does, with the application URL and a few test
// commands taken from the environment:
//   VELOMARK_TEST_URL_FILE  file whose content is the application URL, read
//                           on every decision (missing or empty: offline page)
//   VELOMARK_TEST_LOG       log file path; logging is on when set
//   VELOMARK_TEST_EXTRA_CA  PEM file trusted by the web view besides the system
//   VELOMARK_TEST_PROXY     "host port user password": the web view's proxy
// getHostInfo is replaced by an echo: it answers its first argument's text
// as is (so tests can hand back text that is no JSON), or nothing when it is
// called without arguments. sendLog is replaced by a hook that changes the
// bindings while the page runs: it unbinds getHostInfo and binds getSetting
// again to a handler that always answers "replaced".
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/offline_page.h"
#include "app/process_state.h"
#include "diag/log_commands.h"
#include "platform/paths.h"
#include "settings/setting_commands.h"

namespace {


std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string readUrl() {
  std::ifstream in(env("VELOMARK_TEST_URL_FILE"));
  std::stringstream s;
  s << in.rdbuf();
  std::string url = s.str();
  while (!url.empty() && (url.back() == '\n' || url.back() == '\r' || url.back() == ' ')) url.pop_back();
  return url;
}

}  // namespace

int main(int argc, char** argv) {
  vm::ProcessState state{vm::Preferences(vm::appDataFolder()), vm::appDataFolder()};
  vm::LogSinkScope logScope(state.log);
  state.offlinePage = vm::kOfflinePage;
  if (!env("VELOMARK_TEST_LOG").empty()) {
    state.log.setPath(env("VELOMARK_TEST_LOG"));
    state.log.open();
  }
  std::vector<std::string> params(argv + 1, argv + argc);
  vm::CommandLine commandLine = vm::CommandLine::parse(params);

  vm::MainWindowInputs inputs;
  inputs.applicationUrl = readUrl;
  inputs.extraCaFile = env("VELOMARK_TEST_EXTRA_CA");
  inputs.webViewProxy = [] {
    vm::WebViewProxy proxy;
    std::istringstream fields(env("VELOMARK_TEST_PROXY"));
    fields >> proxy.host >> proxy.port >> proxy.user >> proxy.password;
    return proxy;
  };
  auto& prefs = state.prefs;
  inputs.handlers = {
      {"getHostInfo",
       [](const std::string& args) -> vm::BridgeAnswer {
         auto parsed = vm::parseBridgeArgs(args);
         if (!parsed || parsed->empty()) return std::nullopt;
         return vm::jsonStringOrEmpty((*parsed)[0]);
       }},
      {"setSetting", [&prefs](const std::string& a) { return vm::setSettingCommand(prefs, a); }},
      {"deleteSetting", [&prefs](const std::string& a) { return vm::deleteSettingCommand(prefs, a); }},
      {"getSetting", [&prefs](const std::string& a) { return vm::getSettingCommand(prefs, a); }},
      {"getAllSettings", [&prefs](const std::string& a) { return vm::getAllSettingsCommand(prefs, a); }},
      {"sendLogEntry", [&state](const std::string& a) { return vm::sendLogEntryCommand(state.log, a); }},
      {"sendLog",
       [](const std::string&) -> vm::BridgeAnswer {
         if (vm::WebView* view = vm::mainWebView()) {
           view->unbind("getHostInfo");
           view->bind("getSetting", [](const std::string&) -> vm::BridgeAnswer { return "\"replaced\""; });
         }
         return std::nullopt;
       }},
  };
  vm::runMainWindow(state, commandLine, std::move(inputs));
  return 0;
}
