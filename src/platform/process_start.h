// Starting a helper program that runs on its own.
#pragma once

#include <string>
#include <vector>

namespace vm {

// Starts program (looked up on PATH) with args, in the current folder,
// without waiting for it and without leaving a zombie behind. False when it
// could not be started (for example because it is not installed).
bool startDetached(const std::string& program, const std::vector<std::string>& args);

}  // namespace vm
