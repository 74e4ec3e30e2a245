// The installation's device identifier and fresh random identifiers.
#pragma once

#include <string>

namespace vm {

class Preferences;

// 36 characters: a random version-4 UUID in upper-case hexadecimal.
std::string newIdentifier();
// The stored identifier ("deviceId" in the empty group), made on first use.
std::string deviceIdentifier(Preferences& prefs);
// The host name, blanks at both ends removed.
std::string computerName();

}  // namespace vm
