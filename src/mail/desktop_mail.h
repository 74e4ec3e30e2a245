// Hand-off of a message to the desktop mail application: where "osascript"
// is found, an AppleScript file filled from a fixed template, run by it;
// everywhere else the user's own mail program, opened through xdg-email.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vm {

// Writes the script to a new file in the temporary folder and starts the
// script tool on it. Fails when the file cannot be written or the tool not
// started; the message is the log line for that.
Status sendWithDesktopMail(const std::string& recipients, const std::string& cc,
                           const std::string& subject, const std::string& htmlBody,
                           const std::string& attachmentPath);

// n random letters (either case) and digits; not cryptographic.
std::string randomAlnum(std::size_t n);

// Creates a new file at path (never through an existing file or a symbolic
// link, mode 0600) holding the UTF-8 byte-order mark and text. False after
// logging when that fails; a name that is taken counts as a failure.
bool writeScriptFile(const std::string& path, const std::string& text);

// The filled script: the template with the escaped values; the attachment
// placeholder stays unless attachmentPath names a file of at least one byte.
std::string desktopMailScript(const std::string& recipients, const std::string& cc,
                              const std::string& subject, const std::string& htmlBody,
                              const std::string& attachmentPath);

// AppleScript string escaping of the hand-off.
std::string escapeForScript(std::string_view value);

// How long the hand-off waits for xdg-email to end. Some desktops have it
// run the mail program in the foreground; one still running after this has
// opened it.
inline constexpr std::chrono::milliseconds kMailProgramWait{10000};

// The arguments of xdg-email for one message: UTF-8 texts, the subject, the
// body (when not empty), the attachment (when there is one) and each
// recipient of the list (separated by "," or ";", blanks at both ends
// dropped) as a --to value, so that no recipient text is read as an option
// or as a mailto: address with fields of its own.
std::vector<std::string> xdgEmailArguments(const std::string& recipients,
                                           const std::string& subject, const std::string& body,
                                           const std::string& attachmentPath);

// Opens the user's mail program with the message through xdg-email, the body
// as htmlToText of the HTML body, and waits for xdg-email's exit status.
// Fails with the reason when it cannot be started or ends with another
// status than 0.
Status sendWithMailProgram(const std::string& recipients, const std::string& subject,
                           const std::string& htmlBody, const std::string& attachmentPath);

// The desktop path's attachment: with bytes and a name, a new private file
// in the temporary folder (createTemporaryFile), registered in tempFiles for
// deletion at shutdown; its path, or empty text when there is none (a file
// that cannot be made is logged).
std::string desktopAttachmentFile(const std::string& attachmentName,
                                  const std::optional<std::string>& attachmentBytes,
                                  std::vector<std::string>& tempFiles);

// The hand-off itself, which may wait for the mail program (kMailProgramWait):
// with "osascript" on PATH the script hand-off, whose outcome is only logged;
// otherwise the mail program, whose failure is logged and returned. Touches
// nothing but the temporary folder and the log, so it may run on a worker.
Status handOffToDesktop(const std::string& recipients, const std::string& subject,
                        const std::string& htmlBody, const std::string& attachmentPath);

// The sendMail command's desktop path, both steps at once. attachmentName is already reduced to
// its file part; with attachment bytes they are written to a new private
// file in the temporary folder (createTemporaryFile), which is registered in
// tempFiles for deletion at shutdown. With "osascript" on PATH the script
// hand-off runs and its outcome is only logged; otherwise the mail program
// is opened and a failure is logged and returned.
Status sendMailToDesktop(const std::string& recipients, const std::string& subject,
                         const std::string& htmlBody, const std::string& attachmentName,
                         const std::optional<std::string>& attachmentBytes,
                         std::vector<std::string>& tempFiles);

}  // namespace vm
