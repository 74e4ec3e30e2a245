// The two OAuth providers the mail sender can sign in with and the
// authorization URL sent to the browser. The anti-forgery state is made at
// start-up (makeOAuthState) and passed in.
#pragma once

#include <map>
#include <string>

namespace vm {

// Both providers redirect the browser to one loopback address.
inline constexpr unsigned kRedirectPort = 8100;
inline constexpr const char* kProviderMs = "MS";
inline constexpr const char* kProviderGoogle = "GOOGLE";

struct OAuthProvider {
  std::string clientId;
  std::string clientSecret;  // empty: no secret is sent
  std::string authorizationUrl;
  std::string tokenUrl;
  std::string redirectUri;  // its host and port are where the listener binds
  std::string scope;
};

// Keyed by "MS" and "GOOGLE"; filled once at start-up, read-only afterwards.
using OAuthProviderTable = std::map<std::string, OAuthProvider>;

// The values a build configures. Only the integration tests' driver uses
// anything but fromBuild(), to point the providers at loopback servers and
// to run the listener on a port of their own.
struct OAuthConfig {
  std::string msClientId;
  std::string msLoginHost;
  std::string msScopeHost;
  std::string googleClientId;
  std::string googleClientSecret;
  std::string googleAuthHost;
  std::string googleTokenHost;
  std::string googleScopeHost;
  unsigned redirectPort = kRedirectPort;

  static OAuthConfig fromBuild();
};

OAuthProviderTable makeOAuthProviderTable(const OAuthConfig& config = OAuthConfig::fromBuild());

// nullptr for a key that is not in the table.
const OAuthProvider* findOAuthProvider(const OAuthProviderTable& table, const std::string& key);

// The provider's authorization endpoint with response_type, client_id, the
// login hint (only when not empty), redirect_uri, scope and state, in that
// order, every value percent-encoded. Logs the finished URL.
std::string composeAuthorizationUrl(const OAuthProvider& provider, const std::string& oauthState,
                                    const std::string& loginHint);

}  // namespace vm
