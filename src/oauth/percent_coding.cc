#include "oauth/percent_coding.h"

#include <cstdint>

#include "base/numbers.h"
#include "base/utf8.h"

namespace vm {

namespace {

bool isSafeByte(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case ';':
    case '=':
    case '?':
    case '@':
    case '_':
    case '~':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isSafeByte(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::string percentDecode(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (text.size() - i < 3) break;
      const int hi = hexDigitValue(text[i + 1]);
      const int lo = hexDigitValue(text[i + 2]);
      if (hi < 0 || lo < 0) break;
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else if (c == '+') {
      bytes.push_back(' ');
    } else {
      bytes.push_back(c);
    }
  }
  return validUtf8(bytes);
}

}  // namespace vm
