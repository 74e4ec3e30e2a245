// The one-shot HTTP server on the loopback address that receives the
// browser's redirect at the end of an OAuth sign-in.
#pragma once

#include <cstddef>
#include <string>

#include "oauth/oauth_provider.h"

namespace vm {

inline constexpr int kSignInTimeoutSeconds = 120;
// One receive of at most this many bytes; a longer request is cut there.
inline constexpr std::size_t kRedirectBufferBytes = 16384;

// The thank-you page sent for the first request, whatever it asked for.
// Header lines end in a bare line feed and there is no Content-Length: the
// connection's end marks the end of the body.
extern const char* const kRedirectAnswer;

// Listens on host:port ("localhost" binds 127.0.0.1; any other host must be
// an IPv4 loopback address), returns the text of the first data a client
// sends and answers it with kRedirectAnswer. Empty text when the server
// cannot be created, when a client closes before sending anything, or when
// nothing came within timeoutSeconds. Blocks the caller until then.
std::string listenForRedirect(const std::string& host, unsigned port = kRedirectPort,
                              int timeoutSeconds = kSignInTimeoutSeconds);

// Listens where the provider's redirectUri points; empty text also for an
// unknown provider key or a redirect URI without host or port.
std::string waitForRedirect(const OAuthProviderTable& providers, const std::string& providerKey,
                            int timeoutSeconds);

}  // namespace vm
