#include "mail/smtp_transfer.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/log.h"
#include "base/numbers.h"
#include "base/text.h"
#include "base/utf8.h"
#include "files/file_io.h"
#include "mail/message_headers.h"
#include "mail/mime_types.h"
#include "net/http_client.h"
#include "platform/tcp_activity.h"
#include "settings/device_identity.h"

namespace vm {

namespace {

constexpr const char* kFallbackText =
    "Please view this message in a modern HTML enabled email program.";
constexpr const char* kIgnoreSslVariable = "TS_IGNORESSL";
// Fields after this one stay in the To line but get no RCPT command.
constexpr int kMaxEnvelopeRecipients = 255;
// A transfer that moves less than one byte a second for a minute has stalled.
constexpr long kStalledBytesPerSecond = 1;
constexpr std::chrono::milliseconds kStalledTime{60000};

struct EasyDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using StringList = std::unique_ptr<curl_slist, SlistDeleter>;
using MimeTree = std::unique_ptr<curl_mime, MimeDeleter>;

// curl_slist_append gives back a new head, or nullptr leaving the old list
// intact; the owner only moves to the new head on success.
bool appendTo(StringList& list, const std::string& text) {
  curl_slist* head = curl_slist_append(list.get(), text.c_str());
  if (head == nullptr) return false;
  (void)list.release();
  list.reset(head);
  return true;
}

// Builds the multipart/mixed body: the alternatives first, then one base64
// part per attachment streamed from the caller's buffer.
MimeTree buildMimeTree(CURL* handle, MailRequest& request, const std::string& plainText) {
  MimeTree top(curl_mime_init(handle));
  MimeTree alternatives(curl_mime_init(handle));
  if (!top || !alternatives) return nullptr;

  curl_mimepart* html = curl_mime_addpart(alternatives.get());
  if (html == nullptr) return nullptr;
  curl_mime_data(html, request.htmlBody.c_str(), CURL_ZERO_TERMINATED);
  curl_mime_type(html, "text/html");

  curl_mimepart* text = curl_mime_addpart(alternatives.get());
  if (text == nullptr) return nullptr;
  curl_mime_data(text, plainText.c_str(), CURL_ZERO_TERMINATED);

  curl_mimepart* body = curl_mime_addpart(top.get());
  if (body == nullptr) return nullptr;
  if (curl_mime_subparts(body, alternatives.get()) != CURLE_OK) return nullptr;
  (void)alternatives.release();  // the part owns it now
  curl_mime_type(body, "multipart/alternative");

  for (MailAttachment& attachment : request.attachments) {
    attachment.readPosition = 0;
    curl_mimepart* part = curl_mime_addpart(top.get());
    if (part == nullptr) return nullptr;
    curl_mime_type(part, mimeTypeForFile(attachment.fileName).c_str());
    curl_mime_data_cb(part, attachment.size, attachmentRead, nullptr, nullptr, &attachment);
    curl_mime_encoder(part, "base64");
    curl_mime_filename(part, fileNamePart(attachment.fileName).c_str());
  }
  return top;
}

// Watches the connection's sockets for a stall in the waits that libcurl's
// low-speed limit does not cover: a reply that does not come (after the
// final dot, for one). libcurl's own limit for a reply is longer and, once
// it has run out, it waits as long again for the answer to its QUIT; here a
// stall ends the transfer, and the QUIT wait, within about a second.
struct StallWatch {
  std::vector<int> sockets;  // open connection sockets
  bool stalled = false;
};

int rememberSocket(void* user, curl_socket_t fd, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_IPCXN) static_cast<StallWatch*>(user)->sockets.push_back(fd);
  return CURL_SOCKOPT_OK;
}

int closeSocket(void* user, curl_socket_t fd) {
  std::erase(static_cast<StallWatch*>(user)->sockets, fd);
  return ::close(fd);
}

// libcurl calls it at least once a second while it waits; non-zero aborts.
// A socket still connecting reports nothing: the connect limit covers it.
int checkForStall(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* watch = static_cast<StallWatch*>(user);
  if (!watch->stalled && !watch->sockets.empty()) {
    watch->stalled = std::ranges::all_of(watch->sockets, [](int fd) {
      const std::optional<std::chrono::milliseconds> idle = tcpIdleTime(fd);
      return idle && *idle >= kStalledTime;
    });
  }
  return watch->stalled ? 1 : 0;
}

// A server that stops answering must not hold sendMail for as long as the
// connection lives. There is no limit on the whole transfer: a large
// attachment on a slow line that keeps moving is never cut.
void setTransferLimits(CURL* h, StallWatch& watch) {
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kHttpConnectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kStalledBytesPerSecond);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kStalledTime.count() / 1000));
  curl_easy_setopt(h, CURLOPT_SOCKOPTFUNCTION, rememberSocket);
  curl_easy_setopt(h, CURLOPT_SOCKOPTDATA, &watch);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
  curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &watch);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkForStall);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  // A connection kept for reuse would be closed when the handle goes, with a
  // QUIT whose answer libcurl waits for beyond the watch, so a stalled
  // server would hold the call on after the transfer has ended. The handle
  // makes one transfer only; the connection ends with it.
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
}

