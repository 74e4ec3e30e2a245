// UTF-8 helpers shared by every place that takes bytes from outside (files,
// servers, decrypted secrets) and must hand on valid text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vm {

// Length of the well-formed UTF-8 sequence at the start of s, 0 when it is
// not one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t wellFormedUtf8Length(std::string_view s);
// The text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::string validUtf8(std::string_view bytes);
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace vm
