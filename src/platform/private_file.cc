#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vm {

int openPrivateFile(const std::string& path, PrivateOpen mode) {
  int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  if (mode == PrivateOpen::Exclusive) flags |= O_EXCL;
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return -1;
  struct stat st;
  // A file planted by someone else (or a FIFO or device) must not receive our data.
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  if (mode == PrivateOpen::Truncate && ftruncate(fd, 0) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool writePrivateFile(const std::string& path, const std::string& data) {
  int fd = openPrivateFile(path, PrivateOpen::Truncate);
  if (fd < 0) return false;
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0;
}

}  // namespace vm
