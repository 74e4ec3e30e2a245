#include "mail/mime_types.h"

#include <algorithm>
#include <iterator>

namespace vm {

namespace {

constexpr MimeTableRow kRows[] = {
#include "mail/mime_table.inc"
};

constexpr const char* kDefaultType = "application/octet-stream";

}  // namespace

std::span<const MimeTableRow> mimeTypeTable() { return kRows; }

std::string_view fileNameExtension(std::string_view fileName) {
  for (std::size_t i = fileName.size(); i-- > 0;) {
    const char c = fileName[i];
    if (c == '/' || c == '\\' || c == ' ') return {};
    if (c != '.') continue;
    // A dot that opens the name (".profile", "dir/.hidden") marks a hidden
    // file, not an extension.
    if (i == 0 || fileName[i - 1] == '/' || fileName[i - 1] == '\\') return {};
    std::string_view extension = fileName.substr(i + 1);
    return extension.substr(0, extension.find('"'));
  }
  return {};
}

std::string mimeTypeForFile(const std::string& fileName) {
  const std::string_view extension = fileNameExtension(fileName);
  if (extension.empty()) return kDefaultType;
  const auto row = std::find_if(std::begin(kRows), std::end(kRows),
                                [&](const MimeTableRow& r) { return extension == r.extension; });
  return row == std::end(kRows) ? kDefaultType : row->type;
}

}  // namespace vm
