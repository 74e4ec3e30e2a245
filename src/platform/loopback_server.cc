#include "platform/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace vm {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool LoopbackServer::listen(const std::string& address, unsigned port) {
  close();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (port == 0 || port > 65535 || inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    return false;
  }
  if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127) return false;
  addr.sin_port = htons(static_cast<uint16_t>(port));

  FileDescriptor listening(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listening.isOpen()) return false;
  // The previous sign-in's connection lingers in TIME_WAIT on this port for
  // a minute; without this a second sign-in in that minute could not bind.
  // Linux still refuses the bind while any other socket listens there.
  const int on = 1;
  ::setsockopt(listening.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listening.get(), SOMAXCONN) != 0) {
    return false;
  }
  listener_ = std::move(listening);
  return true;
}

LoopbackServer::Event LoopbackServer::poll() {
  Event event;
  if (!listener_.isOpen()) return event;

  std::vector<pollfd> fds;
  fds.reserve(clients_.size() + 1);
  for (const FileDescriptor& c : clients_) fds.push_back({c.get(), POLLIN, 0});
  fds.push_back({listener_.get(), POLLIN, 0});
  if (::poll(fds.data(), fds.size(), 0) <= 0) return event;

  for (std::size_t i = 0; i < clients_.size(); ++i) {
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char probe;
    const int client = clients_[i].get();
    const ssize_t n = ::recv(client, &probe, 1, MSG_PEEK);
    if (n > 0) return {EventKind::Data, client};
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    event = {EventKind::Disconnected, client};
    closeClient(i);
    return event;
  }

  if (fds.back().revents & POLLIN) {
    FileDescriptor c(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!c.isOpen() || clients_.size() >= kMaxClients) return event;
    clients_.push_back(std::move(c));
    return {EventKind::Connected, clients_.back().get()};
  }
  return event;
}

std::size_t LoopbackServer::receive(int client, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::recv(client, buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool LoopbackServer::sendAndFinish(int client, std::string_view data,
                                   std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!data.empty()) {
    // MSG_NOSIGNAL: a browser that has gone away must not end the process.
    const ssize_t n = ::send(client, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int wait = remainingMs(deadline);
      if (wait == 0) break;
      pollfd p{client, POLLOUT, 0};
      ::poll(&p, 1, wait);
      continue;
    }
    break;
  }
  ::shutdown(client, SHUT_WR);
  return data.empty();
}

void LoopbackServer::drainFor(int client, std::chrono::milliseconds time) {
  const auto deadline = Clock::now() + time;
  char scratch[4096];
  while (true) {
    const int wait = remainingMs(deadline);
    if (wait == 0) return;
    pollfd p{client, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t n = ::recv(client, scratch, sizeof scratch, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return;  // the browser has closed: nothing left to wait for
  }
}

void LoopbackServer::closeClient(std::size_t index) {
  clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
}

void LoopbackServer::close() {
  while (!clients_.empty()) closeClient(clients_.size() - 1);
  listener_.reset();
}

}  // namespace vm
