#include "oauth/percent_coding.h"

#include <cstdint>

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

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the well-formed UTF-8 sequence at the start of s (RFC 3629,
// table 3-7 of the Unicode standard), or 0 when it is not one.
std::size_t wellFormedLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  const auto b1 = static_cast<unsigned char>(s[1]);
  if (b1 < lo || b1 > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80 || b > 0xBF) return 0;
  }
  return len;
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
      const int hi = hexValue(text[i + 1]);
      const int lo = hexValue(text[i + 2]);
      if (hi < 0 || lo < 0) break;
      bytes.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else if (c == '+') {
      bytes.push_back(' ');
    } else {
      bytes.push_back(c);
    }
  }
  return readAsUtf8(bytes);
}

std::string readAsUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t n = wellFormedLength(bytes);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      bytes.remove_prefix(1);
    } else {
      out.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
    }
  }
  return out;
}

}  // namespace vm
