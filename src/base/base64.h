// Base64 (RFC 4648, standard alphabet, "=" padding, no line breaks).
#pragma once

#include <string>
#include <string_view>

namespace vm {

std::string base64Encode(std::string_view bytes);
// Skips CR, LF and tab, ends at the first "="; any other character outside
// the alphabet is skipped as well.
std::string base64Decode(std::string_view text);

}  // namespace vm
