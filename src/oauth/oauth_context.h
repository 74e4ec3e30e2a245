// What an OAuth sign-in and token request need from the rest of the program.
// The lead builds one from the process-wide state for each mail send.
#pragma once

#include <functional>
#include <string>

#include "net/http_client.h"
#include "oauth/oauth_provider.h"
#include "oauth/redirect_listener.h"

namespace vm {

// Opens a URL in the user's default browser; production passes
// openWithSystem. Whether a browser really opened is never known.
using UrlOpener = std::function<void(const std::string& url)>;

struct OAuthContext {
  const OAuthProviderTable& providers;
  const std::string& oauthState;
  // The one refresh-token slot of the process, shared by both providers;
  // held in memory only, never written anywhere.
  std::string& currentRefreshToken;
  const HttpClient& http;
  UrlOpener openUrl;
  int signInTimeoutSeconds = kSignInTimeoutSeconds;
};

}  // namespace vm
