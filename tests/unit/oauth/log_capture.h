// Turns the process log on into a fresh file for one test and reads it back.
#pragma once

#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "support/temp_dir.h"

namespace vm::test {

class LogCapture {
 public:
  LogCapture() {
    processLog().setPath(dir_.path() + "log.txt");
    processLog().open();
  }
  ~LogCapture() { processLog().close(); }

  // Everything written so far, every line ending in CR LF.
  std::string text() const { return readFile(dir_.path() + "log.txt"); }

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
};

}  // namespace vm::test
