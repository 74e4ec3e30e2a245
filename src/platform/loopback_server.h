// A TCP server on one IPv4 loopback address, polled without waiting, with
// the connections it accepted. Used for the one-shot OAuth redirect
// listener; it refuses every address outside 127.0.0.0/8, so nothing it
// serves is reachable from another machine.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace vm {

class LoopbackServer {
 public:
  // A local program could open connections without end; past this many
  // open at once, new ones are closed straight away.
  static constexpr std::size_t kMaxClients = 16;

  enum class EventKind { None, Connected, Data, Disconnected };
  struct Event {
    EventKind kind = EventKind::None;
    int client = -1;
  };

  LoopbackServer() = default;
  ~LoopbackServer() { close(); }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Listens on address:port. False (nothing open) when address is not a
  // dotted IPv4 address in 127.0.0.0/8, or the socket cannot be bound
  // (port in use, address not available).
  bool listen(const std::string& address, unsigned port);

  // At most one event, without waiting: a connection accepted, a client
  // with bytes to read, or a client that closed (its socket is then closed
  // here). Data and disconnects of known clients come before new connections.
  Event poll();

  // One receive of at most size bytes; the count, 0 when nothing came.
  std::size_t receive(int client, char* buffer, std::size_t size);

  // Sends data to client within limit (a client that reads nothing cannot
  // hold the caller), then ends the client's side of the stream. False when
  // not everything went out.
  bool sendAndFinish(int client, std::string_view data, std::chrono::milliseconds limit);

  // Reads and drops what client still sends, until it closes or the time
  // has passed. Closing a socket with unread bytes makes the kernel reset
  // the connection, and a browser may then drop the page it was sent.
  void drainFor(int client, std::chrono::milliseconds time);

  // Closes the server and every client connection.
  void close();

 private:
  void closeClient(std::size_t index);

  FileDescriptor listener_;
  std::vector<FileDescriptor> clients_;
};

}  // namespace vm
