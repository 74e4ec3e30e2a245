// Small text rules that several layers share: ASCII case and trimming.
// Only ASCII letters change case here; every other byte (UTF-8 included)
// stays as it is, whatever the process locale says.
#pragma once

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

// Without the spaces at both ends (tabs stay).
std::string_view trimSpaces(std::string_view text);
// Without the spaces and tabs at both ends.
std::string_view trimBlanks(std::string_view text);

}  // namespace vm
