#include "mail/message_headers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "base/base64.h"

namespace vm {
namespace {

TEST(NormaliseRecipients, SeparatorsAndBlanks) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a@x.org", "a@x.org"},
      {"a@x.org;;b@x.org,", "a@x.org,b@x.org"},
      {"  a@x.org ; b@x.org  ", "a@x.org , b@x.org"},
      {"a@x.org, b@x.org", "a@x.org, b@x.org"},
      {",,,a@x.org,,,,b@x.org;;;", "a@x.org,b@x.org"},
      {" , a@x.org , ", "a@x.org"},
      {";;;", ""},
      {"", ""},
      // Only blanks count as blanks: a tab stays part of the field.
      {"\ta@x.org", "\ta@x.org"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(normaliseRecipients(in), out) << "input [" << in << "]";
  }
}

TEST(EncodeSubject, AlwaysOneEncodedWord) {
  EXPECT_EQ(encodeSubject(""),
            "=?UTF-8?B?"
            "?=");
  EXPECT_EQ(encodeSubject("Hello"), "=?UTF-8?B?SGVsbG8=?=");
  EXPECT_EQ(encodeSubject("Gr\xC3\xBC\xC3\x9F"
                          "e"),
            "=?UTF-8?B?R3LDvMOfZQ==?=");
  const std::string longSubject(200, 'x');
  const std::string encoded = encodeSubject(longSubject);
  EXPECT_EQ(encoded.find_first_of(" \r\n"), std::string::npos);
  EXPECT_EQ(encoded.size(), 10 + 268 + 2);
}

TEST(ZoneOffset, SignAndFourDigits) {
  const struct {
    long seconds;
    const char* text;
  } cases[] =
      {
          {0, "+0000"},     {3600, "+0100"},  {-12600, "-0330"},
          {19800, "+0530"}, {20700, "+0545"}, {-36000, "-1000"},
          {50400, "+1400"}, {-1800, "-0030"}, {59, "+0000"},  // seconds below a minute are dropped
      };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(formatZoneOffset(seconds), text) << seconds;
  }
}

