#include "oauth/authorization.h"

#include "base/log.h"
#include "oauth/redirect_request.h"

namespace vm {

Result<std::string> authorizationCodeFrom(OAuthContext& context, const std::string& requestText) {
  if (requestText.empty()) return fail(kNoRedirectError);
  const RedirectParameters params = parseRedirectRequest(requestText, context.oauthState);
  if (params.stateConfirmed && !params.errorReported) {
    writeLog("Successfully got auth token: [" + params.code + "]");
    return params.code;
  }
  context.currentRefreshToken.clear();
  writeLog("WARN: Failed xsf validation (state value was missing or not the same as the sent one)");
  return fail(kStateInvalidError);
}

Result<std::string> authorizeInteractively(OAuthContext& context, const std::string& providerKey,
                                           const std::string& loginHint) {
  const OAuthProvider* provider = findOAuthProvider(context.providers, providerKey);
  if (provider == nullptr) return fail("Unknown OAuth provider [" + providerKey + "]");
  const std::string url = composeAuthorizationUrl(*provider, context.oauthState, loginHint);
  writeLog("Open URL in default webbrowser now...");
  if (context.openUrl) context.openUrl(url);
  const std::string request =
      waitForRedirect(context.providers, providerKey, context.signInTimeoutSeconds);
  return authorizationCodeFrom(context, request);
}

}  // namespace vm
