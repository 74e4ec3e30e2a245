#include "mail/send_mail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mail/address_book.h"
#include "settings/device_identity.h"
#include "settings/preferences.h"
#include "settings/secret_protection.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMail = R"(["a@example.org", "Subject", "text", "<p>html</p>", "", ""])";
constexpr const char* kNoPassword =
    "\"Error: No SMTP password is stored. Please enter the password in the account settings.\"";

// One profile with an account; the transfer never reaches a server (a
// refused sign-in or an URL scheme the transfer does not take stops it
// first), so the answer tells how far the command got.
class SendMailTest : public ::testing::Test {
 protected:
  SendMailTest() {
    prefs.writeSetting("smtp_sender", "me@example.org", kWebAppGroup);
    prefs.writeSetting("smtp_login", "me@example.org", kWebAppGroup);
  }
  std::string send(const char* args = kMail) {
    SendMailContext context{prefs,
                            book,
                            tempFiles,
                            dir.path(),
                            [this](const std::string& provider, const std::string&) {
                              signIns.push_back(provider);
                              return Result<std::string>(fail("the user said no"));
                            },
                            ""};
    return sendMailCommand(context, args).value_or("(no answer)");
  }

  test::TempDir dir;
  test::LogCapture log;
  Preferences prefs{dir.path()};
  AddressBook book{dir.path()};
  std::vector<std::string> tempFiles, signIns;
};

TEST_F(SendMailTest, OnlyAMissingOrDamagedPasswordStopsASend) {
  const std::string deviceId = deviceIdentifier(prefs);
  const std::string signInRefused =
      "\"Error during sending: ERROR: the user said no (CurlError 94)\"";
  // Past the password check, an http URL is refused before any connection.
  const std::string schemeRefused = "\"Error during sending: Unsupported protocol (CurlError 1)\"";
  const struct {
    const char* security;
    std::optional<std::string> stored;  // nullopt: no "smtp_passwd" at all
    std::string answer;
  } cases[] = {
      // Sign-in accounts never use the stored password: it is not looked at.
      {"google", protectText("", deviceId), signInRefused},
      {"ms", std::nullopt, signInRefused},
      {"google", "not a protected text", signInRefused},
      // Elsewhere a protected empty text is an empty password...
      {"tls", protectText("", deviceId), schemeRefused},
      {"other", protectText("s3cret", deviceId), schemeRefused},
      // ...and only a missing or undecodable value stops the send.
      {"tls", std::nullopt, kNoPassword},
      {"tls", "", kNoPassword},
      {"tls", "c2hvcnQ=", kNoPassword},
  };
  prefs.writeSetting("smtp_server", "http://127.0.0.1:9/", kWebAppGroup);
  for (const auto& c : cases) {
    prefs.writeSetting("smtp_auth", c.security, kWebAppGroup);
    if (c.stored)
      prefs.writeSetting("smtp_passwd", *c.stored, kWebAppGroup);
    else
      prefs.removeSetting("smtp_passwd", kWebAppGroup);
    EXPECT_EQ(send(), c.answer) << c.security << " " << c.stored.value_or("(none)");
  }
  EXPECT_EQ(signIns, (std::vector<std::string>{"GOOGLE", "MS", "GOOGLE"}));
}

// The desktop hand-off without osascript: xdg-email (a stand-in on PATH)
// decides the answer.
TEST_F(SendMailTest, TheDesktopHandOffAnswersWhetherTheMailProgramOpened) {
  const std::string bin = dir.path() + "bin/";
  fs::create_directories(bin);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", bin.c_str(), 1);
  prefs.writeSetting("useMacMail", "true", kWebAppGroup);
  const struct {
    int status;
    std::string answer;
  } cases[] = {
      {0, "\"\""},
      {4, "\"Error: The mail program could not be opened (xdg-email ended with exit status 4)\""},
  };
  for (const auto& [status, answer] : cases) {
    test::writeFile(bin + "xdg-email", "#!/bin/sh\nexit " + std::to_string(status) + "\n");
    chmod((bin + "xdg-email").c_str(), 0755);
    EXPECT_EQ(send(), answer) << status;
  }
  setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
}  // namespace vm
