#include "files/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/log.h"
#include "base/base64.h"
#include "platform/file.h"

namespace vm {

std::string readFileBase64(const std::string& path) {
  Result<FileDescriptor> file = openFile(path, O_RDONLY);
  if (!file) {
    writeLog("ERROR: Unable to open/access file [" + path + "]");
    return {};
  }
  Result<std::string> data = readAll(file->get());
  if (!data || data->empty()) {
    writeLog("ERROR: Unable to read data from file [" + path + "] - 0 Bytes read");
    return {};
  }
  return base64Encode(*data);
}

bool writeWholeFile(const std::string& path, const char* buffer, std::size_t length) {
  Result<FileDescriptor> file = openPrivateFile(path, PrivateOpen::Truncate);
  if (!file) {
    writeLog("Unable to open new file [" + path + "]");
    return false;
  }
  std::size_t written = 0;
  Status status = writeAll(file->get(), {buffer, length}, &written);
  Status closed = file->close();
  if (!status || !closed) {
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
