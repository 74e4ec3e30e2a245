// Content type of an attachment from its file name's extension.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vm {

struct MimeTableRow {
  const char* extension;  // lower case, without the dot
  const char* type;
};

// The fixed table, in the order rows are tried: the product's own types
// first, then the public list in byte order of the extension.
std::span<const MimeTableRow> mimeTypeTable();

// The extension as the look-up sees it: the text after the last "." of the
// name's final component, cut at a double quote. Empty when there is none
// (no dot, a blank or separator after the last dot, or a leading dot).
std::string_view fileNameExtension(std::string_view fileName);

// The type of the first row whose extension equals the name's extension
// exactly (case-sensitively); "application/octet-stream" when none does.
std::string mimeTypeForFile(const std::string& fileName);

}  // namespace vm
