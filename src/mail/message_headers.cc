#include "mail/message_headers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/base64.h"
#include "base/text.h"

namespace vm {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string_view trimCommas(std::string_view s) {
  while (!s.empty() && s.front() == ',') s.remove_prefix(1);
  while (!s.empty() && s.back() == ',') s.remove_suffix(1);
  return s;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// RFC 5322's limit for one line of a header; servers refuse or cut longer ones.
constexpr std::size_t kMaxHeaderLine = 998;

// RFC 2047 allows 75 characters per encoded word: "=?UTF-8?B?" and "?=" take
// 12, and 45 bytes give 60 Base64 characters.
constexpr std::size_t kEncodedWordBytes = 45;

bool isPlainAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The name as words of at most kEncodedWordBytes, each cut before a UTF-8
// continuation byte so that no character is split across two words.
std::string encodedWords(std::string_view name) {
  std::string out;
  while (!name.empty()) {
    std::size_t take = std::min(name.size(), kEncodedWordBytes);
    while (take < name.size() && take > 1 &&
           (static_cast<unsigned char>(name[take]) & 0xC0) == 0x80)
      --take;
    if (!out.empty()) out += ' ';
    out += "=?UTF-8?B?" + base64Encode(name.substr(0, take)) + "?=";
    name.remove_prefix(take);
  }
  return out;
}

// A quoted display name without its quotes and quoting backslashes.
std::string unquoted(std::string_view name) {
  if (name.size() < 2 || name.front() != '"' || name.back() != '"') return std::string(name);
  std::string out;
  for (std::size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == '\\' && i + 2 < name.size()) ++i;
    out += name[i];
  }
  return out;
}

// Where "<address>" stands in a mailbox text: the last "<" and the ">"
// after it; npos for both when there is no such pair.
std::pair<std::size_t, std::size_t> angleBrackets(std::string_view mailbox) {
  const std::size_t open = mailbox.rfind('<');
  if (open == std::string_view::npos) return {open, open};
  const std::size_t close = mailbox.find('>', open);
  if (close == std::string_view::npos) return {close, close};
  return {open, close};
}

}  // namespace

std::string foldAddressLine(const std::string& line) {
  if (line.size() <= kMaxHeaderLine) return line;
  std::string folded;
  std::size_t lineStart = 0;  // where the current physical line begins in folded
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t comma = line.find(',', pos);
    const std::size_t end = comma == std::string::npos ? line.size() : comma + 1;
    std::string_view piece(line.data() + pos, end - pos);
    if (folded.size() > lineStart && folded.size() - lineStart + piece.size() > kMaxHeaderLine) {
      folded += "\r\n";
      lineStart = folded.size();
      // A continuation line must begin with a blank; the one after the comma serves when present.
      if (piece.front() != ' ') folded += ' ';
    }
    folded += piece;
    pos = end;
  }
  return folded;
}

std::string normaliseRecipients(std::string_view recipients) {
  std::string list(recipients);
  for (char& c : list) {
    if (c == ';') c = ',';
  }
  list = std::string(trimSpaces(list));
  // Collapsing runs of commas in one pass gives the same text as replacing
  // ",," until none is left.
  std::string collapsed;
  collapsed.reserve(list.size());
  for (char c : list) {
    if (c == ',' && !collapsed.empty() && collapsed.back() == ',') continue;
    collapsed += c;
  }
  return std::string(trimSpaces(trimCommas(collapsed)));
}

std::string encodeSubject(std::string_view subject) {
  return "=?UTF-8?B?" + base64Encode(subject) + "?=";
}

std::string formatZoneOffset(long secondsEast) {
  const long offset = secondsEast / 60;
  const long hours = offset / 60;
  const long minutes = offset % 60;
  char text[32];
  std::snprintf(text, sizeof text, "%c%04ld", offset >= 0 ? '+' : '-',
                std::labs(hours) * 100 + std::labs(minutes));
  return text;
}

std::string formatDateHeaderAt(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) {
    gmtime_r(&when, &local);
    local.tm_gmtoff = 0;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %s",
                kDayNames[local.tm_wday % 7], local.tm_mday, kMonthNames[local.tm_mon % 12],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                formatZoneOffset(local.tm_gmtoff).c_str());
  return text;
}

std::string formatDateHeader() { return formatDateHeaderAt(std::time(nullptr)); }

std::string senderDomain(std::string_view sender) {
  const auto at = sender.find('@');
  if (at == std::string_view::npos) return {};
  std::string_view rest = sender.substr(at + 1);
  return std::string(rest.substr(0, rest.find('@')));
}

std::string mailboxAddress(std::string_view mailbox) {
  const auto [open, close] = angleBrackets(mailbox);
  if (open == std::string_view::npos) return std::string(mailbox);
  return std::string(trimBlanks(mailbox.substr(open + 1, close - open - 1)));
}

std::string headerMailbox(std::string_view mailbox) {
  const auto [open, close] = angleBrackets(mailbox);
  if (open == std::string_view::npos) return std::string(mailbox);
  const std::string_view name = trimBlanks(mailbox.substr(0, open));
  if (name.empty() || isPlainAscii(name)) return std::string(mailbox);
  return encodedWords(unquoted(name)) + " " + std::string(mailbox.substr(open));
}

std::vector<std::string> messageHeaderLines(const HeaderFields& f) {
  return {
      "Date: " + f.date,
      foldAddressLine("To: " + f.recipients),
      "From: " + headerMailbox(f.sender),
      "Reply-To: " + headerMailbox(f.replyTo),
      "Message-ID: <" + f.identifier + "@" + senderDomain(mailboxAddress(f.sender)) + ">",
      "Subject: " + encodeSubject(f.subject),
  };
}

std::string fieldWithLineBreak(std::string_view sender, std::string_view replyTo,
                               std::string_view recipients) {
  if (hasLineBreak(sender)) return "sender";
  if (hasLineBreak(replyTo)) return "reply address";
  if (hasLineBreak(recipients)) return "recipients";
  return {};
}

}  // namespace vm
