#include "oauth/oauth_provider.h"

#include "build_config.h"
#include "base/log.h"
#include "oauth/percent_coding.h"

namespace vm {

OAuthConfig OAuthConfig::fromBuild() {
  OAuthConfig c;
  c.msClientId = config::kMsClientId;
  c.msLoginHost = config::kMsLoginHost;
  c.msScopeHost = config::kMsScopeHost;
  c.googleClientId = config::kGoogleClientId;
  c.googleClientSecret = config::kGoogleClientSecret;
  c.googleAuthHost = config::kGoogleAuthHost;
  c.googleTokenHost = config::kGoogleTokenHost;
  c.googleScopeHost = config::kGoogleScopeHost;
  c.redirectPort = kRedirectPort;
  return c;
}

OAuthProviderTable makeOAuthProviderTable(const OAuthConfig& config) {
  const std::string redirectUri =
      "http://localhost:" + std::to_string(config.redirectPort) + "/tessel";
  OAuthProviderTable table;
  // The "consumers" tenant: personal Microsoft accounts only.
  table[kProviderMs] = OAuthProvider{
      .clientId = config.msClientId,
      .clientSecret = "",
      .authorizationUrl = "https://" + config.msLoginHost + "/consumers/oauth2/v2.0/authorize",
      .tokenUrl = "https://" + config.msLoginHost + "/consumers/oauth2/v2.0/token",
      .redirectUri = redirectUri,
      .scope = "https://" + config.msScopeHost + "/SMTP.Send offline_access",
  };
  table[kProviderGoogle] = OAuthProvider{
      .clientId = config.googleClientId,
      .clientSecret = config.googleClientSecret,
      .authorizationUrl = "https://" + config.googleAuthHost + "/o/oauth2/auth",
      .tokenUrl = "https://" + config.googleTokenHost + "/token",
      .redirectUri = redirectUri,
      .scope = "https://" + config.googleScopeHost + "/auth/gmail.send",
  };
  return table;
}

const OAuthProvider* findOAuthProvider(const OAuthProviderTable& table, const std::string& key) {
  auto it = table.find(key);
  return it == table.end() ? nullptr : &it->second;
}

std::string composeAuthorizationUrl(const OAuthProvider& provider, const std::string& oauthState,
                                    const std::string& loginHint) {
  std::string url = provider.authorizationUrl + "?";
  url += "response_type=code&";
  url += "client_id=" + percentEncode(provider.clientId) + "&";
  if (!loginHint.empty()) url += "login_hint=" + percentEncode(loginHint) + "&";
  url += "redirect_uri=" + percentEncode(provider.redirectUri) + "&";
  url += "scope=" + percentEncode(provider.scope) + "&";
  url += "state=" + percentEncode(oauthState);
  writeLog("Compiled oauth url: [" + url + "]");
  return url;
}

}  // namespace vm