class LocalZone : public ::testing::Test {
 protected:
  void use(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  void TearDown() override {
    if (saved_)
      setenv("TZ", saved_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> saved_ =
      std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(LocalZone, DateHeaderInStandardAndDaylightTime) {
  // 2025-01-05 13:03:09 UTC, a Sunday, and 2025-07-15 12:00:00 UTC.
  const std::time_t winter = 1736082189;
  const std::time_t summer = 1752580800;
  use("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(formatDateHeaderAt(winter), "Sun, 05 Jan 2025 14:03:09 +0100");
  EXPECT_EQ(formatDateHeaderAt(summer), "Tue, 15 Jul 2025 14:00:00 +0200");
  use("NST3:30NDT,M3.2.0,M11.1.0");
  EXPECT_EQ(formatDateHeaderAt(winter), "Sun, 05 Jan 2025 09:33:09 -0330");
  EXPECT_EQ(formatDateHeaderAt(summer), "Tue, 15 Jul 2025 09:30:00 -0230");
  use("UTC0");
  EXPECT_EQ(formatDateHeaderAt(winter), "Sun, 05 Jan 2025 13:03:09 +0000");
}

TEST_F(LocalZone, CurrentOffsetFollowsTheZone) {
  use("<-0330>3:30");
  EXPECT_TRUE(std::regex_match(
      formatDateHeader(),
      std::regex(R"([A-Z][a-z]{2}, \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d -0330)")));
}

TEST(SenderDomain, BetweenFirstAtAndNext) {
  EXPECT_EQ(senderDomain("me@example.com"), "example.com");
  EXPECT_EQ(senderDomain("me@example.com@other"), "example.com");
  EXPECT_EQ(senderDomain("postmaster"), "");
  EXPECT_EQ(senderDomain("me@"), "");
}

TEST(MessageHeaderLines, SixLinesInOrder) {
  HeaderFields f;
  f.date = "Sun, 05 Jan 2025 14:03:09 +0100";
  f.recipients = "a@x.org, b@x.org";
  f.sender = "me@example.com";
  f.replyTo = "reply@example.net";
  f.identifier = "0123ABCD-0000-4000-8000-00000000000F";
  f.subject = "Hi";
  const std::vector<std::string> expected = {
      "Date: Sun, 05 Jan 2025 14:03:09 +0100",
      "To: a@x.org, b@x.org",
      "From: me@example.com",
      "Reply-To: reply@example.net",
      "Message-ID: <0123ABCD-0000-4000-8000-00000000000F@example.com>",
      "Subject: =?UTF-8?B?SGk=?=",
  };
  EXPECT_EQ(messageHeaderLines(f), expected);
  f.sender = "nobody";
  EXPECT_EQ(messageHeaderLines(f)[4], "Message-ID: <0123ABCD-0000-4000-8000-00000000000F@>");
}

TEST(MailboxAddress, TheAddressAloneForTheEnvelope) {
  const struct {
    const char* mailbox;
    const char* address;
  } cases[] = {
      {"alice@example.org", "alice@example.org"},
      {"Alice \xC3\x84rger <alice@example.org>", "alice@example.org"},
      {"\"Ärger, Alice\" < alice@example.org >", "alice@example.org"},
      {"<alice@example.org>", "alice@example.org"},
      // The last "<" counts: a name may hold one.
      {"a <b> c <alice@example.org>", "alice@example.org"},
      // Without a "<...>" pair the setting is used as it is.
      {"Alice alice@example.org>", "Alice alice@example.org>"},
      {"Alice <alice@example.org", "Alice <alice@example.org"},
      {"", ""},
  };
  for (const auto& [mailbox, address] : cases)
    EXPECT_EQ(mailboxAddress(mailbox), address) << mailbox;
}

TEST(HeaderMailbox, ANameThatIsNotAsciiBecomesEncodedWords) {
  const struct {
    std::string mailbox;
    std::string header;
  } cases[] = {
      {"alice@example.org", "alice@example.org"},
      {"Alice Smith <alice@example.org>", "Alice Smith <alice@example.org>"},
      {"\"Smith, Alice\" <alice@example.org>", "\"Smith, Alice\" <alice@example.org>"},
      {"Alice \xC3\x84rger <alice@example.org>",
       "=?UTF-8?B?QWxpY2Ugw4RyZ2Vy?= <alice@example.org>"},
      // The quotes of a quoted name do not go into the encoded word.
      {"\"\xC3\x84rger, \\\"Alice\\\"\" <alice@example.org>",
       "=?UTF-8?B?w4RyZ2VyLCAiQWxpY2Ui?= <alice@example.org>"},
      // No address in angle brackets: nothing to separate a name from.
      {"\xC3\x84rger alice@example.org", "\xC3\x84rger alice@example.org"},
  };
  for (const auto& [mailbox, header] : cases) EXPECT_EQ(headerMailbox(mailbox), header) << mailbox;
}

TEST(HeaderMailbox, LongNamesSplitIntoWordsBetweenCharacters) {
  // 30 two-byte letters: 60 bytes, more than one encoded word of at most 75
  // characters can carry.
  std::string name;
  for (int i = 0; i < 30; ++i) name += "\xC3\x84";
  const std::string header = headerMailbox(name + " <a@example.org>");
  const std::regex word(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]+)\?=)");
  std::string decoded;
  std::size_t words = 0;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), word);
       it != std::sregex_iterator(); ++it) {
    EXPECT_LE(it->length(), 75);
    const std::string bytes = base64DecodeSkippingJunk((*it)[1].str());
    // Each word holds whole characters only.
    EXPECT_EQ(bytes.size() % 2, 0u);
    decoded += bytes;
    ++words;
  }
  EXPECT_EQ(words, 2u);
  EXPECT_EQ(decoded, name);
  EXPECT_TRUE(header.ends_with("?= <a@example.org>")) << header;
}

