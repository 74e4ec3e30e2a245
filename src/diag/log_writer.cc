#include "diag/log_writer.h"

#include <unistd.h>

namespace vm {

LogWriter::~LogWriter() { close(); }

bool LogWriter::isOn() const {
  std::lock_guard lock(mutex_);
  return file_.isOpen();
}

bool LogWriter::open(bool* openedNow) {
  std::lock_guard lock(mutex_);
  if (openedNow) *openedNow = false;
  if (file_.isOpen()) return true;
  Result<FileDescriptor> opened = openPrivateFile(path_, PrivateOpen::Append);
  if (!opened) return false;
  file_ = std::move(*opened);
  if (openedNow) *openedNow = true;
  return true;
}

void LogWriter::close() {
  std::lock_guard lock(mutex_);
  file_.reset();
}

void LogWriter::write(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!file_.isOpen()) return;
  // Seek to the end at this moment: another program may have written to or
  // shortened the file since the last line.
  if (lseek(file_.get(), 0, SEEK_END) < 0) return;
  (void)writeAll(file_.get(), logLine(text));
}

}  // namespace vm
