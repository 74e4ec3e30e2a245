// The header lines of an outgoing message and the texts that go into them.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

// ";" becomes ",", blanks at both ends and empty fields go; blanks next to a
// comma inside the list stay, so an address keeps a blank in front of it.
std::string normaliseRecipients(std::string_view recipients);

// One RFC 2047 encoded word ("=?UTF-8?B?...?="), whatever the length or
// content of the subject, plain ASCII included.
std::string encodeSubject(std::string_view subject);

// An offset given in seconds east of UTC as sign and four digits ("+0100",
// "-0330").
std::string formatZoneOffset(long secondsEast);

// "Sun, 05 Jan 2025 14:03:09 +0100" for the current local time.
std::string formatDateHeader();
// The same text for a given moment, in the local zone of the process.
std::string formatDateHeaderAt(std::time_t when);

// The text between the first "@" of the sender and the next "@" or the end;
// empty when there is no "@".
std::string senderDomain(std::string_view sender);

// The address alone of a mailbox text such as "Alice <alice@example.org>":
// the text between the last "<" and the ">" after it, without blanks at both
// ends; the whole text when there is no such pair. SMTP commands take the
// address only.
std::string mailboxAddress(std::string_view mailbox);

// A mailbox text as it goes into a header line, which must stay 7-bit: a
// display name in front of "<address>" that is not plain ASCII becomes RFC
// 2047 encoded words (UTF-8, Base64; enclosing double quotes dropped first).
// Every other text stays as it is.
std::string headerMailbox(std::string_view mailbox);

struct HeaderFields {
  std::string date;        // formatDateHeader()
  std::string recipients;  // normalised list
  std::string sender;
  std::string replyTo;
  std::string identifier;  // fresh random identifier for the Message-ID
  std::string subject;     // unencoded
};

// An address-list header line as it goes out: unchanged up to 998
// characters, longer ones folded (CR LF and a blank) after commas so that no
// line passes that limit unless one address alone does. Unfolding gives the
// same list, with a blank after a comma where there was none.
std::string foldAddressLine(const std::string& line);

// Date, To, From, Reply-To, Message-ID, Subject: in this order, each one line
// without line ending; only a To line too long for one line is folded. From
// and Reply-To hold headerMailbox of their fields; the Message-ID's domain is
// that of the sender's address.
std::vector<std::string> messageHeaderLines(const HeaderFields& fields);

// The first of sender, reply address and recipients that holds a CR or LF,
// as a text for the user ("sender", "reply address", "recipients"); empty
// when all three are safe to place in a header line and an SMTP command.
std::string fieldWithLineBreak(std::string_view sender, std::string_view replyTo,
                               std::string_view recipients);

}  // namespace vm
