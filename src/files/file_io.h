// Whole-file reading into base64 and whole-file writing.
#pragma once

#include <cstddef>
#include <string>

namespace vm {

// The file's content in base64; empty text (after logging) when it cannot be
// opened or yields no bytes.
std::string readFileBase64(const std::string& path);
// Writes length bytes into a new private file at path (replacing a file of
// ours there); false after logging when that fails, leaving no partial file.
bool writeWholeFile(const std::string& path, const char* buffer, std::size_t length);
// The text after the last "/" or "\".
std::string fileNamePart(const std::string& path);

}  // namespace vm
