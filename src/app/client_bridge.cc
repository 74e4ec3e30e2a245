#include "app/client_bridge.h"

#include "app/app_url.h"
#include "app/host_info.h"
#include "app/process_state.h"
#include "build_config.h"
#include "diag/log_commands.h"
#include "files/file_commands.h"
#include "mail/address_book.h"
#include "mail/send_mail.h"
#include "oauth/token_exchange.h"
#include "platform/open_with_system.h"
#include "platform/paths.h"
#include "settings/setting_commands.h"

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

  auto& s = state;
  BridgeHandlers& h = inputs.handlers;
  h["getHostInfo"] = [&s](const std::string& a) {
    HostInfoSources sources{s.versionText, s.appChannel, s.effectiveProxy, s.developerMode, s.prefs};
    return getHostInfoCommand(sources, a);
  };
  h["setSetting"] = [&s](const std::string& a) { return setSettingCommand(s.prefs, a); };
  h["deleteSetting"] = [&s](const std::string& a) { return deleteSettingCommand(s.prefs, a); };
  h["getSetting"] = [&s](const std::string& a) { return getSettingCommand(s.prefs, a); };
  h["getAllSettings"] = [&s](const std::string& a) { return getAllSettingsCommand(s.prefs, a); };
  h["sendLogEntry"] = [&s](const std::string& a) { return sendLogEntryCommand(s.log, a); };
  h["requestData"] = [&s](const std::string&) { return requestDataCommand(s.fileToOpen); };
  h["sendMail"] = [&s](const std::string& a) {
    OAuthContext oauth{s.oauthProviders, s.oauthState, s.currentRefreshToken, s.http,
                       openWithSystem};
    SendMailContext context{s.prefs, s.addressBook, s.tempFiles, tempFolder(),
                            [&oauth](const std::string& provider, const std::string& hint) {
                              return bearerTokenForProvider(oauth, provider, hint);
                            },
                            config::kExtraCaFile};
    return sendMailCommand(context, a);
  };
  h["getAddresses"] = [&s](const std::string& a) { return getAddressesCommand(s.addressBook, a); };
  if (state.dialogs) {
    Dialogs& d = *state.dialogs;
    h["openFile"] = [&s, &d](const std::string& a) {
      return openFileCommand(d, openWithSystem, s.tempFiles, tempFolder(), a);
    };
    h["enableLog"] = [&s, &d](const std::string& a) { return enableLogCommand(s.log, d, a); };
    h["attachFiles"] = [&d](const std::string& a) {
      return attachFilesCommand(
          d, [](const std::string& script) { if (WebView* v = mainWebView()) v->eval(script); }, a);
    };
    h["sendLog"] = [&s, &d](const std::string& a) { return sendLogCommand(s.log, d, a); };
  }
  return inputs;
}

}  // namespace vm
