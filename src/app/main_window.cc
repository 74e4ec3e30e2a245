#include "app/main_window.h"

#include <cstdlib>
#include <optional>
#include <utility>

#include "app/command_line.h"
#include "app/process_state.h"
#include "base/log.h"
#include "platform/host_platform.h"
#include "base/numbers.h"
#include "platform/file.h"
#include "platform/loop_lateness.h"
#include "platform/open_with_system.h"
#include "platform/paths.h"

namespace vm {
namespace {

constexpr int kMinWidth = 1025;  // not 1024: the web application's layout needs it
constexpr int kMinHeight = 480;

// The folder of the web view's disk cache, and the line to log about it
// (empty when there is nothing to say).
struct CacheFolderChoice {
  std::string folder;
  std::string logLine;
};

// The web view's disk cache holds the application, its scripts and its HSTS
// list: in the shared temporary folder it must be a folder of the user's that
// nobody else can read. When the name is taken by anything else (a symbolic
// link, another user's folder, a file), a fresh private folder beside it is
// used; without one the engine's own cache folder below the user's home.
CacheFolderChoice chooseCacheFolder() {
  const std::string wanted = tempFolder() + "WebView2_Cache";
  const Status usable = makePrivateFolder(wanted);
  if (usable) return {wanted, {}};
  Result<std::string> fresh = makeUniquePrivateFolder(wanted + ".");
  if (!fresh) {
    return {{},
            "ERROR: No private web view cache folder [" + wanted + "] (" + usable.message() +
                "; " + fresh.message() + "); the engine's own cache folder is used"};
  }
  return {*fresh, "WARN: Web view cache folder [" + wanted + "] is not a private folder (" +
                      usable.message() + "); using [" + *fresh + "]"};
}

// The view's options without its proxy, which the URL decision applies.
WebViewOptions webViewOptions(ProcessState& state, const MainWindowInputs& inputs,
                              const std::string& cacheFolder) {
  WebViewOptions options;
  options.developerTools = !state.prefs.readSetting("developer", "", kWebAppGroup).empty();
  options.cacheFolder = cacheFolder;
  options.extraCaFile = inputs.extraCaFile;
  return options;
}

// A file to open must be a non-empty regular file; otherwise its line is
// logged and shown in the error box.
bool fileToOpenIsThere(ProcessState& state, const std::string& path) {
  if (isRegularFile(path) && fileSize(path) > 0) return true;
  std::string text = "File [" + path + "] not found!";
  writeLog(text);
  if (state.dialogs) state.dialogs->showError(text);
  return false;
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
  if (!commandLine.fileToOpen().empty()) {
    url += "?o=1";
    state.fileToOpen = commandLine.fileToOpen();
    if (!fileToOpenIsThere(state, state.fileToOpen)) return false;
  }
  view.navigate(url);
  return true;
}

// What a later start of the client asked for: the window comes to the front
// and a file it names is handed over like one named at start-up, with the
// application URL in force (appUrl, empty on the offline page, where the file
// is ignored as at start-up). A missing file gets its box; this run goes on.
void takeLaterStarts(ProcessState& state, TopWindow& window, WebView& view,
                     const std::string& appUrl) {
  std::vector<ForwardedStart> starts = std::exchange(state.laterStarts, {});
  for (const ForwardedStart& start : starts) {
    window.present(start.activationToken);
    std::string file = laterStartFileToOpen(start.arguments, start.workingFolder);
    if (file.empty() || appUrl.empty() || !fileToOpenIsThere(state, file)) continue;
    state.fileToOpen = file;
    view.navigate(appUrl + "?o=1");
  }
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

  // The application URL of the last decision, at opening and on each reload.
  std::string appUrl;
  // The view and the engine's processes start up while the servers are
  // probed; the view gets its proxy, and loads its first page, only once the
  // decision is made. Its lines go to the log after the decision's.
  const CacheFolderChoice cache = chooseCacheFolder();
  auto webView = WebView::create(*window, webViewOptions(state, inputs, cache.folder));
  if (webView) webView->startEngine();
  // While a server is probed, the view checks its certificate for the load
  // that follows (only with an extra CA).
  ServerAhead serverAhead = [ahead = webView.get()](const std::string& base) {
    if (ahead) ahead->trustHostOfInBackground(base);
  };
  std::function<std::string()> decideAppUrl = [&appUrl, decide = inputs.applicationUrl,
                                               serverAhead] {
    appUrl = decide ? decide(serverAhead) : std::string();
    return appUrl;
  };

  const std::string url = decideAppUrl();
  if (state.earlyEndRequested) return MainWindowEnd::EarlyEnd;
  writeLog("Final URL to load app from: [" + url + "]");

  if (!cache.logLine.empty()) writeLog(cache.logLine);
  if (!webView) {
    writeLog("ERROR: The web view cannot be created");
    return MainWindowEnd::EarlyEnd;
  }
  view = webView.get();
  if (inputs.webViewProxy) view->setProxy(inputs.webViewProxy());

  auto opener = inputs.opener ? inputs.opener : std::function<void(const std::string&)>(openWithSystem);
  view->setNewWindowHandler(opener);
  bindBridge(*view, inputs.bridge, {state, view, decideAppUrl, opener});
  if (!loadFirstPage(state, commandLine, *view, url)) return MainWindowEnd::EarlyEnd;

  // Everything (page loading, bridge calls, window events) is dispatched from
  // this one wait; closeApp, the close request and the early-end request wake
  // it, so the flags are seen at once without polling.
  // A command that answers later (a mail on its way) is never cut off: a
  // close request or closeApp ends the loop once its answer is given, and a
  // later start's file waits for it too rather than replace the page that
  // waits for the answer.
  // Benchmarks measure the loop's stalls; never set in normal runs.
  std::optional<LoopLatenessRecorder> lateness;
  if (const char* path = std::getenv("VELOMARK_LOOP_LATENESS_FILE"); path && *path)
    lateness.emplace(path);
  auto ending = [&] { return closeRequested || state.quitRequested || state.earlyEndRequested; };
  while (!ending() || view->answersOpen()) {
    runEventLoopPass(true);
    if (state.proxyDialogRequested && !state.earlyEndRequested) {
      state.proxyDialogRequested = false;
      if (inputs.editProxySetting) inputs.editProxySetting();
    }
    if (!state.laterStarts.empty() && !state.earlyEndRequested && !view->answersOpen())
      takeLaterStarts(state, *window, *view, appUrl);
  }
  // The window goes away here rather than staying on screen unserviced: a
  // dialog of the shutdown runs a nested loop, and bridge calls dispatched
  // there would reach handlers whose state ends with this function.
  return state.earlyEndRequested ? MainWindowEnd::EarlyEnd : MainWindowEnd::LoopEnded;
}

}  // namespace vm
