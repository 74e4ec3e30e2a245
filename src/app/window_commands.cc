#include "app/window_commands.h"

#include "app/process_state.h"
#include "platform/top_window.h"
#include "platform/webview.h"

namespace vm {

BridgeAnswer closeAppCommand(ProcessState& state, const std::string&) {
  state.quitRequested = true;
  // The loop may be asleep in the main-context wait; it must see the flag now.
  wakeEventLoop();
  return std::nullopt;
}

BridgeAnswer reloadCommand(WebView& view, const std::function<std::string()>& applicationUrl,
                           const std::string& offlinePage, const std::string&) {
  std::string url = applicationUrl ? applicationUrl() : std::string();
  if (!url.empty())
    view.navigate(url);
  else
    view.setHtml(offlinePage);
  return std::nullopt;
}

BridgeAnswer openURLCommand(const std::function<void(const std::string&)>& opener,
                            const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 1, "ERROR: openURL had wrong parameter count!");
  if (!args) return std::nullopt;
  std::string target = jsonStringOrEmpty((*args)[0]);
  args.reset();
  if (opener) opener(target);
  return std::nullopt;
}

}  // namespace vm
