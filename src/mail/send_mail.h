// The sendMail bridge command: one message from the page, sent over SMTP
// with the stored account or handed to the desktop mail application.
#pragma once

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

BridgeAnswer sendMailCommand(SendMailContext& context, const std::string& argsJson);

// The answer for a failed transfer, as a JSON string.
std::string sendingErrorAnswer(const std::string& resultText, int resultCode);

}  // namespace vm
