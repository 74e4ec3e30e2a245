// The diagnostic log file: append-only, off unless turned on.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "base/log.h"
#include "platform/file.h"

namespace vm {

class LogWriter : public LogSink {
 public:
  LogWriter() = default;
  ~LogWriter() override;
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  void setPath(std::string path) { path_ = std::move(path); }
  const std::string& path() const { return path_; }
  bool isOn() const;

  // Opens the file at path() for appending; true when it is open afterwards.
  // Sets *openedNow when this call opened it.
  bool open(bool* openedNow = nullptr);
  void close();
  // One line: the text as UTF-8, then CR LF, written through at the file's
  // current end. Dropped while the log is off; write errors are ignored.
  void write(std::string_view text) override;

 private:
  std::string path_;
  // Workers (mail transfers, downloads) log too; one line is written whole.
  mutable std::mutex mutex_;
  FileDescriptor file_;
};

}  // namespace vm
