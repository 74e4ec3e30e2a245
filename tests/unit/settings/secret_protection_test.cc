#include "settings/secret_protection.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "base/base64.h"
#include "base/text.h"
#include "settings/device_identity.h"

namespace vm {
namespace {

// Known answers made with the openssl command-line tool (make_vectors.sh).
std::map<std::string, std::string> loadVectors() {
  std::map<std::string, std::string> vectors;
  std::ifstream in(std::string(VELOMARK_TEST_DATA) + "/secrets/vectors.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto eq = line.find('=');
    vectors[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return vectors;
}

TEST(SecretProtection, ReadsCurrentFormatWrittenByOpenssl) {
  auto v = loadVectors();
  ASSERT_FALSE(v.empty()) << "vectors.txt missing";
  for (const char* n : {"1", "2", "3"}) {
    std::string prefix = std::string("cbc.") + n;
    SCOPED_TRACE(prefix);
    EXPECT_EQ(unprotectText(v[prefix + ".stored"], v["cbc.password"]), v[prefix + ".plain"]);
  }
}

TEST(SecretProtection, LegacyFormatMatchesOpenssl) {
  auto v = loadVectors();
  for (const char* n : {"1", "2", "3"}) {
    std::string prefix = std::string("legacy.") + n;
    SCOPED_TRACE(prefix);
    std::string expected = v[prefix + ".stored"];
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(protectTextLegacy(v[prefix + ".plain"], v["legacy.password"]), expected);
    // The legacy key text is the hexadecimal SHA-256 of the password.
    EXPECT_EQ(unprotectLegacyWithKeyText(expected, sha256Hex(v["legacy.password"])),
              v[prefix + ".plain"]);
  }
  EXPECT_EQ(v["legacy.2.stored"].size(), 64u);  // 16 bytes of text and a zero block
  EXPECT_EQ(v["legacy.3.stored"].size(), 32u);
}

TEST(SecretProtection, MachineBoundDecryptionMatchesOpenssl) {
  auto v = loadVectors();
  std::string keyText =
      machineKeyTextFor(v["machine.computer"], volumeSerialText(std::uint32_t{0x9A3C1F20}));
  EXPECT_EQ(keyText, v["machine.keyText"]);
  EXPECT_EQ(unprotectLegacyWithKeyText(v["machine.stored"], keyText), v["machine.plain"]);
  // Stored digits in lower case read the same.
  EXPECT_EQ(unprotectLegacyWithKeyText(lowerAscii(v["machine.stored"]), keyText),
            v["machine.plain"]);
}

TEST(SecretProtection, RoundTripsAndStoredLength) {
  const std::string password = newIdentifier();
  const struct {
    std::string plain;
    std::size_t base64Size;
  } cases[] = {
      {"", 44},  // IV + one block of 16 x 0x10
      {"a", 44},
      {"Pässwörd mit Ümläuten ß", 64},           // 28 bytes of UTF-8
      {"0123456789abcdef", 64},                  // full padding block added
      {"0123456789abcdef0123456789abcde", 64},   // 31 bytes
      {"0123456789abcdef0123456789abcdef", 88},  // 32 bytes: 3 blocks after the IV
      {"\xF0\x9F\x94\x91 key", 44},              // four-byte UTF-8
  };
  for (const auto& [plain, base64Size] : cases) {
    SCOPED_TRACE(plain);
    std::string stored = protectText(plain, password);
    EXPECT_EQ(stored.size(), base64Size);
    EXPECT_EQ(stored.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    EXPECT_EQ(unprotectText(stored, password), plain);
  }
}

TEST(SecretProtection, SameTextEncryptsDifferentlyEachTime) {
  std::string a = protectText("geheim", "pw");
  std::string b = protectText("geheim", "pw");
  EXPECT_NE(a, b);
  EXPECT_NE(a.substr(0, 22), b.substr(0, 22));  // the IVs differ
  EXPECT_EQ(unprotectText(a, "pw"), "geheim");
  EXPECT_EQ(unprotectText(b, "pw"), "geheim");
}

TEST(SecretProtection, WrongPasswordGivesOtherTextNotAnError) {
  std::string stored = protectText("the real password", "right");
  std::string other = unprotectText(stored, "wrong");
  EXPECT_NE(other, "the real password");
  // Garbage is still handed out as valid UTF-8 (invalid bytes replaced), so
  // a strict JSON writer accepts it.
  EXPECT_NO_THROW((void)nlohmann::json(other).dump());
}

TEST(SecretProtection, StoredTextVariantsStillDecode) {
  std::string stored = loadVectors()["cbc.1.stored"];
  std::string plain = loadVectors()["cbc.1.plain"];
  std::string urlSafe = stored;
  for (char& c : urlSafe) c = c == '+' ? '-' : c == '/' ? '_' : c;
  std::string wrapped = stored.substr(0, 20) + "\r\n\t" + stored.substr(20);
  std::string trailing = stored + "=garbage after the padding";
  for (const auto& text : {urlSafe, wrapped, trailing}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(unprotectText(text, loadVectors()["cbc.password"]), plain);
  }
}

// A damaged or empty stored password must read as "no password" and never end
// the client: the caller decides what a missing password means.
TEST(SecretProtection, MalformedStoredTextGivesEmptyText) {
  std::string valid = protectText("x", "pw");  // 48 bytes
  const std::string cases[] = {
      "",
      "A",  // six bits: no byte
      "====",
      "\r\n\t",
      "AAAA",               // 3 bytes
      valid.substr(0, 40),  // 30 bytes: no whole cipher block
      base64Encode(std::string(31, '\x07')),
      base64Encode(std::string(40, '\x07')),  // 24 cipher bytes: no whole number of blocks
      "not base64 at all!",
      valid.substr(0, 10) + " " + valid.substr(10),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(unprotectText(text, "pw"), "");
  }
}

TEST(SecretProtection, PlainTextEndsAtFirstZeroByte) {
  std::string withZero("abc\0def", 7);
  EXPECT_EQ(unprotectText(protectText(withZero, "pw"), "pw"), "abc");
}

TEST(SecretProtection, BytesThatAreNoUtf8ComeBackReplaced) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\xFF"
       "b",
       "a\uFFFD"
       "b"},
      {"\xC0\xAF", "\uFFFD\uFFFD"},              // overlong "/"
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},    // surrogate half
      {"\xE2\x82", "\uFFFD\uFFFD"},              // cut-off sequence
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF stays
  };
  for (const auto& [stored, read] : cases) {
    EXPECT_EQ(unprotectText(protectText(stored, "pw"), "pw"), read);
    EXPECT_EQ(unprotectLegacyWithKeyText(protectTextLegacy(stored, "pw"), sha256Hex("pw")), read);
  }
}

TEST(SecretProtection, HexConversion) {
  const struct {
    std::string text;
    std::optional<Bytes> bytes;
  } cases[] = {
      {"", std::nullopt},          {"ABC", std::nullopt}, {"0a", Bytes{0x0A}},
      {"fF00", Bytes{0xFF, 0x00}}, {"1G", Bytes{0x01}},  // digits up to the first non-digit of the
                                                         // pair
      {"G1", Bytes{0x00}},         {"GG", Bytes{0x00}},   {"7f80", Bytes{0x7F, 0x80}},
  };
  for (const auto& [text, bytes] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(hexToBytes(text), bytes);
  }
  EXPECT_EQ(bytesToHex(Bytes{0x00, 0x0A, 0xBC, 0xFF}), "000ABCFF");
  EXPECT_EQ(bytesToHex(Bytes{}), "");
}

TEST(SecretProtection, Sha256) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(passwordKey("abc"), *hexToBytes(sha256Hex("abc")));
}

