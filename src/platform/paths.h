// Per-user folders and system facts, the Linux way.
#pragma once

#include <string>

namespace vm {

// $XDG_CONFIG_HOME, else $HOME/.config; no trailing slash.
std::string configHome();
// The client's own folder below configHome(): ".../tessel/" with trailing slash.
std::string appDataFolder();
// $TMPDIR when set and non-empty, else "/tmp", always ending in "/".
std::string tempFolder();
// gethostname(), blanks at both ends removed; empty on failure.
std::string hostName();

bool isRegularFile(const std::string& path);
bool isDirectory(const std::string& path);
// Size of a regular file, -1 when it is missing or not a regular file.
long long fileSize(const std::string& path);

}  // namespace vm