TEST(MessageHeaderLines, ANamedSenderStaysSevenBitAndGivesTheAddressDomain) {
  HeaderFields f;
  f.date = "Sun, 05 Jan 2025 14:03:09 +0100";
  f.recipients = "a@x.org";
  f.sender = "Alice \xC3\x84rger <alice@example.org>";
  f.replyTo = f.sender;
  f.identifier = "0123ABCD-0000-4000-8000-00000000000F";
  f.subject = "Gr\xC3\xBC\xC3\x9F";
  const std::vector<std::string> lines = messageHeaderLines(f);
  EXPECT_EQ(lines[2], "From: =?UTF-8?B?QWxpY2Ugw4RyZ2Vy?= <alice@example.org>");
  EXPECT_EQ(lines[3], "Reply-To: =?UTF-8?B?QWxpY2Ugw4RyZ2Vy?= <alice@example.org>");
  EXPECT_EQ(lines[4], "Message-ID: <0123ABCD-0000-4000-8000-00000000000F@example.org>");
  for (const std::string& line : lines) {
    for (char c : line) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << line;
  }
}

namespace {

std::vector<std::string> physicalLines(const std::string& folded) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (std::size_t at; (at = folded.find("\r\n", pos)) != std::string::npos; pos = at + 2)
    lines.push_back(folded.substr(pos, at - pos));
  lines.push_back(folded.substr(pos));
  return lines;
}

std::string addressList(int count, const std::string& separator) {
  std::string list;
  for (int i = 1; i <= count; ++i) list += (i > 1 ? separator : "") + "r" + std::to_string(i) + "@example.org";
  return list;
}

}  // namespace

TEST(FoldAddressLine, LongListsFoldAfterCommasOnly) {
  const std::string longAddress = std::string(1200, 'x') + "@example.org";
  const struct {
    std::string line;
    std::string unfolded;  // what removing each CR LF must give back, blanks aside when unset
    std::size_t lines;
  } cases[] = {
      {"To: a@x.org, b@x.org", "To: a@x.org, b@x.org", 1},
      {"To: " + std::string(994, 'a'), "To: " + std::string(994, 'a'), 1},  // exactly 998
      {"To: " + addressList(255, ", "), "To: " + addressList(255, ", "), 5},
      // Without a blank after the comma, the fold brings its own.
      {"To: " + addressList(255, ","), "", 5},
      // One address longer than a line stays whole, on a line of its own.
      {"To: a@x.org, " + longAddress + ", b@x.org", "To: a@x.org, " + longAddress + ", b@x.org", 3},
  };
  for (const auto& c : cases) {
    const std::string folded = foldAddressLine(c.line);
    const std::vector<std::string> lines = physicalLines(folded);
    EXPECT_EQ(lines.size(), c.lines) << c.line.substr(0, 40);
    std::string unfolded;
    for (const auto& line : lines) {
      unfolded += line;
      if (line.find(longAddress) == std::string::npos) {
        EXPECT_LE(line.size(), 998u);
      }
      if (&line != &lines.front()) {
        EXPECT_EQ(line.front(), ' ');
      }
      if (&line != &lines.back()) {
        EXPECT_EQ(line.back(), ',');
      }
    }
    if (c.unfolded.empty()) {
      std::erase(unfolded, ' ');
      EXPECT_EQ(unfolded, "To:" + c.line.substr(4));
    } else {
      EXPECT_TRUE(unfolded == c.unfolded) << c.line.substr(0, 40);
    }
  }
}

TEST(FieldWithLineBreak, NamesTheFirstUnsafeField) {
  const struct {
    const char* sender;
    const char* replyTo;
    const char* recipients;
    const char* named;
  } cases[] = {
      {"a@x.org", "b@x.org", "c@x.org, d@x.org", ""},
      {"a@x.org\r\nRCPT TO:<e@x.org>", "b@x.org", "c@x.org", "sender"},
      {"a@x.org", "b@x.org\nBcc: e@x.org", "c@x.org", "reply address"},
      {"a@x.org", "b@x.org", "c@x.org\r", "recipients"},
      {"a@x.org\n", "b@x.org\n", "c@x.org\n", "sender"},
  };
  for (const auto& [sender, replyTo, recipients, named] : cases) {
    EXPECT_EQ(fieldWithLineBreak(sender, replyTo, recipients), named)
        << sender << replyTo << recipients;
  }
}

}  // namespace
}  // namespace vm
