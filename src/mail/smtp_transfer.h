// One message, assembled and submitted to the configured SMTP server.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vm {

struct MailAttachment {
  std::string fileName;                 // its extension selects the content type
  const unsigned char* data = nullptr;  // owned by the caller, only read here
  std::int32_t size = 0;
  std::int32_t readPosition = 0;  // bytes already handed to the transfer
};

struct MailRequest {
  std::string serverUrl;
  std::string login;  // empty: no password authentication
  std::string password;
  std::string security;  // "none", "tls", "google", "ms" or any other text
  std::string sender;
  std::string recipients;  // "," or ";" separated, as the page sent them
  std::string replyTo;
  std::string subject;
  std::string htmlBody;
  std::string textBody;  // empty selects the fixed fallback text
  std::vector<MailAttachment> attachments;
};

// Supplies the OAuth bearer token for security "google" (provider "GOOGLE")
// or "ms" (provider "MS"), with the login as hint. Answers the access token,
// empty text to go on with the password options only, or the sign-in's
// failure.
using BearerTokenSource =
    std::function<Result<std::string>(const std::string& provider, const std::string& loginHint)>;

struct TransferSetup {
  bool debug = false;  // libcurl's debug lines go to the log as "CURL: ..."
  // No source: the token counts as empty, so the transfer runs with the
  // password options only.
  BearerTokenSource bearerToken;
  // PEM file of a CA trusted beside the system store; empty for none.
  std::string extraCaFile;
};

// Code for a request refused before anything was sent because a field that
// goes into a header line or SMTP command holds a line break.
inline constexpr std::int32_t kUnsafeFieldCode = CURLE_BAD_FUNCTION_ARGUMENT;

// A failed transfer carries libcurl's code and text; a refused field
// kUnsafeFieldCode and the field's name; a failed sign-in CURLE_AUTH_ERROR
// and "ERROR: " with the sign-in's message. When no libcurl handle can be
// made, the failure has neither code nor text (the log says why). Connecting
// may take kHttpConnectTimeoutMs; a connection that carries no data for 60
// seconds ends the transfer with CURLE_OPERATION_TIMEDOUT.
Status transferMail(MailRequest& request, const TransferSetup& setup);

// The transfer-option values of the security table.
struct TlsChoice {
  long useSsl = CURLUSESSL_NONE;
  bool requireTls12 = false;  // CURLOPT_SSLVERSION = CURL_SSLVERSION_TLSv1_2
};
TlsChoice tlsChoiceFor(std::string_view security, std::string_view serverUrl);

// The fields of the normalised list that become envelope recipients: the
// first 255 comma-separated fields without blanks at both ends, empty ones
// skipped.
std::vector<std::string> envelopeRecipients(std::string_view normalisedList);

// "Please view this message..." when textBody is empty; CR LF appended.
std::string plainAlternative(std::string_view textBody);

// libcurl callbacks (C linkage not needed: libcurl only stores the pointers).
int transferDebugLog(CURL* handle, curl_infotype kind, char* data, std::size_t size, void* user);
std::size_t attachmentRead(char* buffer, std::size_t itemSize, std::size_t itemCount, void* state);

}  // namespace vm
