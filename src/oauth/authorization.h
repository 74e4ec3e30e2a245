// The interactive step of an OAuth sign-in: the browser goes to the
// provider, the provider sends it back to the loopback listener with a code.
#pragma once

#include <string>

#include "base/result.h"
#include "oauth/oauth_context.h"

namespace vm {

// The failure messages of the sign-in steps. Where they are reported (the
// mail transfer's answer and log) they stand behind "ERROR: ".
inline constexpr const char* kNoRedirectError =
    "Failed to retrieve token (network? Wrong ID provider? Firewall? Antivirus?)";
inline constexpr const char* kStateInvalidError = "Failed xsf validation (state invalid)";

// Opens the authorization URL, waits for the redirect (up to
// context.signInTimeoutSeconds) and returns the authorization code, which
// is empty when the redirect carried a valid state but no code. Fails when
// no usable code came; a missing or wrong state, or an "error" parameter,
// also clears context.currentRefreshToken.
Result<std::string> authorizeInteractively(OAuthContext& context, const std::string& providerKey,
                                           const std::string& loginHint);

// The part after the listener: reads the request text and decides.
Result<std::string> authorizationCodeFrom(OAuthContext& context, const std::string& requestText);

}  // namespace vm
