#include "oauth/redirect_request.h"

#include "base/log.h"
#include "base/utf8.h"
#include "oauth/percent_coding.h"

namespace vm {

namespace {

std::string_view requestLine(std::string_view text) {
  while (true) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.starts_with("GET ")) return line;
    if (end == std::string_view::npos) return {};
    text.remove_prefix(end + 1);
  }
}

std::string_view queryOf(std::string_view line) {
  const std::size_t question = line.find('?');
  // Without a "?" the whole line stands as the query; it then matches none
  // of the keys that count.
  if (question == std::string_view::npos) return line;
  const std::string_view rest = line.substr(question + 1);
  return rest.substr(0, rest.find(' '));
}

}  // namespace

RedirectParameters parseRedirectRequest(std::string_view requestText,
                                        std::string_view expectedState) {
  RedirectParameters result;
  std::string_view query = queryOf(requestLine(requestText));
  while (true) {
    const std::size_t amp = query.find('&');
    const std::string_view piece = query.substr(0, amp);

    const std::size_t eq = piece.find('=');
    const std::string key(piece.substr(0, eq));
    std::string value;
    if (eq != std::string_view::npos) {
      // A value that itself holds "=" is cut there.
      const std::string_view afterEq = piece.substr(eq + 1);
      value = percentDecode(afterEq.substr(0, afterEq.find('=')));
    }

    if (key == "error") {
      writeLog("WARN: Got error " + value);
      result.errorReported = true;
    } else if (key == "error_description") {
      writeLog("WARN: Got error_description " + value);
    } else if (key == "code") {
      writeLog("Successfully got an auth token code answer");
      result.code = std::move(value);
    } else if (key == "state") {
      if (value == expectedState) result.stateConfirmed = true;
    } else {
      writeLog("Ignored header key: " + validUtf8(key) + " value: " + value);
    }

    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return result;
}

}  // namespace vm
