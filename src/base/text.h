// Small text rules that several layers share: ASCII case and trimming.
// Only ASCII letters change case here; every other byte (UTF-8 included)
// stays as it is, whatever the process locale says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vm {

inline bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char upperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string lowerAscii(std::string_view text);
// Equal when they differ only in the case of ASCII letters.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Position of needle in text at or after from, ASCII letters compared without
// regard to case; npos when absent or when needle is empty.
std::size_t findIgnoringAsciiCase(std::string_view text, std::string_view needle,
                                  std::size_t from = 0);
// Every occurrence of find, from left to right and not overlapping, replaced
// by with; an empty find changes nothing.
std::string replaceAll(std::string_view text, std::string_view find, std::string_view with);
// The same with ASCII letters of find matched in either case.
std::string replaceAllIgnoringAsciiCase(std::string_view text, std::string_view find,
                                        std::string_view with);

// Without the spaces at both ends (tabs stay).
std::string_view trimSpaces(std::string_view text);
// Without the spaces and tabs at both ends.
std::string_view trimBlanks(std::string_view text);

}  // namespace vm
