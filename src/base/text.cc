#include "base/text.h"

#include <cstring>

namespace vm {

namespace {
std::string_view trimAny(std::string_view text, std::string_view characters) {
  const auto first = text.find_first_not_of(characters);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(characters) - first + 1);
}
template <class Find>
std::string replaceEach(std::string_view text, std::string_view find, std::string_view with,
                        Find findFrom) {
  if (find.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t pos = 0;
  for (std::size_t hit; (hit = findFrom(pos)) != std::string_view::npos; pos = hit + find.size()) {
    out.append(text, pos, hit - pos);
    out.append(with);
  }
  out.append(text, pos, std::string_view::npos);
  return out;
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

std::size_t findIgnoringAsciiCase(std::string_view text, std::string_view needle,
                                  std::size_t from) {
  if (needle.empty() || from > text.size() || text.size() - from < needle.size()) {
    return std::string_view::npos;
  }
  const std::size_t last = text.size() - needle.size();
  const char first = needle[0];
  std::size_t i = from;
  while (i <= last) {
    // A needle that begins with a non-letter is skipped to with memchr: the
    // HTML conversion searches every message for tags and "&amp;" this way.
    if (isAsciiLetter(first)) {
      while (i <= last && lowerAscii(text[i]) != lowerAscii(first)) ++i;
    } else {
      const void* hit = std::memchr(text.data() + i, first, last - i + 1);
      if (!hit) return std::string_view::npos;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    }
    if (i > last) break;
    if (equalsIgnoringAsciiCase(text.substr(i, needle.size()), needle)) return i;
    ++i;
  }
  return std::string_view::npos;
}

std::string replaceAll(std::string_view text, std::string_view find, std::string_view with) {
  return replaceEach(text, find, with, [&](std::size_t from) { return text.find(find, from); });
}

std::string replaceAllIgnoringAsciiCase(std::string_view text, std::string_view find,
                                        std::string_view with) {
  return replaceEach(text, find, with,
                     [&](std::size_t from) { return findIgnoringAsciiCase(text, find, from); });
}

std::string_view trimSpaces(std::string_view text) { return trimAny(text, " "); }
std::string_view trimBlanks(std::string_view text) { return trimAny(text, " \t"); }

}  // namespace vm
