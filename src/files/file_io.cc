#include "files/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "base/base64.h"
#include "base/log.h"
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

Result<std::string> createTemporaryFile(const std::string& folder, const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
    return fail("not a file name [" + name + "]", EINVAL);
  const std::string path = folder + name;
  switch (nameHolder(path)) {
    case NameHolder::Folder:
      return fail(path + ": a folder holds the name", kNameBlocked);
    case NameHolder::Foreign:
      return createPrivateFileBeside(path);
    case NameHolder::OwnFileOrLink:
      if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return fail(path + ": cannot be removed", kNameBlocked);
      break;
    case NameHolder::Nothing:
      break;
  }
  Result<FileDescriptor> created = openPrivateFile(path, PrivateOpen::Exclusive);
  // Someone took the name since it was looked at: go beside it.
  if (!created && created.failure().code == EEXIST) return createPrivateFileBeside(path);
  if (!created) return created.failure();
  if (Status closed = created->close(); !closed) return closed.failure();
  return path;
}

std::string fileNamePart(const std::string& path) {
  auto pos = path.find_last_of("/\\");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace vm
