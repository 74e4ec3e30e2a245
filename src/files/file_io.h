// Whole-file reading into base64 and whole-file writing.
#pragma once

#include <cstddef>
#include <string>

#include "base/result.h"

namespace vm {

// The file's content in base64; empty text (after logging) when it cannot be
// opened or yields no bytes.
std::string readFileBase64(const std::string& path);
// Writes length bytes into a new private file at path (replacing a file of
// ours there); false after logging when that fails, leaving no partial file.
bool writeWholeFile(const std::string& path, const char* buffer, std::size_t length);
// A new, empty private file for a file name in the shared folder (ending in
// "/"). It is folder + name when nothing holds that name or a regular file
// or symbolic link of ours does (removed first; a link is never followed).
// When another user's file or a FIFO, device or socket holds it, nothing is
// deleted or written through: the file gets a fresh name beside it
// (createPrivateFileBeside). Answers the file's path. Fails with
// kNameBlocked when a folder holds the name or our file there cannot be
// removed, and with EINVAL for an empty name, ".", ".." or a name holding
// "/" or a NUL byte.
inline constexpr int kNameBlocked = -1;
Result<std::string> createTemporaryFile(const std::string& folder, const std::string& name);

// The text after the last "/" or "\".
std::string fileNamePart(const std::string& path);

}  // namespace vm
