// A measuring aid for benchmarks and tests, off unless asked for: a GLib
// timeout on the main context that notes how late each of its firings came.
// A firing is late by as long as the main loop was held by other work, so
// the largest lateness is the longest stall of the window.
#pragma once

#include <string>
#include <vector>

namespace vm {

class LoopLatenessRecorder {
 public:
  // Fires every intervalMs on the default main context from now on.
  explicit LoopLatenessRecorder(std::string path, int intervalMs = 5);
  // Writes one line per firing to path: the monotonic clock in
  // microseconds (CLOCK_MONOTONIC, as other programs read it) and the
  // lateness in microseconds, separated by a blank.
  ~LoopLatenessRecorder();
  LoopLatenessRecorder(const LoopLatenessRecorder&) = delete;
  LoopLatenessRecorder& operator=(const LoopLatenessRecorder&) = delete;

 private:
  struct Note {
    long long at;
    long long late;
  };
  static int fire(void* self);

  std::string path_;
  long long intervalUs_;
  long long due_;
  unsigned source_ = 0;
  std::vector<Note> notes_;
};

}  // namespace vm
