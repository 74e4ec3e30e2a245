// Test-only host of the main window: runs the window, the web view and the
// bridge the way the client does, with the application URL and a few test
// commands taken from the environment:
//   VELOMARK_TEST_URL_FILE  file whose content is the application URL, read
//                           on every decision (missing or empty: offline page)
//   VELOMARK_TEST_LOG       log file path; logging is on when set
//   VELOMARK_TEST_EXTRA_CA  PEM file trusted by the web view besides the system
//   VELOMARK_TEST_PROXY     "host port user password": the web view's proxy
// Of the client's commands it binds those that need no dialogs, in table
// order. getHostInfo is replaced by an echo: it answers its first argument's text
// as is (so tests can hand back text that is no JSON), or nothing when it is
// called without arguments. sendLog is replaced by a hook that changes the
// bindings while the page runs: it unbinds getHostInfo and binds getSetting
// again to a handler that always answers "replaced". requestData answers
// later, 300 ms after its call: ("resolve", text) with text as JSON, ("reject",
// text) by rejecting with text, anything else by dropping its answer.
#include <glib.h>

#include <cstdlib>
#include <memory>
#include <fstream>
#include <set>
#include <sstream>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/offline_page.h"
#include "app/process_state.h"
#include "platform/paths.h"
#include "platform/webview.h"

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

vm::BridgeHandler echoFirstArgument(const vm::BridgeContext&) {
  return [](const std::string& args) -> vm::BridgeAnswer {
    auto parsed = vm::parseBridgeArgs(args);
    if (!parsed || parsed->empty()) return std::nullopt;
    return vm::jsonStringOrEmpty((*parsed)[0]);
  };
}

vm::BridgeHandler changeBindings(const vm::BridgeContext& context) {
  return [view = context.view](const std::string&) -> vm::BridgeAnswer {
    view->unbind("getHostInfo");
    view->bind("getSetting", [](const std::string&) -> vm::BridgeAnswer { return "\"replaced\""; });
    return std::nullopt;
  };
}

vm::WebView::LaterHandler answerAfterAWhile(const vm::BridgeContext&) {
  return [](const std::string& args, vm::WebView::LaterAnswer answer) {
    auto parsed = vm::parseBridgeArgs(args);
    std::string mode = parsed && parsed->size() == 2 ? (*parsed)[0] : "";
    std::string text = parsed && parsed->size() == 2 ? (*parsed)[1] : "";
    auto* pending = new std::function<void()>(
        [mode, text, answer = std::make_shared<vm::WebView::LaterAnswer>(std::move(answer))] {
          if (mode == "resolve") answer->give(vm::jsonStringOrEmpty(text));
          else if (mode == "reject") answer->reject(text);
        });
    g_timeout_add_full(G_PRIORITY_DEFAULT, 300,
                       [](gpointer data) -> gboolean {
                         (*static_cast<std::function<void()>*>(data))();
                         return G_SOURCE_REMOVE;
                       },
                       pending, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  };
}

// The client's rows that need no dialogs, with the two test commands, in
// the table's order.
std::vector<vm::BridgeRow> hostBridge() {
  const std::set<std::string> kept = {"setSetting", "deleteSetting", "getSetting", "getAllSettings",
                                      "closeApp",   "reload",        "sendLogEntry", "openURL"};
  std::vector<vm::BridgeRow> rows;
  for (const vm::BridgeRow& row : vm::kBridgeTable) {
    std::string name = row.name;
    if (name == "getHostInfo") rows.push_back({row.name, echoFirstArgument});
    else if (name == "sendLog") rows.push_back({row.name, changeBindings});
    else if (name == "requestData") rows.push_back({row.name, nullptr, answerAfterAWhile});
    else if (kept.count(name)) rows.push_back(row);
  }
  return rows;
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
  inputs.applicationUrl = [](const vm::ServerAhead&) { return readUrl(); };
  inputs.extraCaFile = env("VELOMARK_TEST_EXTRA_CA");
  inputs.webViewProxy = [] {
    vm::WebViewProxy proxy;
    std::istringstream fields(env("VELOMARK_TEST_PROXY"));
    fields >> proxy.host >> proxy.port >> proxy.user >> proxy.password;
    return proxy;
  };
  std::vector<vm::BridgeRow> bridge = hostBridge();
  inputs.bridge = bridge;
  vm::runMainWindow(state, commandLine, std::move(inputs));
  return 0;
}
