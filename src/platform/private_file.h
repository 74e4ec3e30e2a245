// Files the client creates in a shared temporary folder: private to the user
// (mode 0600), never reached through a symbolic link, never another user's.
#pragma once

#include <string>

namespace vm {

enum class PrivateOpen {
  Append,     // open or create, keep the content (the log file)
  Truncate,   // open or create, drop the content
  Exclusive,  // create a new file; fails when the name exists
};

// Returns an open file descriptor, or -1 (errno set) when the path is a
// symbolic link, not a regular file, owned by another user, or cannot be
// opened. The caller closes the descriptor.
int openPrivateFile(const std::string& path, PrivateOpen mode);

// Writes all of data to path through openPrivateFile(Truncate).
bool writePrivateFile(const std::string& path, const std::string& data);

}  // namespace vm
