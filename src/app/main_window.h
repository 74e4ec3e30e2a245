// The main window: geometry from the preferences, the web view with the
// application page (or the offline page), the bridge, and the event loop.
#pragma once

#include <functional>
#include <string>

#include "app/bridge_table.h"
#include "platform/top_window.h"
#include "platform/webview.h"

namespace vm {

class CommandLine;
class Preferences;
struct ProcessState;

// Told a server's base address before the server is probed.
using ServerAhead = std::function<void(const std::string& baseAddress)>;

struct MainWindowInputs {
  // Decides the application URL (probing the servers and applying the
  // proxy); empty means the offline page. Called at opening and on reload;
  // tells serverAhead each server's base address before probing it.
  std::function<std::string(const ServerAhead& serverAhead)> applicationUrl;
  // The proxy that the last applicationUrl() call applied for the web view.
  std::function<WebViewProxy()> webViewProxy;
  // The page's bridge, bound in this order; the command table unless a test
  // host gives another.
  std::span<const BridgeRow> bridge = kBridgeTable;
  // The proxy dialog, run from the loop when askProxy posted its request.
  std::function<void()> editProxySetting;
  // Opener of URLs and files; openWithSystem unless a test gives another.
  std::function<void(const std::string&)> opener;
  std::string extraCaFile;
};

enum class MainWindowEnd {
  LoopEnded,  // close request or quit request flag: the shutdown follows
  EarlyEnd,   // the file to open was missing, or the preferences file is
              // unusable: end without the shutdown
};

// Opens the main window and runs its event loop until it ends.
MainWindowEnd runMainWindow(ProcessState& state, const CommandLine& commandLine,
                            MainWindowInputs inputs);

// Asks the loop to run the proxy dialog on its next pass.
void postProxyDialogRequest(ProcessState& state);

// "velomark client " + title version (which starts with a blank).
std::string mainWindowTitle(const ProcessState& state);

// Group "main" keys left, top, width, height with their defaults; a value
// that is no number within int's range reads as 0.
WindowGeometry readWindowGeometry(Preferences& prefs);

}  // namespace vm
