#include "app/bridge_table.h"

#include "app/host_info.h"
#include "app/main_window.h"
#include "app/process_state.h"
#include "app/window_commands.h"
#include "build_config.h"
#include "diag/log_commands.h"
#include "files/file_commands.h"
#include "mail/address_book.h"
#include "mail/send_mail.h"
#include "oauth/token_exchange.h"
#include "platform/open_with_system.h"
#include "platform/paths.h"
#include "platform/worker.h"
#include "platform/webview.h"
#include "settings/setting_commands.h"

namespace vm {
namespace {

BridgeHandler getHostInfo(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) {
    HostInfoSources sources{s.versionText, s.appChannel, s.effectiveProxy, s.developerMode, s.prefs};
    return getHostInfoCommand(sources, a);
  };
}

BridgeHandler setSetting(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return setSettingCommand(s.prefs, a); };
}

BridgeHandler deleteSetting(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return deleteSettingCommand(s.prefs, a); };
}

BridgeHandler getSetting(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return getSettingCommand(s.prefs, a); };
}

BridgeHandler getAllSettings(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return getAllSettingsCommand(s.prefs, a); };
}

BridgeHandler openFile(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) {
    return openFileCommand(*s.dialogs, openWithSystem, s.tempFiles, tempFolder(), a);
  };
}

BridgeHandler closeApp(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return closeAppCommand(s, a); };
}

BridgeHandler reload(const BridgeContext& c) {
  return [&s = c.state, view = c.view, applicationUrl = c.applicationUrl](const std::string& a) {
    return reloadCommand(*view, applicationUrl, s.offlinePage, a);
  };
}

BridgeHandler askProxy(const BridgeContext& c) {
  // The dialog runs from the event loop, after the page's call has completed.
  return [&s = c.state](const std::string&) -> BridgeAnswer {
    postProxyDialogRequest(s);
    return std::nullopt;
  };
}

BridgeHandler sendLogEntry(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return sendLogEntryCommand(s.log, a); };
}

BridgeHandler enableLog(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return enableLogCommand(s.log, *s.dialogs, a); };
}

BridgeHandler attachFiles(const BridgeContext& c) {
  return [&s = c.state, view = c.view](const std::string& a) {
    return attachFilesCommand(*s.dialogs, [view](const std::string& script) { view->eval(script); }, a);
  };
}

BridgeHandler requestData(const BridgeContext& c) {
  return [&s = c.state](const std::string&) { return requestDataCommand(s.fileToOpen); };
}

BridgeHandler openURL(const BridgeContext& c) {
  return [opener = c.opener](const std::string& a) { return openURLCommand(opener, a); };
}

// The transfer and any sign-in run on a worker with their own copy of the
// HTTP client; the refresh-token slot is used by this one command, and only
// one command runs at a time.
WebView::LaterHandler sendMail(const BridgeContext& c) {
  return [&s = c.state](std::string a, WebView::LaterAnswer answer) {
    auto http = std::make_shared<const HttpClient>(s.http);
    auto oauth = std::make_shared<OAuthContext>(OAuthContext{
        s.oauthProviders, s.oauthState, s.currentRefreshToken, *http, openWithSystem});
    SendMailContext context{s.prefs, s.addressBook, s.tempFiles, tempFolder(),
                            [http, oauth](const std::string& provider, const std::string& hint) {
                              return bearerTokenForProvider(*oauth, provider, hint);
                            },
                            config::kExtraCaFile};
    auto reply = std::make_shared<WebView::LaterAnswer>(std::move(answer));
    sendMailCommand(context, std::move(a), runOnWorkerThen,
                    [reply](const BridgeAnswer& text) { reply->give(text); });
  };
}

BridgeHandler getAddresses(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return getAddressesCommand(s.addressBook, a); };
}

BridgeHandler sendLog(const BridgeContext& c) {
  return [&s = c.state](const std::string& a) { return sendLogCommand(s.log, *s.dialogs, a); };
}

}  // namespace

const std::array<BridgeRow, 17> kBridgeTable = {{
    {"getHostInfo", getHostInfo},
    {"setSetting", setSetting},
    {"deleteSetting", deleteSetting},
    {"getSetting", getSetting},
    {"getAllSettings", getAllSettings},
    {"openFile", openFile},
    {"closeApp", closeApp},
    {"reload", reload},
    {"askProxy", askProxy},
    {"sendLogEntry", sendLogEntry},
    {"enableLog", enableLog},
    {"attachFiles", attachFiles},
    {"requestData", requestData},
    {"openURL", openURL},
    {"sendMail", nullptr, sendMail},
    {"getAddresses", getAddresses},
    {"sendLog", sendLog},
}};

void bindBridge(WebView& view, std::span<const BridgeRow> rows, const BridgeContext& context) {
  for (const BridgeRow& row : rows) {
    if (row.makeLaterHandler)
      view.bindLater(row.name, row.makeLaterHandler(context));
    else
      view.bind(row.name, row.makeHandler(context));
  }
}

}  // namespace vm
