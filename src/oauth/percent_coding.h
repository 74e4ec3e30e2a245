// The escaping of OAuth URL parameters and token form values, and the
// unescaping of the redirect's parameters.
#pragma once

#include <string>
#include <string_view>

namespace vm {

// Every byte outside ASCII letters, digits and ! # $ & ' ( ) * , - . / : ; = ? @ _ ~
// becomes "%" and two upper-case hexadecimal digits. The safe set is wider
// than RFC 3986's unreserved set: the redirect URI and the scope URIs travel
// unescaped.
std::string percentEncode(std::string_view text);

// "%" and two hexadecimal digits (either case) give that byte, "+" a space,
// anything else is copied. A malformed escape ends the decoding; what was
// decoded before it is kept. The result is read as UTF-8 (validUtf8).
std::string percentDecode(std::string_view text);

}  // namespace vm
