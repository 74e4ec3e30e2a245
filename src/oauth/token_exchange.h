// Access tokens for SMTP XOAUTH2: the refresh grant first, the browser
// sign-in and code exchange when there is no refresh token or it is refused.
#pragma once

#include <string>

#include "base/result.h"
#include "oauth/oauth_context.h"

namespace vm {

// Failure messages of the token request (reported behind "ERROR: ", as those
// of authorization.h).
inline constexpr const char* kTokenPostError = "Failed posting bearer token request";
inline constexpr const char* kTokenNoJsonError =
    "Failed posting bearer token request (got no json result, please check debug logging)";

// The token request's form body: client_id, redirect_uri, then either
// refresh_token and grant_type=refresh_token (refreshToken not empty) or
// code and grant_type=authorization_code, then client_secret when the
// provider has one. Every value percent-encoded.
std::string tokenRequestBody(const OAuthProvider& provider, const std::string& authorizationCode,
                             const std::string& refreshToken);

// POSTs the body to the provider's token endpoint. Returns the access token
// (empty when the answer's "access_token" is not a string); every failure
// clears context.currentRefreshToken, and an answer with a non-empty
// "refresh_token" replaces it.
Result<std::string> requestToken(OAuthContext& context, const std::string& providerKey,
                                 const std::string& authorizationCode,
                                 const std::string& refreshToken);

// The refresh grant with refreshToken when it is not empty; when that gives
// nothing usable, the browser sign-in and the code exchange. Returns the
// access token, or the failing step's failure.
Result<std::string> acquireBearerToken(OAuthContext& context, const std::string& providerKey,
                                       const std::string& loginHint,
                                       const std::string& refreshToken);

// acquireBearerToken with the slot's current content; for a caller that
// already maps its security setting to "GOOGLE" or "MS".
Result<std::string> bearerTokenForProvider(OAuthContext& context, const std::string& providerKey,
                                           const std::string& loginHint);

// Security "google" or "ms" gets a token for "GOOGLE" or "MS" with login as
// the hint and the current refresh token; every other security value gets
// empty text and nothing is asked.
Result<std::string> bearerTokenFor(const std::string& security, const std::string& login,
                                   OAuthContext& context);

}  // namespace vm
