#include "base/base64.h"

#include <openssl/evp.h>

#include <algorithm>

namespace vm {

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  // EVP_EncodeBlock takes an int length; encode in slices that stay far below it.
  constexpr std::size_t kSlice = 3 * 1024 * 1024;
  std::size_t written = 0;
  for (std::size_t pos = 0; pos < bytes.size(); pos += kSlice) {
    std::size_t n = std::min(kSlice, bytes.size() - pos);
    written += static_cast<std::size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char*>(out.data() + written),
        reinterpret_cast<const unsigned char*>(bytes.data() + pos), static_cast<int>(n)));
  }
  out.resize(written);
  return out;
}

// OpenSSL's decoders neither stop at the first "=" nor take the URL-safe
// alphabet nor skip arbitrary characters, so decoding is done here.
namespace {

enum class Acceptance { standardSkippingJunk, eitherAlphabet };

int sextet(char c, Acceptance acceptance) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (acceptance == Acceptance::eitherAlphabet && c == '-') return 62;
  if (acceptance == Acceptance::eitherAlphabet && c == '_') return 63;
  return -1;
}

std::optional<std::string> decode(std::string_view text, Acceptance acceptance) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  unsigned int buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = sextet(c, acceptance);
    if (value < 0) {
      if (acceptance == Acceptance::standardSkippingJunk || c == '\t' || c == '\r' || c == '\n')
        continue;
      return std::nullopt;
    }
    buffer = (buffer << 6) | static_cast<unsigned int>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace

std::string base64DecodeSkippingJunk(std::string_view text) {
  return *decode(text, Acceptance::standardSkippingJunk);
}

std::optional<std::string> base64DecodeEitherAlphabet(std::string_view text) {
  return decode(text, Acceptance::eitherAlphabet);
}

}  // namespace vm
