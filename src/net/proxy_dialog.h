// The proxy dialog that askProxy asks for: the input dialog with the stored
// "proxy" setting, its two format checks, and saving the entry.
#pragma once

#include <string>

namespace vm {

class Catalogue;
class Dialogs;
class Preferences;

inline constexpr const char* kPacEntryPattern = R"(^pac:(http:\/\/|https:\/\/|file:\/\/|\\\\).*$)";
inline constexpr const char* kProxyEntryPattern =
    R"(^(http|https|socks|socks4):\/\/[a-zA-Z0-9\.\-\_\/]+:\d{2,5}\s*.*$)";

// The entry as stored: blanks removed at both ends, then every two
// consecutive blanks made one in a single pass from the left (three become
// two).
std::string tidyProxyEntry(const std::string& entered);

// The catalogue key of the box for an entry the dialog refuses ("wrongPacUrl"
// or "wrongProxyUrl"); empty for an entry it accepts. Both checks are
// case-sensitive, and an empty entry (no proxy) passes.
std::string proxyEntryProblem(const std::string& entry);

struct ProxyDialogContext {
  Preferences& prefs;
  Dialogs& dialogs;
  Catalogue& catalogue;
};

// Asks until the entry passes (each time preset with the stored setting) and
// stores it; a cancel stores an empty setting. Takes effect at the next
// application of the proxy (reload or next start).
void editProxySetting(ProxyDialogContext& context);

}  // namespace vm
