// How passwords are kept in the preferences file: the current format
// (AES-256-CBC with a random IV, Base64), the legacy format (AES-256-ECB,
// upper-case hexadecimal) and the machine-bound decryption of the secrets the
// predecessor client left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vm {

using Bytes = std::vector<unsigned char>;

// SHA-256 of the password's UTF-8 bytes: the 32-byte AES-256 key.
Bytes passwordKey(const std::string& password);
// SHA-256 of the text's bytes as 64 lower-case hexadecimal digits.
std::string sha256Hex(const std::string& text);

// Upper-case hexadecimal, two digits per byte, no separators.
std::string bytesToHex(const Bytes& bytes);
// nullopt for empty text or an odd number of characters. Each pair gives the
// value of its leading hexadecimal digits ("1G" is 1, "GG" is 0), in either case.
std::optional<Bytes> hexToBytes(const std::string& text);

// Current format: Base64 of a fresh 16-byte IV followed by the AES-256-CBC
// ciphertext of the text with PKCS#7 padding, keyed by passwordKey(password).
// It is read back with base64DecodeEitherAlphabet.
// Empty text only when the random source fails.
std::string protectText(const std::string& plainText, const std::string& password);
// The plain text again. Empty text for anything that is not a protected text
// (nothing decodable, fewer than 32 bytes, a length that is no whole number
// of blocks); callers take empty text as "no password". A wrong password is
// not detected and gives some other text.
std::string unprotectText(const std::string& protectedText, const std::string& password);
// The same, but nullopt for anything that is not a protected text, so that a
// protected empty text (an empty password someone stored) stays apart from
// a missing or damaged one.
std::optional<std::string> unprotectStoredText(const std::string& protectedText,
                                               const std::string& password);

// Legacy format: bytesToHex of the AES-256-ECB ciphertext of the text followed
// by 1 to 16 zero bytes up to the next multiple of 16.
std::string protectTextLegacy(const std::string& plainText, const std::string& password);

// The serial text of the system volume: the serial as a signed 32-bit number
// widened with its sign, in upper-case hexadecimal without leading zeros
// ("0" when the serial is unknown, as always on Linux).
std::string volumeSerialText(std::optional<std::uint32_t> serial);
// sha256Hex of the computer name followed by the serial text.
std::string machineKeyTextFor(const std::string& computer, const std::string& serialText);
// machineKeyTextFor(computerName(), "0"), worked out once per run.
std::string machineKeyText();

// Decrypts a legacy-format text under the key the hexadecimal keyText stands
// for; the text up to the first zero byte. Empty text when the key or the
// text is not usable hexadecimal, or the text holds fewer than 16 bytes or no
// whole number of blocks.
std::string unprotectLegacyWithKeyText(const std::string& legacyText, const std::string& keyText);
// unprotectLegacyWithKeyText under machineKeyText().
std::string unprotectMachineLegacy(const std::string& legacyText);

}  // namespace vm
