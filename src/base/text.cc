#include "base/text.h"

namespace vm {

namespace {
std::string_view trimAny(std::string_view text, std::string_view characters) {
  const auto first = text.find_first_not_of(characters);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(characters) - first + 1);
}
}  // namespace

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view trimSpaces(std::string_view text) { return trimAny(text, " "); }
std::string_view trimBlanks(std::string_view text) { return trimAny(text, " \t"); }

}  // namespace vm
