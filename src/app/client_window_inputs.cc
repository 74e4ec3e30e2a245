#include "app/client_window_inputs.h"

#include "app/app_url.h"
#include "app/process_state.h"
#include "build_config.h"
#include "net/pac.h"
#include "net/pac_evaluation.h"
#include "net/proxy.h"
#include "net/proxy_dialog.h"
#include "platform/open_with_system.h"
#include "platform/top_window.h"

namespace vm {

namespace {

void applyProxyFor(ProcessState& state, const std::string& appUrl) {
  PacContext pac{*state.dialogs, state.http,
                 [](const std::string& text, const std::string& url, const std::string& host) {
                   return evaluatePac(text, url, host, pacPageFactsFor(host));
                 },
                 [&state] {
                   state.earlyEndRequested = true;
                   wakeEventLoop();
                 }};
  ProxyContext proxy{state.prefs,
                     *state.dialogs,
                     state.http,
                     state.webViewProxy,
                     state.effectiveProxy,
                     state.rememberedProxy,
                     [&pac](const std::string& setting, const std::string& url) {
                       return resolvePacReference(pac, setting, url);
                     }};
  applyProxySettings(proxy, appUrl);
}

std::string decideAppUrl(ProcessState& state, const ServerAhead& serverAhead) {
  if (!state.dialogs) return {};
  AppUrlContext context{state.prefs, *state.dialogs, state.http, state.appChannel,
                        AppServers::fromBuildConfig(),
                        [&state](const std::string& base) { applyProxyFor(state, base); },
                        serverAhead};
  return determineAppUrl(context);
}

}  // namespace

MainWindowInputs clientMainWindowInputs(ProcessState& state) {
  MainWindowInputs inputs;
  inputs.opener = openWithSystem;
  inputs.extraCaFile = config::kExtraCaFile;
  // Read after the URL decision, which applies the proxy for the servers.
  inputs.webViewProxy = [&state] { return state.webViewProxy; };
  inputs.applicationUrl = [&state](const ServerAhead& serverAhead) {
    return decideAppUrl(state, serverAhead);
  };
  inputs.editProxySetting = [&state] {
    if (!state.dialogs) return;
    ProxyDialogContext context{state.prefs, *state.dialogs, state.catalogue};
    editProxySetting(context);
  };
  return inputs;
}

}  // namespace vm
