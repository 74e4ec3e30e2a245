// Starting a helper program.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace vm {

// Starts program (looked up on PATH) with args, in the current folder,
// without waiting for it and without leaving a zombie behind. False when it
// could not be started (for example because it is not installed).
bool startDetached(const std::string& program, const std::vector<std::string>& args);

// True when program is an executable file in a folder of PATH.
bool programOnPath(const std::string& program);

// Starts program (looked up on PATH) with args and standard input from
// /dev/null, and waits up to limit for it to end. Answers its exit status
// (128 + the signal number when a signal ended it), or nullopt when it is
// still running at the limit: it is then left to run, and the main loop
// reaps it when it ends. Fails when the program cannot be started.
Result<std::optional<int>> runAndWait(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::chrono::milliseconds limit);

}  // namespace vm
