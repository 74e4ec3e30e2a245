// The sendMail bridge command: one message from the page, sent over SMTP
// with the stored account or handed to the desktop mail application.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/bridge_json.h"
#include "mail/smtp_transfer.h"

namespace vm {

class AddressBook;
class Preferences;

struct SendMailContext {
  Preferences& prefs;
  AddressBook& addressBook;
  std::vector<std::string>& tempFiles;
  std::string tempFolder;         // ends with "/"
  BearerTokenSource bearerToken;  // OAuth for "google" and "ms"; may be empty
  std::string extraCaFile;
};

// Runs the waiting part of a command (work) and then the rest (then) on the
// calling thread. The client passes runOnWorkerThen, so the main loop turns
// while the work waits; sendMailCommand's waiting form runs both at once.
using WorkRunner =
    std::function<void(std::function<void()> work, std::function<void()> then)>;
using AnswerSink = std::function<void(const BridgeAnswer& answer)>;

// The command in three steps: the checks, the settings and the password on
// the calling thread; the transfer (with any OAuth sign-in) or the desktop
// hand-off's wait as runner's work, which touches neither the preferences
// nor the address book; the address book, the log lines and the answer in
// runner's then. context's references must live until answer has been
// called; answer is called exactly once.
void sendMailCommand(SendMailContext context, std::string argsJson, const WorkRunner& runner,
                     AnswerSink answer);

// The same, all on the calling thread, returning the answer.
BridgeAnswer sendMailCommand(SendMailContext& context, const std::string& argsJson);

// The answer for a failed transfer, as a JSON string.
std::string sendingErrorAnswer(const std::string& resultText, int resultCode);

}  // namespace vm
