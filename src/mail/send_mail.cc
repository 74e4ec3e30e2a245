#include "mail/send_mail.h"

#include <climits>
#include <memory>
#include <optional>
#include <utility>

#include "base/base64.h"
#include "base/log.h"
#include "files/file_io.h"
#include "mail/address_book.h"
#include "mail/desktop_mail.h"
#include "mail/message_headers.h"
#include "settings/device_identity.h"
#include "settings/preferences.h"
#include "settings/secret_protection.h"

namespace vm {

namespace {

struct MailArguments {
  std::string recipients, subject, textBody, htmlBody, attachmentName, attachmentBase64;
};

std::optional<MailArguments> readArguments(const std::string& argsJson) {
  auto args = parseBridgeArgs(argsJson);
  if (!args || args->size() != 6) return std::nullopt;
  const Json& a = *args;
  return MailArguments{jsonStringOrEmpty(a[0]), jsonStringOrEmpty(a[1]), jsonStringOrEmpty(a[2]),
                       jsonStringOrEmpty(a[3]), jsonStringOrEmpty(a[4]), jsonStringOrEmpty(a[5])};
}

bool isSignInSecurity(const std::string& security) {
  return security == "google" || security == "ms";
}

}  // namespace

std::string sendingErrorAnswer(const std::string& resultText, int resultCode) {
  return "\"Error during sending: " + jsonEscape(resultText) + " (CurlError " +
         jsonEscape(std::to_string(resultCode)) + ")\"";
}

namespace {

// What the transfer works on, kept alive from the checks to the answer.
struct MailJob {
  MailRequest request;
  TransferSetup setup;
  std::optional<std::string> attachmentBytes;  // request.attachments points into it
  std::string recipients;
  Status sent;
};

// The desktop path: the attachment file here, the hand-off's wait as work.
void handOff(SendMailContext& context, MailArguments& args, const std::string& attachmentName,
             std::optional<std::string> attachmentBytes, const WorkRunner& runner,
             AnswerSink answer) {
  std::string path = desktopAttachmentFile(attachmentName, attachmentBytes, context.tempFiles);
  auto handedOff = std::make_shared<Status>();
  runner(
      [handedOff, recipients = args.recipients, subject = args.subject,
       htmlBody = std::move(args.htmlBody), path] {
        *handedOff = handOffToDesktop(recipients, subject, htmlBody, path);
      },
      [handedOff, answer = std::move(answer)] {
        if (!*handedOff)
          answer(jsonStringAnswer("Error: The mail program could not be opened (" +
                                  handedOff->message() + ")"));
        else
          answer(jsonStringAnswer(""));
      });
}

// After the transfer: the log lines of a failure, or the address book.
BridgeAnswer transferAnswer(SendMailContext& context, const MailJob& job) {
  if (!job.sent) {
    const Failure& failure = job.sent.failure();
    writeLog("Mail sending error: " + failure.message + " (" + std::to_string(failure.code) + ")");
    std::string answer = sendingErrorAnswer(failure.message, failure.code);
    writeLog(answer);
    return answer;
  }
  // The normalised list: a semicolon separates recipients here, but not in
  // the address book, which would keep "a@x.org;b@y.org" as one entry.
  context.addressBook.rememberAddresses(normaliseRecipients(job.recipients));
  return jsonStringAnswer("");
}

}  // namespace

namespace {

// The page's arguments with the attachment decoded; reading them takes time
// for a large attachment and touches nothing else, so it runs as work.
struct ReadMail {
  std::optional<MailArguments> args;
  std::optional<std::string> attachmentBytes;
};

void readMail(ReadMail& mail, const std::string& argsJson) {
  mail.args = readArguments(argsJson);
  if (!mail.args || mail.args->attachmentBase64.empty()) return;
  mail.attachmentBytes = base64DecodeSkippingJunk(mail.args->attachmentBase64);
  mail.args->attachmentBase64.clear();
}

void sendReadMail(SendMailContext& context, ReadMail& mail, const WorkRunner& runner,
                  AnswerSink answer);

}  // namespace

void sendMailCommand(SendMailContext context, std::string argsJson, const WorkRunner& runner,
                     AnswerSink answer) {
  auto mail = std::make_shared<ReadMail>();
  // Moved, not copied: the text holds the attachment.
  runner([mail, argsJson = std::move(argsJson)] { readMail(*mail, argsJson); },
         [mail, context, runner, answer = std::move(answer)]() mutable {
           sendReadMail(context, *mail, runner, std::move(answer));
         });
}

namespace {

void sendReadMail(SendMailContext& context, ReadMail& mail, const WorkRunner& runner,
                  AnswerSink answer) {
  std::optional<MailArguments>& args = mail.args;
  if (!args) {
    writeLog("ERROR: SendMail had wrong parameter count!");
    return answer(jsonStringAnswer("Error: Wrong parameter count"));
  }
  if (args->recipients.empty() || args->subject.empty()) {
    writeLog("ERROR: SendMail, empty recipients or subject!");
    return answer(jsonStringAnswer("Error: Invalid or missing parameters"));
  }
  std::string attachmentName = fileNamePart(args->attachmentName);
  std::optional<std::string> attachmentBytes = std::move(mail.attachmentBytes);
  if (attachmentBytes)
    writeLog("SendMail attachment size " + std::to_string(attachmentBytes->size()) + " bytes");

  Preferences& prefs = context.prefs;
  std::string server = prefs.readSetting("smtp_server", "", kWebAppGroup);
  std::string sender = prefs.readSetting("smtp_sender", "", kWebAppGroup);
  std::string login = prefs.readSetting("smtp_login", "", kWebAppGroup);
  std::string reply = prefs.readSetting("smtp_reply", sender, kWebAppGroup);
  std::string security = prefs.readSetting("smtp_auth", "none", kWebAppGroup);
  if (reply.empty()) reply = sender;

  if (prefs.readSetting("useMacMail", "", kWebAppGroup) == "true")
    return handOff(context, *args, attachmentName, std::move(attachmentBytes), runner,
                   std::move(answer));
  if (server.empty() || sender.empty())
    return answer(
        jsonStringAnswer("Error: I can't send without SMTP parameters for server and sender"));
  if (attachmentBytes && attachmentBytes->size() > static_cast<std::size_t>(INT32_MAX))
    return answer(jsonStringAnswer("Error: The attachment is too large to send"));

  auto job = std::make_shared<MailJob>();
  job->attachmentBytes = std::move(attachmentBytes);
  job->recipients = args->recipients;
  MailRequest& request = job->request;
  request.htmlBody = std::move(args->htmlBody);
  request.textBody = std::move(args->textBody);
  request.recipients = args->recipients;
  request.sender = sender;
  request.replyTo = reply;
  request.subject = args->subject;
  if (job->attachmentBytes) {
    MailAttachment attachment;
    attachment.fileName = attachmentName;
    attachment.data = reinterpret_cast<const unsigned char*>(job->attachmentBytes->data());
    attachment.size = static_cast<std::int32_t>(job->attachmentBytes->size());
    request.attachments.push_back(attachment);
  }
  request.serverUrl = prefs.readSetting("smtp_server", "", kWebAppGroup);
  if (security != "none") {
    request.login = login;
    // Sign-in accounts authenticate with a bearer token; their stored
    // password is never used, so it is not read either.
    if (!isSignInSecurity(security)) {
      std::optional<std::string> password = unprotectStoredText(
          prefs.readSetting("smtp_passwd", "", kWebAppGroup), deviceIdentifier(prefs));
      // A missing or undecodable stored password must not end the client (and
      // lose the message the user is writing): the page is told instead. A
      // protected empty text is an empty password and is sent as such.
      if (!password) {
        writeLog("ERROR: SendMail, no SMTP password stored for [" + login + "]");
        return answer(jsonStringAnswer(
            "Error: No SMTP password is stored. Please enter the password in the account "
            "settings."));
      }
      request.password = std::move(*password);
    }
  }
  request.security = security;

  job->setup.debug = prefs.readSetting("debug", "", kWebAppGroup) == "true";
  job->setup.bearerToken = context.bearerToken;
  job->setup.extraCaFile = context.extraCaFile;
  runner([job] { job->sent = transferMail(job->request, job->setup); },
         [job, context, answer = std::move(answer)]() mutable {
           answer(transferAnswer(context, *job));
         });
}

}  // namespace

BridgeAnswer sendMailCommand(SendMailContext& context, const std::string& argsJson) {
  BridgeAnswer result;
  sendMailCommand(
      context, argsJson,
      [](const std::function<void()>& work, const std::function<void()>& then) {
        work();
        then();
      },
      [&result](const BridgeAnswer& answer) { result = answer; });
  return result;
}

}  // namespace vm
