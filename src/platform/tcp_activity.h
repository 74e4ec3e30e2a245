// How long a TCP connection has carried no data, from the kernel's own
// bookkeeping of the socket.
#pragma once

#include <chrono>
#include <optional>

namespace vm {

// The time since the last data segment the socket sent or received,
// whichever is later; nullopt when fd is no established TCP connection (one
// still connecting has no such times yet).
std::optional<std::chrono::milliseconds> tcpIdleTime(int fd);

}  // namespace vm
