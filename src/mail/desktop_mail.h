// Hand-off of a message to the desktop mail application: an AppleScript
// file filled from a fixed template, run by "osascript". Useful on macOS
// only; elsewhere the start fails and is logged.
#pragma once

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

// The sendMail command's desktop path. attachmentName is already reduced to
// its file part; with attachment bytes they are written to the temporary
// folder under that name and the file is registered in tempFiles for
// deletion at shutdown. The hand-off's outcome is only logged.
void sendMailToDesktop(const std::string& recipients, const std::string& subject,
                       const std::string& htmlBody, const std::string& attachmentName,
                       const std::optional<std::string>& attachmentBytes,
                       std::vector<std::string>& tempFiles);

}  // namespace vm
