// Hands a URL or file to the desktop's default opener.
#pragma once

#include <string>

namespace vm {

// Starts xdg-open (found on PATH) with target and returns at once; the
// opener runs detached and is never waited for. target is always an argument
// of the opener, so an executable file is not run directly. Failures stay
// silent; empty target opens nothing.
void openWithSystem(const std::string& target);

}  // namespace vm
