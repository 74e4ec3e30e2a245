#include "app/main_window.h"

#include "app/command_line.h"
#include "app/process_state.h"
#include "base/log.h"
#include "platform/host_platform.h"
#include "base/numbers.h"
#include "platform/open_with_system.h"
#include "platform/paths.h"

namespace vm {
namespace {

constexpr int kMinWidth = 1025;  // not 1024: the web application's layout needs it
constexpr int kMinHeight = 480;

WebViewOptions webViewOptions(ProcessState& state, const MainWindowInputs& inputs) {
  WebViewOptions options;
  options.developerTools = !state.prefs.readSetting("developer", "", kWebAppGroup).empty();
  options.cacheFolder = webViewCacheFolder();
  if (inputs.webViewProxy) options.proxy = inputs.webViewProxy();
  options.extraCaFile = inputs.extraCaFile;
  return options;
}

// The application page, marked when the command line names a file to open,
// or the offline page when url is empty. False when that file is missing:
// the run ends after its box.
bool loadFirstPage(ProcessState& state, const CommandLine& commandLine, WebView& view,
                   std::string url) {
  if (url.empty()) {
    view.setHtml(state.offlinePage);
    return true;
  }
  std::string first = commandLine.value("-1");
  std::string option = commandLine.value("i");
  if (!first.empty() || !option.empty()) {
    url += "?o=1";
    state.fileToOpen = first + option;
    if (!isRegularFile(state.fileToOpen) || fileSize(state.fileToOpen) <= 0) {
      std::string text = "File [" + state.fileToOpen + "] not found!";
      writeLog(text);
      if (state.dialogs) state.dialogs->showError(text);
      return false;
    }
  }
  view.navigate(url);
  return true;
}

}  // namespace

void postProxyDialogRequest(ProcessState& state) {
  state.proxyDialogRequested = true;
  wakeEventLoop();
}

std::string mainWindowTitle(const ProcessState& state) {
  std::string version =
      state.titleVersion.empty() ? state.versionText + architectureSuffix() : state.titleVersion;
  return "velomark client " + version;
}

WindowGeometry readWindowGeometry(Preferences& prefs) {
  WindowGeometry g;
  g.left = leadingInt(prefs.readSetting("left", "100", kWindowGroup)).value_or(0);
  g.top = leadingInt(prefs.readSetting("top", "100", kWindowGroup)).value_or(0);
  g.width = leadingInt(prefs.readSetting("width", "1200", kWindowGroup)).value_or(0);
  g.height = leadingInt(prefs.readSetting("height", "800", kWindowGroup)).value_or(0);
  return g;
}

MainWindowEnd runMainWindow(ProcessState& state, const CommandLine& commandLine,
                            MainWindowInputs inputs) {
  // Each step that reads the preferences may find the file unusable; the run
  // then ends right after that step.
  WindowGeometry geometry = readWindowGeometry(state.prefs);
  if (state.earlyEndRequested) return MainWindowEnd::EarlyEnd;

  bool closeRequested = false;
  WebView* view = nullptr;
  TopWindow::Events events;
  events.size = [&](int width, int height) {
    if (view) view->resize(width, height);
    state.prefs.writeSetting("width", std::to_string(width), kWindowGroup);
    state.prefs.writeSetting("height", std::to_string(height), kWindowGroup);
  };
  events.move = [&](int left, int top) {
    state.prefs.writeSetting("left", std::to_string(left), kWindowGroup);
    state.prefs.writeSetting("top", std::to_string(top), kWindowGroup);
  };
  events.closeRequest = [&] {
    closeRequested = true;
    wakeEventLoop();
  };
  auto window = TopWindow::create(mainWindowTitle(state), geometry, kMinWidth, kMinHeight, events);
  if (!window) {
    writeLog("ERROR: The main window cannot be created (no display)");
    return MainWindowEnd::EarlyEnd;
  }

  std::string url = inputs.applicationUrl ? inputs.applicationUrl() : std::string();
  if (state.earlyEndRequested) return MainWindowEnd::EarlyEnd;
  writeLog("Final URL to load app from: [" + url + "]");

  WebViewOptions options = webViewOptions(state, inputs);
  if (state.earlyEndRequested) return MainWindowEnd::EarlyEnd;
  auto webView = WebView::create(*window, options);
  if (!webView) {
    writeLog("ERROR: The web view cannot be created");
    return MainWindowEnd::EarlyEnd;
  }
  view = webView.get();

  auto opener = inputs.opener ? inputs.opener : std::function<void(const std::string&)>(openWithSystem);
  view->setNewWindowHandler(opener);
  if (!loadFirstPage(state, commandLine, *view, url)) return MainWindowEnd::EarlyEnd;
  bindBridge(*view, inputs.bridge, {state, view, inputs.applicationUrl, opener});

  // Everything (page loading, bridge calls, window events) is dispatched from
  // this one wait; closeApp, the close request and the early-end request wake
  // it, so the flags are seen at once without polling.
  while (!closeRequested && !state.quitRequested && !state.earlyEndRequested) {
    runEventLoopPass(true);
    if (state.proxyDialogRequested && !state.earlyEndRequested) {
      state.proxyDialogRequested = false;
      if (inputs.editProxySetting) inputs.editProxySetting();
    }
  }
  // The window goes away here rather than staying on screen unserviced: a
  // dialog of the shutdown runs a nested loop, and bridge calls dispatched
  // there would reach handlers whose state ends with this function.
  return state.earlyEndRequested ? MainWindowEnd::EarlyEnd : MainWindowEnd::LoopEnded;
}

}  // namespace vm
