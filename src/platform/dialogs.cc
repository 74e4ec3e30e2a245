#include "platform/dialogs.h"

namespace vm {

std::vector<FileFilter> parseFilterList(const std::string& list) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  while (true) {
    auto bar = list.find('|', start);
    fields.push_back(list.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<FileFilter> filters;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) filters.push_back({fields[i], fields[i + 1]});
  return filters;
}

}  // namespace vm
