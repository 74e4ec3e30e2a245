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

// Creates path and any missing parents with mode 0700 (an existing folder is
// fine); false when it is not a folder afterwards. A fresh account may have
// no ~/.config yet, unlike the always-present folders of other systems.
bool makeFolders(const std::string& path);

bool isRegularFile(const std::string& path);
bool isDirectory(const std::string& path);
// Size of a regular file, -1 when it is missing or not a regular file.
long long fileSize(const std::string& path);

}  // namespace vm
