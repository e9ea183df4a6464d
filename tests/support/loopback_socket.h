#pragma once
/// A TCP socket on a free port of 127.0.0.1, for tests that need a peer that refuses or never
/// answers. Listening, the kernel completes connections in its backlog and nothing ever says a
/// word; not listening, connections are refused and nobody else takes the port meanwhile.
/// Closed with the object.
#include <cstdint>

namespace ixc::test {

struct LoopbackSocket {
  explicit LoopbackSocket(bool listening);
  ~LoopbackSocket();
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  int fd = -1;
  std::uint16_t port = 0;
};

/// A port that was free a moment ago: its socket is closed again, so a connection is refused
/// unless someone has taken it since.
std::uint16_t free_loopback_port();

}  // namespace ixc::test
