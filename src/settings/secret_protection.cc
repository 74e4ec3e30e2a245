#include "settings/secret_protection.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <memory>
#include <string_view>

#include "base/base64.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "settings/device_identity.h"

namespace vm {

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kKeySize = 32;

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// Raw AES over whole blocks; the padding of both formats is done by hand
// because neither is the one OpenSSL would add or check (the legacy format
// pads with zeros, and the current format is read without checking padding).
std::optional<Bytes> aesBlocks(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                               const unsigned char* iv, const unsigned char* data,
                               std::size_t size) {
  if (key.size() != kKeySize || size % kBlock != 0) return std::nullopt;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) != 1)
    return std::nullopt;
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Bytes out(size + kBlock);
  int produced = 0;
  int finished = 0;
  if (size > 0 &&
      EVP_CipherUpdate(ctx.get(), out.data(), &produced, data, static_cast<int>(size)) != 1)
    return std::nullopt;
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + produced, &finished) != 1) return std::nullopt;
  out.resize(static_cast<std::size_t>(produced + finished));
  return out;
}

// The bytes up to the first zero byte, as UTF-8 text. Bytes that are no
// valid UTF-8 (a secret decrypted under the wrong key) become U+FFFD, so what
// comes out is always text that JSON and the INI file can carry.
std::string textUpToZero(const unsigned char* data, std::size_t size) {
  std::size_t end = 0;
  while (end < size && data[end] != 0) ++end;
  return validUtf8(std::string_view(reinterpret_cast<const char*>(data), end));
}

}  // namespace

Bytes passwordKey(const std::string& password) {
  Bytes digest(kKeySize);
  unsigned int size = 0;
  if (EVP_Digest(password.data(), password.size(), digest.data(), &size, EVP_sha256(), nullptr) !=
          1 ||
      size != kKeySize)
    return {};
  return digest;
}

std::string sha256Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : passwordKey(text)) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string bytesToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::optional<Bytes> hexToBytes(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = hexDigitValue(text[i]);
    int low = hexDigitValue(text[i + 1]);
    if (high < 0)
      out.push_back(0);
    else if (low < 0)
      out.push_back(static_cast<unsigned char>(high));
    else
      out.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return out;
}

std::string protectText(const std::string& plainText, const std::string& password) {
  Bytes key = passwordKey(password);
  Bytes padded(plainText.begin(), plainText.end());
  std::size_t n = kBlock - padded.size() % kBlock;
  padded.insert(padded.end(), n, static_cast<unsigned char>(n));

  std::array<unsigned char, kBlock> iv{};
  if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1) {
    writeLog("ERROR: No random bytes for the password protection");
    return {};
  }
  auto cipherText =
      aesBlocks(EVP_aes_256_cbc(), true, key, iv.data(), padded.data(), padded.size());
  if (!cipherText) return {};
  Bytes stored(iv.begin(), iv.end());
  stored.insert(stored.end(), cipherText->begin(), cipherText->end());
  return base64Encode(
      std::string_view(reinterpret_cast<const char*>(stored.data()), stored.size()));
}

std::string unprotectText(const std::string& protectedText, const std::string& password) {
  return unprotectStoredText(protectedText, password).value_or(std::string());
}

std::optional<std::string> unprotectStoredText(const std::string& protectedText,
                                               const std::string& password) {
  // Text that decodes to nothing (an empty or never-set password) is simply
  // no password; it must not take the client down with it.
  const std::optional<std::string> decoded = base64DecodeEitherAlphabet(protectedText);
  if (!decoded || decoded->size() < 2 * kBlock) return std::nullopt;
  // The client only ever writes whole blocks; anything else is damaged.
  std::size_t cipherSize = decoded->size() - kBlock;
  if (cipherSize % kBlock != 0) return std::nullopt;

  const auto* stored = reinterpret_cast<const unsigned char*>(decoded->data());
  auto plain = aesBlocks(EVP_aes_256_cbc(), false, passwordKey(password), stored, stored + kBlock,
                         cipherSize);
  if (!plain || plain->empty()) return std::nullopt;
  // The padding length is trusted only within one block and not checked
  // further: a wrong password must still yield text, not an error.
  unsigned char n = plain->back();
  std::size_t keep = plain->size();
  if (n >= 1 && n <= kBlock) keep -= n;
  return textUpToZero(plain->data(), keep);
}

std::string protectTextLegacy(const std::string& plainText, const std::string& password) {
  Bytes padded(plainText.begin(), plainText.end());
  padded.insert(padded.end(), kBlock - padded.size() % kBlock, 0);
  auto cipherText = aesBlocks(EVP_aes_256_ecb(), true, passwordKey(password), nullptr,
                              padded.data(), padded.size());
  return cipherText ? bytesToHex(*cipherText) : std::string();
}

std::string volumeSerialText(std::optional<std::uint32_t> serial) {
  if (!serial) return "0";
  // The serial is a signed 32-bit value widened to 64 bits, so a serial with
  // the top bit set gains eight leading F digits: the machine keys of the
  // stored legacy secrets were made from this text.
  auto widened =
      static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(*serial)));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[widened & 0x0F]);
    widened >>= 4;
  } while (widened != 0);
  return out;
}

std::string machineKeyTextFor(const std::string& computer, const std::string& serialText) {
  return sha256Hex(computer + serialText);
}

std::string machineKeyText() {
  // The volume serial of "c:\" has no Linux counterpart and counts as unreadable.
  static const std::string kept = machineKeyTextFor(computerName(), volumeSerialText(std::nullopt));
  return kept;
}

std::string unprotectLegacyWithKeyText(const std::string& legacyText, const std::string& keyText) {
  auto key = hexToBytes(keyText);
  auto cipherText = hexToBytes(legacyText);
  if (!key || key->size() != kKeySize || !cipherText || cipherText->size() < kBlock) return {};
  // Legacy texts hold whole blocks only; a ragged tail means damaged data.
  if (cipherText->size() % kBlock != 0) return {};
  auto plain =
      aesBlocks(EVP_aes_256_ecb(), false, *key, nullptr, cipherText->data(), cipherText->size());
  if (!plain) return {};
  return textUpToZero(plain->data(), plain->size());
}

std::string unprotectMachineLegacy(const std::string& legacyText) {
  return unprotectLegacyWithKeyText(legacyText, machineKeyText());
}

}  // namespace vm
