#include "base/log.h"

#include <atomic>

namespace vm {

namespace {
// The one piece of process-wide state below the application layer: set by
// start-up (and by test fixtures), read by every writeLog.
std::atomic<LogSink*> g_sink{nullptr};
}  // namespace

LogSink* setLogSink(LogSink* sink) { return g_sink.exchange(sink); }

void writeLog(std::string_view text) {
  if (LogSink* sink = g_sink.load()) sink->write(text);
}

std::string logLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  return line;
}

}  // namespace vm
