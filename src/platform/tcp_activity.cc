#include "platform/tcp_activity.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

namespace vm {

std::optional<std::chrono::milliseconds> tcpIdleTime(int fd) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return std::nullopt;
  if (info.tcpi_state != TCP_ESTABLISHED) return std::nullopt;
  // Both count milliseconds up to now; acknowledgements and window probes
  // carry no data and do not reset them.
  return std::chrono::milliseconds(std::min(info.tcpi_last_data_sent, info.tcpi_last_data_recv));
}

}  // namespace vm
