#include "oauth/token_exchange.h"

#include <nlohmann/json.hpp>

#include "base/log.h"
#include "base/utf8.h"
#include "oauth/authorization.h"
#include "oauth/percent_coding.h"

namespace vm {

namespace {

std::string stringMember(const nlohmann::json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

// Every failed token request empties the refresh-token slot, so a refused
// refresh token is not sent again.
Failure failAndForget(OAuthContext& context, std::string message) {
  context.currentRefreshToken.clear();
  return fail(std::move(message));
}

}  // namespace

std::string tokenRequestBody(const OAuthProvider& provider, const std::string& authorizationCode,
                             const std::string& refreshToken) {
  std::string body = "client_id=" + percentEncode(provider.clientId);
  body += "&redirect_uri=" + percentEncode(provider.redirectUri);
  if (!refreshToken.empty()) {
    body += "&refresh_token=" + percentEncode(refreshToken) + "&grant_type=refresh_token";
  } else {
    body += "&code=" + percentEncode(authorizationCode) + "&grant_type=authorization_code";
  }
  if (!provider.clientSecret.empty()) {
    body += "&client_secret=" + percentEncode(provider.clientSecret);
  }
  return body;
}

Result<std::string> requestToken(OAuthContext& context, const std::string& providerKey,
                                 const std::string& authorizationCode,
                                 const std::string& refreshToken) {
  const OAuthProvider* provider = findOAuthProvider(context.providers, providerKey);
  if (provider == nullptr) return failAndForget(context, kTokenPostError);
  const HttpResult result = context.http.postForm(
      provider->tokenUrl, tokenRequestBody(*provider, authorizationCode, refreshToken));
  if (result.curlCode == CURLE_FAILED_INIT || result.curlCode == CURLE_OUT_OF_MEMORY)
    return failAndForget(context, kTokenPostError);
  // A transfer that broke off leaves at best part of an answer; it counts
  // like no answer at all. The status code is not looked at: the body alone
  // tells a token from a refusal.
  std::string body;
  if (result.ok) {
    body = validUtf8(result.body);
  } else {
    writeLog("ERROR: Token request to [" + provider->tokenUrl + "] failed: " + result.error);
  }
  if (body.empty() || body[0] != '{') return failAndForget(context, kTokenNoJsonError);
  const nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object() || !answer.contains("access_token")) {
    return failAndForget(
        context, "Failed posting bearer token request (got no token. Instead, got [" + body + "])");
  }
  const std::string accessToken = stringMember(answer, "access_token");
  const std::string newRefreshToken = stringMember(answer, "refresh_token");
  if (!newRefreshToken.empty()) {
    writeLog("Received refresh token: [" + newRefreshToken + "]");
    context.currentRefreshToken = newRefreshToken;
  }
  writeLog("Received bearer token: [" + accessToken + "]");
  return accessToken;
}

Result<std::string> acquireBearerToken(OAuthContext& context, const std::string& providerKey,
                                       const std::string& loginHint,
                                       const std::string& refreshToken) {
  if (!refreshToken.empty()) {
    Result<std::string> token = requestToken(context, providerKey, std::string(), refreshToken);
    if (token && !token->empty()) return token;
  }
  Result<std::string> code = authorizeInteractively(context, providerKey, loginHint);
  if (!code || code->empty()) return code;
  return requestToken(context, providerKey, *code, std::string());
}

Result<std::string> bearerTokenFor(const std::string& security, const std::string& login,
                                   OAuthContext& context) {
  std::string providerKey;
  if (security == "google") {
    providerKey = kProviderGoogle;
  } else if (security == "ms") {
    providerKey = kProviderMs;
  } else {
    return std::string();
  }
  return bearerTokenForProvider(context, providerKey, login);
}

Result<std::string> bearerTokenForProvider(OAuthContext& context, const std::string& providerKey,
                                           const std::string& loginHint) {
  // A copy: requestToken may clear or replace the slot while the value is in use.
  const std::string refreshToken = context.currentRefreshToken;
  return acquireBearerToken(context, providerKey, loginHint, refreshToken);
}

}  // namespace vm
