#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "base/text.h"

namespace vm {

namespace {
std::string envOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}
}  // namespace

std::string configHome() {
  std::string xdg = envOrEmpty("XDG_CONFIG_HOME");
  if (!xdg.empty()) return xdg;
  return envOrEmpty("HOME") + "/.config";
}

std::string appDataFolder() { return configHome() + "/tessel/"; }

std::string tempFolder() {
  std::string dir = envOrEmpty("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string hostName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return {};
  return std::string(trimSpaces(buf));
}

bool makeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') ::mkdir(path.substr(0, pos).c_str(), 0700);
  }
  return isDirectory(path);
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

long long fileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace vm
