#include "base/numbers.h"

#include <climits>
#include <cstdlib>
#include <string>

namespace vm {

namespace {

struct Scanned {
  long long value;
  bool atEnd;  // nothing follows the digits
};

std::optional<Scanned> scanDecimal(std::string_view text) {
  const std::string terminated(text);  // strtoll reads up to a NUL
  char* end = nullptr;
  // Out of range, strtoll answers the nearer limit itself.
  const long long value = std::strtoll(terminated.c_str(), &end, 10);
  if (end == terminated.c_str()) return std::nullopt;
  return Scanned{value, end == terminated.c_str() + terminated.size()};
}

int digitValue(char c, int base) {
  const int digit = hexDigitValue(c);
  return digit < base ? digit : -1;
}

}  // namespace

std::optional<long long> leadingInteger(std::string_view text) {
  const auto scanned = scanDecimal(text);
  if (!scanned) return std::nullopt;
  return scanned->value;
}

std::optional<long long> wholeInteger(std::string_view text) {
  const auto scanned = scanDecimal(text);
  if (!scanned || !scanned->atEnd) return std::nullopt;
  return scanned->value;
}

std::optional<int> leadingInt(std::string_view text) {
  const auto value = leadingInteger(text);
  if (!value || *value < INT_MIN || *value > INT_MAX) return std::nullopt;
  return static_cast<int>(*value);
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

long long valInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  long long value = 0;
  bool saturated = false;
  for (int digit; i < text.size() && (digit = digitValue(text[i], base)) >= 0; ++i) {
    if (value > (LLONG_MAX - digit) / base) saturated = true;
    if (!saturated) value = value * base + digit;
  }
  if (saturated) return negative ? LLONG_MIN : LLONG_MAX;
  return negative ? -value : value;
}

}  // namespace vm
