#include "mail/smtp_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

TEST(TlsChoice, SecurityTable) {
  const struct {
    const char* security;
    const char* url;
    long useSsl;
    bool tls12;
  } cases[] = {
      {"none", "smtp://h:25", CURLUSESSL_NONE, false},
      {"none", "smtps://h:465", CURLUSESSL_NONE, false},
      {"tls", "smtp://h:587", CURLUSESSL_ALL, true},
      {"tls", "smtps://h:465", CURLUSESSL_ALL, true},
      {"google", "smtp://h:587", CURLUSESSL_TRY, false},
      {"google", "smtps://h:465", CURLUSESSL_ALL, true},
      {"ms", "smtp://h:587", CURLUSESSL_TRY, false},
      {"other", "smtps", CURLUSESSL_ALL, true},
      {"other", "SMTPS://h", CURLUSESSL_TRY, false},
      {"None", "smtp://h", CURLUSESSL_TRY, false},
      {"TLS", "smtp://h", CURLUSESSL_TRY, false},
      {"", "smtp", CURLUSESSL_TRY, false},
  };
  for (const auto& [security, url, useSsl, tls12] : cases) {
    const TlsChoice choice = tlsChoiceFor(security, url);
    EXPECT_EQ(choice.useSsl, useSsl) << security << " " << url;
    EXPECT_EQ(choice.requireTls12, tls12) << security << " " << url;
  }
}

TEST(EnvelopeRecipients, FieldsWithoutBlanksUpTo255) {
  const struct {
    const char* list;
    std::vector<std::string> envelope;
  } cases[] = {
      // The blank that follows a separator in the normalised list.
      {"a@x.org, b@x.org", {"a@x.org", "b@x.org"}},
      {"a@x.org ,\tb@x.org\t", {"a@x.org", "b@x.org"}},
      {"", {}},
      // A field of blanks only is empty.
      {"a@x.org, ,b@x.org", {"a@x.org", "b@x.org"}},
  };
  for (const auto& [list, envelope] : cases) EXPECT_EQ(envelopeRecipients(list), envelope) << list;

  std::string list;
  for (int i = 1; i <= 300; ++i) list += (i > 1 ? "," : "") + std::to_string(i);
  const auto fields = envelopeRecipients(list);
  ASSERT_EQ(fields.size(), 255u);
  EXPECT_EQ(fields.back(), "255");
  // An empty field still counts toward the 255.
  const auto withGap = envelopeRecipients("1,," + list.substr(list.find(",3,") + 1));
  EXPECT_EQ(withGap.size(), 254u);
}

TEST(PlainAlternative, TextOrFallbackWithCrLf) {
  EXPECT_EQ(plainAlternative("Hello"), "Hello\r\n");
  EXPECT_EQ(plainAlternative(""),
            "Please view this message in a modern HTML enabled email program.\r\n");
}

TEST(AttachmentRead, CopiesInPiecesThenEnds) {
  const std::string bytes = "0123456789";
  MailAttachment a;
  a.data = reinterpret_cast<const unsigned char*>(bytes.data());
  a.size = static_cast<std::int32_t>(bytes.size());
  char buffer[8];
  EXPECT_EQ(attachmentRead(buffer, 1, 4, &a), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(attachmentRead(buffer, 2, 4, &a), 6u);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(a.readPosition, 10);
  EXPECT_EQ(attachmentRead(buffer, 1, 8, &a), 0u);

  MailAttachment empty;
  EXPECT_EQ(attachmentRead(buffer, 1, 8, &empty), 0u);
}

class DebugLog : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string path = dir.path() + "log.txt";
  test::LogCapture logCapture{path};
  void feed(std::string data) {
    transferDebugLog(nullptr, CURLINFO_TEXT, data.data(), data.size(), nullptr);
  }
};

TEST_F(DebugLog, TrimsLineFeedsThenCarriageReturns) {
  feed("250 OK\r\n");
  feed("\n\r\nEHLO host\r\n\n");
  feed("MAIL FROM:<a@x.org>");
  feed("Line one\r\nLine two\r\n");
  feed(std::string("bin\xFF\x00z", 6));
  EXPECT_EQ(test::readFile(path),
            "CURL: 250 OK\r\n"
            // Line feeds go first, so a CR LF pair at the start leaves its LF.
            "CURL: \nEHLO host\r\n"
            "CURL: MAIL FROM:<a@x.org>\r\n"
            "CURL: Line one\r\nLine two\r\n"
            "CURL: bin\xEF\xBF\xBD" +
                std::string(1, '\0') + "z\r\n");
}

TEST(TransferMail, LineBreakInAnAddressIsRefusedBeforeAnyConnection) {
  MailRequest r;
  // Nothing listens on this URL: reaching the network would give a
  // connection error instead of the refusal.
  r.serverUrl = "smtp://127.0.0.1:1";
  r.security = "none";
  r.sender = "a@x.org";
  r.replyTo = "a@x.org\r\nBcc: e@x.org";
  r.recipients = "b@x.org";
  Status sent = transferMail(r, TransferSetup{});
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.failure().code, kUnsafeFieldCode);
  EXPECT_NE(sent.message().find("reply address"), std::string::npos);
}

TEST(TransferMail, TokenErrorEndsWithCode94BeforeAnyConnection) {
  MailRequest r;
  r.serverUrl = "smtp://127.0.0.1:1";
  r.security = "google";
  r.login = "me@x.org";
  r.sender = r.replyTo = "me@x.org";
  r.recipients = "b@x.org";
  std::vector<std::string> asked;
  TransferSetup setup;
  setup.bearerToken = [&](const std::string& provider, const std::string& hint) {
    asked.push_back(provider + " " + hint);
    return Result<std::string>(fail("no token"));
  };
  Status sent = transferMail(r, setup);
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.failure().code, 94);
  EXPECT_EQ(sent.message(), "ERROR: no token");
  EXPECT_EQ(asked, std::vector<std::string>{"GOOGLE me@x.org"});

  // Without a source, or for other security values, no token is asked for
  // and the transfer goes ahead (and here fails to connect).
  r.security = "tls";
  asked.clear();
  sent = transferMail(r, setup);
  ASSERT_FALSE(sent);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(sent.failure().code, CURLE_COULDNT_CONNECT);
  EXPECT_EQ(sent.message(), curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

}  // namespace
}  // namespace vm
