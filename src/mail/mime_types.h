// Content type of an attachment from its file name's extension.
#pragma once

#include <string>

namespace vm {

// "application/octet-stream" when the extension is unknown.
std::string mimeTypeForFileName(const std::string& fileName);

}  // namespace vm
