// The process-wide state: everything that lives for the whole run, in one
// place. Created by main() at start-up; subsystems receive what they need
// from it explicitly.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "app/app_url.h"
#include "i18n/catalogue.h"
#include "mail/address_book.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "oauth/oauth_provider.h"
#include "platform/dialogs.h"
#include "platform/single_instance.h"
#include "platform/webview.h"
#include "settings/preferences.h"

namespace vm {

inline constexpr const char* kVersionText = " 5.0.0-140";

struct ProcessState {
  std::string versionText = kVersionText;
  std::string titleVersion;   // versionText + architecture suffix
  std::string offlinePage;
  OAuthProviderTable oauthProviders = makeOAuthProviderTable();
  std::string oauthState;     // "xsf" + two random numbers, made once per run
  std::string currentRefreshToken;  // OAuth refresh token, in memory only
  std::vector<std::string> tempFiles;  // deleted at shutdown
  bool quitRequested = false;         // closeApp: the loop ends and the shutdown follows
  bool proxyDialogRequested = false;  // askProxy: the loop runs the proxy dialog next
  // The preferences file is unusable (its box has been shown): the run ends
  // without the shutdown after the step that found it.
  bool earlyEndRequested = false;
  std::string developerMode;  // "true" or empty
  std::string fileToOpen;     // consumed once by requestData
  // Command lines of later starts of the client, for the loop's next pass.
  std::vector<ForwardedStart> laterStarts;

  Catalogue catalogue = Catalogue::standard();
  LogWriter log;  // the receiver of writeLog while the client runs
  HttpClient http;
  AppChannel appChannel;       // release channel and mode of the loaded application
  std::string effectiveProxy;  // the proxy in force; empty means none
  WebViewProxy webViewProxy;   // fixed when the main web view is created
  RememberedProxy rememberedProxy;  // the last resolution that gave a proxy
  Preferences prefs;
  AddressBook addressBook;
  Dialogs* dialogs = nullptr;

  ProcessState(Preferences preferences, std::string dataFolder)
      : prefs(std::move(preferences)), addressBook(std::move(dataFolder)) {}
};

}  // namespace vm
