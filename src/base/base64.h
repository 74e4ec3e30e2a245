// Base64 (RFC 4648): one encoder and two decoders that differ in what they
// accept. Both end at the first "=" and need no padding; a trailing group of
// two or three characters still gives its whole bytes, a single character
// none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vm {

// Standard alphabet, "=" padding, one line.
std::string base64Encode(std::string_view bytes);

// The standard alphabet; every other character is skipped. For content the
// page hands over, which may come wrapped or with stray characters.
std::string base64DecodeSkippingJunk(std::string_view text);

// The standard and the URL-safe alphabet, with tab, CR and LF skipped; any
// other character makes the whole text undecodable (nullopt). For stored
// secrets, where anything else means damage.
std::optional<std::string> base64DecodeEitherAlphabet(std::string_view text);

}  // namespace vm