TEST(SecretProtection, VolumeSerialText) {
  const std::pair<std::optional<std::uint32_t>, std::string> cases[] = {
      {std::nullopt, "0"},
      {0u, "0"},
      {0xAu, "A"},
      {0x0001ABCDu, "1ABCD"},
      {0x7FFFFFFFu, "7FFFFFFF"},
      {0x80000000u, "FFFFFFFF80000000"},
      {0xFFFFFFFFu, "FFFFFFFFFFFFFFFF"},
  };
  for (const auto& [serial, text] : cases) EXPECT_EQ(volumeSerialText(serial), text);
}

TEST(SecretProtection, MachineKeyComesFromComputerNameAndUnreadableSerial) {
  std::string key = machineKeyText();
  EXPECT_EQ(key, machineKeyTextFor(computerName(), "0"));
  EXPECT_EQ(key.size(), 64u);
  EXPECT_EQ(machineKeyText(), key);
  // The machine key is the SHA-256 of name + serial text, so a secret the
  // predecessor wrote on this machine is the legacy format under that text.
  std::string stored = protectTextLegacy("Predecessor secret", computerName() + "0");
  EXPECT_EQ(unprotectMachineLegacy(stored), "Predecessor secret");
  EXPECT_EQ(unprotectMachineLegacy(lowerAscii(stored)), "Predecessor secret");
}

TEST(SecretProtection, MalformedLegacyTextGivesEmptyText) {
  std::string good = protectTextLegacy("abc", computerName() + "0");
  const std::string cases[] = {
      "",
      "ABC",               // odd number of digits
      good.substr(0, 30),  // 15 bytes
      good + "00",         // 17 bytes: no whole number of blocks
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(unprotectMachineLegacy(text), "");
  }
  EXPECT_EQ(unprotectLegacyWithKeyText(good, "ABCD"), "");  // key of the wrong size
}

}  // namespace
}  // namespace vm
