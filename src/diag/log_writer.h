// The diagnostic log: an append-only file, off unless turned on.
#pragma once

#include <string>
#include <string_view>

namespace vm {

class LogWriter {
 public:
  LogWriter() = default;
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void setPath(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }
  bool isOn() const { return fd_ >= 0; }

  // Opens the file at path() for appending; true when it is open afterwards.
  // Sets *openedNow when this call opened it.
  bool open(bool* openedNow = nullptr);
  void close();
  // One line: the text as UTF-8, then CR LF, written through at the file's
  // current end. Dropped while the log is off; write errors are ignored.
  void write(std::string_view text);

 private:
  std::string path_;
  int fd_ = -1;
};

// The process's one log writer and the shorthand every subsystem uses.
LogWriter& processLog();
void writeLog(std::string_view text);

}  // namespace vm
