#include "mail/message_headers.h"

#include <cstdio>
#include <cstdlib>

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

std::vector<std::string> messageHeaderLines(const HeaderFields& f) {
  return {
      "Date: " + f.date,
      foldAddressLine("To: " + f.recipients),
      "From: " + f.sender,
      "Reply-To: " + f.replyTo,
      "Message-ID: <" + f.identifier + "@" + senderDomain(f.sender) + ">",
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
