#include "app/client_window_inputs.h"

#include "app/app_url.h"
#include "app/process_state.h"
#include "build_config.h"
#include "platform/open_with_system.h"

namespace vm {

MainWindowInputs clientMainWindowInputs(ProcessState& state) {
  MainWindowInputs inputs;
  inputs.opener = openWithSystem;
  inputs.extraCaFile = config::kExtraCaFile;
  // Read after the URL decision, which applies the proxy for the servers.
  inputs.webViewProxy = [&state] { return state.webViewProxy; };
  inputs.applicationUrl = [&state]() -> std::string {
    if (!state.dialogs) return {};
    AppUrlContext context{state.prefs, *state.dialogs, state.http, state.appChannel,
                          AppServers::fromBuildConfig(), nullptr};
    return determineAppUrl(context);
  };
  return inputs;
}

}  // namespace vm
