#include "app/command_line.h"

#include <optional>

namespace vm {

namespace {
std::string withoutQuotes(const std::string& param) {
  std::string out;
  for (char c : param)
    if (c != '"') out += c;
  return out;
}
}  // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& params) {
  CommandLine table;
  std::optional<std::string> pending;
  int bareCount = 0;
  for (const auto& raw : params) {
    std::string p = withoutQuotes(raw);
    if (!p.empty() && p[0] == '-') {
      std::string key = p.size() > 1 ? p.substr(1, 1) : std::string();
      if (p.size() > 2) {
        table.entries_[key] = p.substr(2);
        pending.reset();
      } else {
        table.entries_[key] = "1";
        pending = key;
      }
    } else if (pending) {
      table.entries_[*pending] = p;
      pending.reset();
    } else {
      table.entries_["-" + std::to_string(++bareCount)] = p;
    }
  }
  return table;
}

std::string CommandLine::value(const std::string& key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? std::string() : it->second;
}

std::string laterStartFileToOpen(const std::vector<std::string>& params,
                                 const std::string& workingFolder) {
  std::string file = CommandLine::parse(params).fileToOpen();
  if (file.empty() || file.front() == '/' || workingFolder.empty()) return file;
  return workingFolder + (workingFolder.back() == '/' ? "" : "/") + file;
}

std::string usageText() {
  return "velomark_client usage:\n"
         "  velomark_client {-h} {-?} {-l {logfile}} {-i fileToOpen.tsf} {fileToOpen.tsf}\n"
         "  -l logfile    will acivate logging and log to given logfile\n"
         "  -l            will activate logging and logs to %temp%/velomark_log.txt by default\n"
         "  -i file.tsf   will open given tsf file for display\n"
         "  file.tsf      will open given tsf file for display (only without any other switch)\n"
         "  -h or -?      display usage\n";
}

}  // namespace vm
