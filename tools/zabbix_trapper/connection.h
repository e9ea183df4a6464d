#pragma once
/// One accepted connection of the poll loop and the transport under it: the socket alone in
/// clear text, a GnuTLS session over it with a PSK. Both are nonblocking; the loop moves a
/// connection on whenever poll says it can.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

#include <gnutls/gnutls.h>

#include "zabbix_trapper/trapper_answer.h"

namespace trapper {

using Clock = std::chrono::steady_clock;

struct Connection {
  enum class Phase { handshaking, reading, answering, holding };
  int fd = -1;                     // -1 once closed, for the loop to drop it
  gnutls_session_t tls = nullptr;  // null in clear text
  Phase phase = Phase::reading;
  std::string received;
  Answer answer;
  std::size_t written = 0;  // bytes of the answer sent so far
  Clock::time_point next_byte{};
};

/// Reads what the client sent: the byte count, 0 when it closed or failed, -1 when nothing is
/// there yet.
ssize_t receive_some(Connection& connection, char* buffer, std::size_t size);

/// Writes some of an answer: the byte count, 0 when nothing could go yet, -1 on failure.
ssize_t send_some(Connection& connection, const char* bytes, std::size_t size);

/// Closes the socket, in order or with a reset, and sets `fd` to -1.
void close_connection(Connection& connection, bool reset);

}  // namespace trapper