Failure curlFailure(CURLcode code) { return fail(validUtf8(curl_easy_strerror(code)), code); }

}  // namespace

TlsChoice tlsChoiceFor(std::string_view security, std::string_view serverUrl) {
  if (security == "none") return {CURLUSESSL_NONE, false};
  if (security == "tls" || serverUrl.starts_with("smtps")) return {CURLUSESSL_ALL, true};
  return {CURLUSESSL_TRY, false};
}

std::vector<std::string> envelopeRecipients(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (int field = 1; field <= kMaxEnvelopeRecipients && start <= list.size(); ++field) {
    const auto comma = list.find(',', start);
    const auto end = comma == std::string_view::npos ? list.size() : comma;
    // Strict servers refuse "RCPT TO:< b@y.org>", and one refused
    // recipient fails the whole send.
    const std::string_view address = trimBlanks(list.substr(start, end - start));
    if (!address.empty()) out.emplace_back(address);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

std::string plainAlternative(std::string_view textBody) {
  return std::string(textBody.empty() ? std::string_view(kFallbackText) : textBody) + "\r\n";
}

int transferDebugLog(CURL*, curl_infotype, char* data, std::size_t size, void*) {
  std::string_view text(data, size);
  while (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  while (!text.empty() && text.front() == '\r') text.remove_prefix(1);
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  // Server replies and TLS records need not be UTF-8; invalid bytes become
  // U+FFFD so that every log line is valid text.
  writeLog("CURL: " + validUtf8(text));
  return 0;
}

std::size_t attachmentRead(char* buffer, std::size_t itemSize, std::size_t itemCount, void* state) {
  auto* attachment = static_cast<MailAttachment*>(state);
  const std::size_t room = itemSize * itemCount;
  if (attachment->readPosition >= attachment->size) return 0;
  const std::size_t n =
      std::min(room, static_cast<std::size_t>(attachment->size - attachment->readPosition));
  std::memcpy(buffer, attachment->data + attachment->readPosition, n);
  attachment->readPosition += static_cast<std::int32_t>(n);
  return n;
}

Status transferMail(MailRequest& request, const TransferSetup& setup) {
  const std::string recipients = normaliseRecipients(request.recipients);

  // The sender, the reply address and the recipients go verbatim into header
  // lines and SMTP commands: a CR or LF in one of them would add header lines
  // or smuggle further commands into the envelope, so nothing is sent.
  std::string unsafeField = fieldWithLineBreak(request.sender, request.replyTo, recipients);
  // The file name goes into the attachment part's Content-Disposition line,
  // which libcurl escapes only for quotes and backslashes.
  for (const MailAttachment& attachment : request.attachments) {
    if (unsafeField.empty() && attachment.fileName.find_first_of("\r\n") != std::string::npos) {
      unsafeField = "attachment file name";
    }
  }
  if (!unsafeField.empty()) {
    const std::string refusal = "Line break in the " + unsafeField + ", nothing was sent";
    writeLog("ERROR: " + refusal);
    return fail(refusal, kUnsafeFieldCode);
  }

  HeaderFields fields;
  fields.date = formatDateHeader();
  fields.recipients = recipients;
  fields.sender = request.sender;
  fields.replyTo = request.replyTo;
  fields.identifier = newIdentifier();
  fields.subject = request.subject;
  const std::vector<std::string> headerLines = messageHeaderLines(fields);
  const std::string plainText = plainAlternative(request.textBody);

  // Declared before the handle so that the handle, which points to them, is
  // cleaned up first on every way out.
  StallWatch stallWatch;
  StringList envelope;
  StringList headers;
  MimeTree mime;
  EasyHandle handle(curl_easy_init());
  if (!handle) {
    writeLog("Cannot init curl");
    return fail(std::string());
  }
  CURL* h = handle.get();

  if (setup.debug) {
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, transferDebugLog);
  }
  const char* ignoreSsl = std::getenv(kIgnoreSslVariable);
  if (ignoreSsl != nullptr && valInteger(ignoreSsl) > 0) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (!request.login.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, request.login.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.c_str());
  }
  const TlsChoice tls = tlsChoiceFor(request.security, request.serverUrl);
  curl_easy_setopt(h, CURLOPT_USE_SSL, tls.useSsl);
  if (tls.requireTls12)
    curl_easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  trustExtraCa(h, setup.extraCaFile);
  setTransferLimits(h, stallWatch);

  Result<std::string> token = std::string();
  if (setup.bearerToken) {
    if (request.security == "google")
      token = setup.bearerToken("GOOGLE", request.login);
    else if (request.security == "ms")
      token = setup.bearerToken("MS", request.login);
  }
  if (!token) {
    const std::string reason = "ERROR: " + token.message();
    writeLog("ERROR: Failed to receive a bearer oauth2 token: " + reason);
    return fail(reason, CURLE_AUTH_ERROR);
  }
  if (!token->empty()) curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, token->c_str());

  // The server text is whatever the user typed: without a scheme libcurl
  // would guess HTTP, and an http or file URL would take the message there
  // and report success although no mail was sent.
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "smtp");
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_URL, request.serverUrl.c_str());
  // The setting may hold a display name ("Alice <alice@example.org>"); the
  // MAIL command takes the address alone.
  const std::string envelopeSender = mailboxAddress(request.sender);
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, envelopeSender.c_str());

  for (const std::string& rcpt : envelopeRecipients(recipients)) {
    if (!appendTo(envelope, rcpt)) return curlFailure(CURLE_OUT_OF_MEMORY);
  }
  if (envelope) curl_easy_setopt(h, CURLOPT_MAIL_RCPT, envelope.get());

  for (const std::string& line : headerLines) {
    if (!appendTo(headers, line)) return curlFailure(CURLE_OUT_OF_MEMORY);
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  mime = buildMimeTree(h, request, plainText);
  if (!mime) return curlFailure(CURLE_OUT_OF_MEMORY);
  curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());

  CURLcode result = curl_easy_perform(h);
  if (result == CURLE_OK) return {};
  // The stall watch's abort is a timeout like libcurl's own.
  if (result == CURLE_ABORTED_BY_CALLBACK && stallWatch.stalled) result = CURLE_OPERATION_TIMEDOUT;
  Failure failure = curlFailure(result);
  writeLog("curl_easy_perform() failed: " + failure.message);
  return failure;
}

}  // namespace vm
