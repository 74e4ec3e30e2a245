// Test driver for the SMTP transfer: reads one request as JSON from the file
// named as the only argument and prints the outcome as one JSON line.
//
// Request keys: the MailRequest text fields by name (serverUrl, login,
// password, security, sender, recipients, replyTo, subject, htmlBody,
// textBody), "attachments": [{"fileName", "base64" | "path"}], "debug"
// (bool), "logFile", "extraCaFile", and "bearerToken" (the token the token
// source answers) or "bearerTokenError" (the sign-in failure it answers
// instead); with neither there is no token source.
// Answer: {"ok", "resultCode", "resultText", "tokenProvider"}.
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/base64.h"
#include "diag/log_writer.h"
#include "mail/smtp_transfer.h"

namespace {
// The tool's own log file, the receiver of every writeLog of the code under test.
vm::LogWriter processLog;
}  // namespace

namespace {

std::string text(const nlohmann::json& doc, const char* key) {
  auto it = doc.find(key);
  return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Sized up front: growing the buffer while reading would briefly hold the
// attachment twice and distort the memory benchmark.
bool readWholeFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0) return false;
  out.resize(static_cast<std::size_t>(size));
  in.seekg(0);
  return static_cast<bool>(in.read(out.data(), size));
}

}  // namespace

int main(int argc, char** argv) {
  vm::LogSinkScope logScope(processLog);
  if (argc != 2) {
    std::cerr << "usage: smtp_send REQUEST.json\n";
    return 2;
  }
  std::string requestText;
  if (!readWholeFile(argv[1], requestText)) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 2;
  }
  nlohmann::json doc = nlohmann::json::parse(requestText, nullptr, false);
  if (!doc.is_object()) {
    std::cerr << "request is not a JSON object\n";
    return 2;
  }

  if (std::string logFile = text(doc, "logFile"); !logFile.empty()) {
    processLog.setPath(logFile);
    processLog.open();
  }

  vm::MailRequest request;
  request.serverUrl = text(doc, "serverUrl");
  request.login = text(doc, "login");
  request.password = text(doc, "password");
  request.security = text(doc, "security");
  request.sender = text(doc, "sender");
  request.recipients = text(doc, "recipients");
  request.replyTo = text(doc, "replyTo");
  request.subject = text(doc, "subject");
  request.htmlBody = text(doc, "htmlBody");
  request.textBody = text(doc, "textBody");

  // The caller owns the attachment bytes for the whole transfer.
  std::vector<std::string> buffers;
  if (auto it = doc.find("attachments"); it != doc.end() && it->is_array()) {
    buffers.reserve(it->size());
    for (const auto& entry : *it) {
      std::string bytes;
      if (std::string path = text(entry, "path"); !path.empty()) {
        if (!readWholeFile(path, bytes)) {
          std::cerr << "cannot read " << path << "\n";
          return 2;
        }
      } else {
        bytes = vm::base64DecodeSkippingJunk(text(entry, "base64"));
      }
      buffers.push_back(std::move(bytes));
    }
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      vm::MailAttachment attachment;
      attachment.fileName = text((*it)[i], "fileName");
      attachment.data = reinterpret_cast<const unsigned char*>(buffers[i].data());
      attachment.size = static_cast<std::int32_t>(buffers[i].size());
      request.attachments.push_back(attachment);
    }
  }

  vm::TransferSetup setup;
  setup.debug = doc.value("debug", false);
  setup.extraCaFile = text(doc, "extraCaFile");
  std::string tokenProvider;
  if (doc.contains("bearerToken") || doc.contains("bearerTokenError")) {
    vm::Result<std::string> token =
        doc.contains("bearerTokenError")
            ? vm::Result<std::string>(vm::fail(text(doc, "bearerTokenError")))
            : vm::Result<std::string>(text(doc, "bearerToken"));
    setup.bearerToken = [&tokenProvider, token](const std::string& provider, const std::string&) {
      tokenProvider = provider;
      return token;
    };
  }

  const vm::Status sent = vm::transferMail(request, setup);
  // A transfer that went through reports libcurl's code 0 and its text.
  const int code = sent ? CURLE_OK : sent.failure().code;
  const std::string resultText = sent ? curl_easy_strerror(CURLE_OK) : sent.message();
  nlohmann::json answer = {{"ok", sent.ok()},
                           {"resultCode", code},
                           {"resultText", resultText},
                           {"tokenProvider", tokenProvider}};
  std::cout << answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
  return 0;
}
