#include "mail/desktop_mail.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <thread>

#include "base/log.h"
#include "files/file_io.h"
#include "mail/html_to_text.h"
#include "mail/message_headers.h"
#include "mail/smtp_transfer.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process_start.h"

namespace vm {

namespace {

constexpr std::string_view kScriptTemplate =
    "tell application \"Mail\"\n"
    "set newMessage To (a reference To (make new outgoing message))\n"
    "\n"
    "tell newMessage\n"
    "\tmake new recipient at beginning of To recipients \xC2\xAC\n"
    "\t\twith properties {address:\"<RECIPIENT>\"}\n"
    "\n"
    "\tmake new cc recipient at beginning of cc recipients \xC2\xAC\n"
    "\t\twith properties {address:\"<CC>\"}\n"
    "\n"
    "\tset the subject to \"<SUBJECT>\"\n"
    "\tset content to \"<BODY>\"\n"
    "\n"
    "\ttell content\n"
    "\t\tmake new attachment \xC2\xAC\n"
    "\t\t\twith properties {file name:\"<ATTACHMENT>\"} \xC2\xAC\n"
    "\t\t\tat after the last word of the last paragraph\n"
    "\tend tell\n"
    "\n"
    "\tset visible to true\n"
    "  activate\n"
    "end tell\n"
    "end tell\n";

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Names are only four characters long; a few tries get past names that
// exist already (ours from a crash, or planted by someone else).
constexpr int kNameAttempts = 32;
constexpr auto kToolStartWait = std::chrono::milliseconds(4000);

std::mt19937& generator() {
  static std::mt19937 gen{std::random_device{}()};
  return gen;
}

Status createScriptFile(const std::string& path, const std::string& text) {
  return writePrivateFile(path, std::string(kBom) + text, PrivateOpen::Exclusive);
}

}  // namespace

std::string escapeForScript(std::string_view value) {
  std::string out;
  out.reserve(value.size() + value.size() / 8);
  for (char c : value) {
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string randomAlnum(std::size_t n) {
  std::uniform_int_distribution<int> percent(0, 100);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> letter(0, 25);
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (percent(generator()) < 50) {
      out += static_cast<char>('0' + digit(generator()));
    } else {
      char base = 'a';
      int l = letter(generator());
      if (percent(generator()) < 50) base = 'A';
      out += static_cast<char>(base + l);
    }
  }
  return out;
}

bool writeScriptFile(const std::string& path, const std::string& text) {
  if (createScriptFile(path, text)) return true;
  writeLog("Unable To open file [" + path + "] for read/write access!");
  return false;
}

std::string desktopMailScript(const std::string& recipients, const std::string& cc,
                              const std::string& subject, const std::string& htmlBody,
                              const std::string& attachmentPath) {
  std::string body = htmlToText(htmlBody) + "\n\n\n";
  std::optional<std::string> attachment;
  if (!attachmentPath.empty() && fileSize(attachmentPath) > 0) attachment = attachmentPath;

  // The placeholders are filled in one pass over the template, so a value
  // that itself contains a placeholder's text (a subject "<BODY>") stays as
  // written.
  const std::pair<std::string_view, std::optional<std::string>> values[] = {
      {"<RECIPIENT>", escapeForScript(recipients)},
      {"<CC>", escapeForScript(cc)},
      {"<SUBJECT>", escapeForScript(subject)},
      {"<BODY>", escapeForScript(body)},
      {"<ATTACHMENT>", attachment ? std::optional(escapeForScript(*attachment)) : std::nullopt},
  };
  std::string script;
  std::size_t pos = 0;
  while (pos < kScriptTemplate.size()) {
    std::size_t next = kScriptTemplate.find('<', pos);
    if (next == std::string_view::npos) break;
    script.append(kScriptTemplate, pos, next - pos);
    pos = next;
    bool filled = false;
    for (const auto& [placeholder, value] : values) {
      if (kScriptTemplate.substr(next, placeholder.size()) != placeholder) continue;
      script += value ? *value : std::string(placeholder);
      pos = next + placeholder.size();
      filled = true;
      break;
    }
    if (!filled) script += kScriptTemplate[pos++];
  }
  script.append(kScriptTemplate.substr(pos));
  return script;
}

Status sendWithDesktopMail(const std::string& recipients, const std::string& cc,
                           const std::string& subject, const std::string& htmlBody,
                           const std::string& attachmentPath) {
  std::string script = desktopMailScript(recipients, cc, subject, htmlBody, attachmentPath);

  // The script is run by another program: it must be a file we created
  // just now, not one someone placed under the name we picked.
  std::string scriptPath;
  bool written = false;
  for (int attempt = 0; attempt < kNameAttempts && !written; ++attempt) {
    scriptPath = tempFolder() + "sendMacMail_" + randomAlnum(4) + ".scpt";
    Status created = createScriptFile(scriptPath, script);
    written = created.ok();
    if (!written && created.failure().code != EEXIST) break;
  }
  const Failure notStarted =
      fail("Execution of 'osascript' failed. Params: ' \"" + scriptPath + "\"'");
  if (!written) {
    writeLog("Unable To open file [" + scriptPath + "] for read/write access!");
    return notStarted;
  }
  if (!startDetached("osascript", {scriptPath})) {
    // Nothing will read the script, and it holds the message.
    ::unlink(scriptPath.c_str());
    return notStarted;
  }
  std::this_thread::sleep_for(kToolStartWait);
  ::unlink(scriptPath.c_str());
  return {};
}

std::vector<std::string> xdgEmailArguments(const std::string& recipients,
                                           const std::string& subject, const std::string& body,
                                           const std::string& attachmentPath) {
  // xdg-email refuses an option with an empty value.
  std::vector<std::string> args{"--utf8"};
  if (!subject.empty()) args.insert(args.end(), {"--subject", subject});
  if (!body.empty()) args.insert(args.end(), {"--body", body});
  if (!attachmentPath.empty()) args.insert(args.end(), {"--attach", attachmentPath});
  for (const std::string& address : envelopeRecipients(normaliseRecipients(recipients)))
    args.insert(args.end(), {"--to", address});
  return args;
}

Status sendWithMailProgram(const std::string& recipients, const std::string& subject,
                           const std::string& htmlBody, const std::string& attachmentPath) {
  const std::vector<std::string> args =
      xdgEmailArguments(recipients, subject, htmlToText(htmlBody), attachmentPath);
  Result<std::optional<int>> ended = runAndWait("xdg-email", args, kMailProgramWait);
  if (!ended) return fail("xdg-email could not be started: " + ended.message());
  if (!ended->has_value() || **ended == 0) return {};
  return fail("xdg-email ended with exit status " + std::to_string(**ended));
}

std::string desktopAttachmentFile(const std::string& attachmentName,
                                  const std::optional<std::string>& attachmentBytes,
                                  std::vector<std::string>& tempFiles) {
  // An empty name would make the temporary folder itself the attachment.
  if (!attachmentBytes || attachmentName.empty()) return {};
  Result<std::string> created = createTemporaryFile(tempFolder(), attachmentName);
  if (!created) {
    writeLog("Unable to open new file [" + tempFolder() + attachmentName + "]");
    return {};
  }
  if (!writeWholeFile(*created, attachmentBytes->data(), attachmentBytes->size())) return {};
  tempFiles.push_back(*created);
  return *created;
}

Status handOffToDesktop(const std::string& recipients, const std::string& subject,
                        const std::string& htmlBody, const std::string& attachmentPath) {
  if (programOnPath("osascript")) {
    if (Status handedOff = sendWithDesktopMail(recipients, "", subject, htmlBody, attachmentPath);
        !handedOff)
      writeLog(handedOff.message());
    return {};
  }
  Status opened = sendWithMailProgram(recipients, subject, htmlBody, attachmentPath);
  if (!opened) writeLog("ERROR: Failed to open the mail program: " + opened.message());
  return opened;
}

Status sendMailToDesktop(const std::string& recipients, const std::string& subject,
                         const std::string& htmlBody, const std::string& attachmentName,
                         const std::optional<std::string>& attachmentBytes,
                         std::vector<std::string>& tempFiles) {
  const std::string path = desktopAttachmentFile(attachmentName, attachmentBytes, tempFiles);
  return handOffToDesktop(recipients, subject, htmlBody, path);
}

}  // namespace vm
