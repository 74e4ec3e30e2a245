// Whole numbers read from text. None of these rules fails on odd text: each
// reads as far as its rule goes, and a value beyond the range of long long
// saturates at the nearer limit.
#pragma once

#include <optional>
#include <string_view>

namespace vm {

// strtoll's rule in base 10: white space (" \t\n\v\f\r"), an optional sign,
// then decimal digits up to the first other character. nullopt when no
// digit comes.
std::optional<long long> leadingInteger(std::string_view text);
// leadingInteger when nothing follows the digits; nullopt otherwise.
std::optional<long long> wholeInteger(std::string_view text);
// leadingInteger when the value is within int's range; nullopt otherwise.
std::optional<int> leadingInt(std::string_view text);

// The value of a hexadecimal digit in either case; -1 for any other character.
int hexDigitValue(char c);

// Pascal's Val rule for integers: blanks and tabs, an optional sign, then
// decimal digits, "$" and hexadecimal digits (either case) or "%" and binary
// digits, up to the first other character. 0 when no digit comes.
long long valInteger(std::string_view text);

}  // namespace vm
