#include "files/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/log.h"
#include "base/base64.h"
#include "platform/private_file.h"

namespace vm {

std::string readFileBase64(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    writeLog("ERROR: Unable to open/access file [" + path + "]");
    return {};
  }
  std::string data;
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (data.empty()) {
    writeLog("ERROR: Unable to read data from file [" + path + "] - 0 Bytes read");
    return {};
  }
  return base64Encode(data);
}

bool writeWholeFile(const std::string& path, const char* buffer, std::size_t length) {
  int fd = openPrivateFile(path, PrivateOpen::Truncate);
  if (fd < 0) {
    writeLog("Unable to open new file [" + path + "]");
    return false;
  }
  std::size_t written = 0;
  while (written < length) {
    ssize_t n = ::write(fd, buffer + written, length - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  bool closed = ::close(fd) == 0;
  if (written < length || !closed) {
    writeLog("Only able to write " + std::to_string(written) + " of " + std::to_string(length) +
             " bytes to " + path + " removing incomplete file again");
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

std::string fileNamePart(const std::string& path) {
  auto pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace vm
