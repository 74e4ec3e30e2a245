// The diagnostic log as every layer sees it: writeLog hands one line to the
// process's log sink. The diagnostic log (diag/log_writer.h) is that sink
// while the client runs; without a sink, lines are dropped.
#pragma once

#include <string>
#include <string_view>

namespace vm {

class LogSink {
 public:
  virtual ~LogSink() = default;
  // One line of text, without its line end. Called from any thread.
  virtual void write(std::string_view text) = 0;
};

// Makes sink the receiver of every later writeLog (nullptr: none) and
// returns the one it replaces. The sink must outlive its time as receiver.
LogSink* setLogSink(LogSink* sink);

// Appends one line to the log while a sink is set.
void writeLog(std::string_view text);

// A line as the log file stores it: the text, then CR LF.
std::string logLine(std::string_view text);

// Installs a sink for the lifetime of the scope and puts the previous one back.
class LogSinkScope {
 public:
  explicit LogSinkScope(LogSink& sink) : previous_(setLogSink(&sink)) {}
  ~LogSinkScope() { setLogSink(previous_); }
  LogSinkScope(const LogSinkScope&) = delete;
  LogSinkScope& operator=(const LogSinkScope&) = delete;

 private:
  LogSink* previous_;
};

}  // namespace vm
