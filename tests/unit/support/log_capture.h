// Turns a log on into a file of its own for one test, makes it the receiver
// of writeLog while the fixture lives, and reads it back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "support/temp_dir.h"

namespace vm::test {

class LogCapture {
 public:
  // The log goes to a file in a folder of its own.
  LogCapture() : LogCapture(std::string()) {}
  // The log goes to path (a fresh folder's "log.txt" when path is empty).
  explicit LogCapture(std::string path)
      : path_(path.empty() ? dir_.path() + "log.txt" : std::move(path)) {
    writer_.setPath(path_);
    EXPECT_TRUE(writer_.open()) << path_;
    previous_ = setLogSink(&writer_);
  }
  ~LogCapture() {
    setLogSink(previous_);
    writer_.close();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::string& path() const { return path_; }
  LogWriter& writer() { return writer_; }

  // Everything written so far, every line ending in CR LF.
  std::string text() const { return readFile(path_); }

  // The lines written so far, without their CR LF.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    const std::string text = this->text();
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      out.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return out;
  }

 private:
  TempDir dir_;
  std::string path_;
  LogWriter writer_;
  LogSink* previous_ = nullptr;
};

}  // namespace vm::test
