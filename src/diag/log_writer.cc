#include "diag/log_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/private_file.h"

namespace vm {

LogWriter::~LogWriter() { close(); }

bool LogWriter::isOn() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0;
}

bool LogWriter::open(bool* openedNow) {
  std::lock_guard lock(mutex_);
  if (openedNow) *openedNow = false;
  if (fd_ >= 0) return true;
  fd_ = openPrivateFile(path_, PrivateOpen::Append);
  if (fd_ < 0) return false;
  if (openedNow) *openedNow = true;
  return true;
}

void LogWriter::close() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void LogWriter::write(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return;
  std::string line = logLine(text);
  // Seek to the end at this moment: another program may have written to or
  // shortened the file since the last line.
  if (lseek(fd_, 0, SEEK_END) < 0) return;
  const char* p = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace vm
