#include "settings/device_identity.h"

#include <openssl/rand.h>

#include <cstdio>
#include <random>

#include "platform/paths.h"
#include "settings/preferences.h"

namespace vm {

std::string newIdentifier() {
  unsigned char b[16];
  if (RAND_bytes(b, sizeof b) != 1) {
    std::random_device rd;
    for (auto& byte : b) byte = static_cast<unsigned char>(rd());
  }
  b[6] = static_cast<unsigned char>(0x40 | (b[6] & 0x0F));  // version 4
  b[8] = static_cast<unsigned char>(0x80 | (b[8] & 0x3F));  // RFC 4122 variant
  std::string out;
  char hex[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    std::snprintf(hex, sizeof hex, "%02X", b[i]);
    out += hex;
  }
  return out;
}

std::string deviceIdentifier(Preferences& prefs) {
  std::string id = prefs.readSetting("deviceId", "", kUnnamedGroup);
  if (!id.empty()) return id;
  id = newIdentifier();
  prefs.writeSetting("deviceId", id, kUnnamedGroup);
  return id;
}

std::string computerName() { return hostName(); }

}  // namespace vm
