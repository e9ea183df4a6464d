#pragma once
/// Client TCP connections whose every wait (name resolution, connect, send, receive) lasts at
/// most the time left of the run-time limit: a spent limit raises TimeoutException, never
/// another error. Any other failure raises TcpError, whose text starts with the peer
/// ("host:port", "[v6]:port") and says what went wrong, in Portuguese for the operator.
///
/// Made for one short exchange per connection at a high rate: numeric addresses are never
/// resolved, a host name is resolved once per process and remembered, and `tcp_close` keeps
/// the local side out of TIME_WAIT so that ephemeral ports do not run out.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vendor/host_port.h"
#include "vendor/runtime_limiter.h"

namespace kestrelkit {

struct TcpError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The connection could not be made at all (the name, the connect): nothing was sent.
struct TcpConnectError : TcpError {
  using TcpError::TcpError;
};

/// An open connection; the socket closes when the value goes out of scope.
struct TcpConnection {
  int fd = -1;
  std::string peer;  // "host:port", as the error texts name it

  TcpConnection() = default;
  TcpConnection(TcpConnection&& other) noexcept;
  TcpConnection& operator=(TcpConnection&& other) noexcept;
  ~TcpConnection();
};

/// Connects to `host` (an IPv4 or IPv6 literal, or a name) on `port`, trying each resolved
/// address in turn until one accepts; each connect waits at most `connect_bound` as well as the
/// time left of the limit. Raises TcpConnectError when none accepts.
TcpConnection tcp_connect(std::string_view host, std::uint16_t port,
                          std::chrono::milliseconds connect_bound = kUnlimited);

/// Writes all of `bytes`.
void tcp_send_all(TcpConnection& connection, std::string_view bytes);

/// Waits until something can be read and reads up to `size` bytes into `buffer`. Returns 0 when
/// the peer has closed its side.
std::size_t tcp_receive(TcpConnection& connection, char* buffer, std::size_t size);

/// Waits until the connection can be read (or written, with `writable`), for a protocol layered
/// on the socket that reads and writes it itself.
void tcp_wait(TcpConnection& connection, bool writable);

/// The operator's text for a socket errno, as the errors of this module word it.
std::string tcp_error_text(int error);

/// How long a close waits for the peer to close first: 20 ms, or nothing once a peer of the same
/// text has let a wait run out in this process. A server that keeps its side open after the
/// reply would otherwise cost the wait on every one of a run's values.
std::chrono::milliseconds peer_close_grace(const TcpConnection& connection);

/// Records that `connection`'s peer let a close's wait run out.
void note_peer_stays_open(const TcpConnection& connection);

/// Ends an exchange whose answer was read in full. Waits up to peer_close_grace for the peer to
/// close first, as a server that answers and closes does at once, so that the TIME_WAIT stays on
/// its side; a peer that stays open gets a reset instead of our FIN, which leaves no TIME_WAIT on
/// either side.
void tcp_close(TcpConnection& connection);

}  // namespace kestrelkit
