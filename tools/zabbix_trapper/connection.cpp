#include "zabbix_trapper/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace trapper {

ssize_t receive_some(Connection& connection, char* buffer, std::size_t size) {
  if (!connection.tls) {
    for (;;) {
      ssize_t received = recv(connection.fd, buffer, size, 0);
      if (received < 0 && errno == EINTR) continue;
      if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
      return received < 0 ? 0 : received;
    }
  }
  for (;;) {
    ssize_t received = gnutls_record_recv(connection.tls, buffer, size);
    if (received == GNUTLS_E_INTERRUPTED) continue;
    if (received == GNUTLS_E_AGAIN) return -1;
    return received < 0 ? 0 : received;
  }
}

ssize_t send_some(Connection& connection, const char* bytes, std::size_t size) {
  ssize_t sent = connection.tls ? gnutls_record_send(connection.tls, bytes, size)
                                : send(connection.fd, bytes, size, MSG_NOSIGNAL);
  if (connection.tls) {
    if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) return 0;
    return sent < 0 ? -1 : sent;
  }
  if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
  return sent;
}

void close_connection(Connection& connection, bool reset) {
  if (connection.tls) {
    // A close_notify when the socket takes it at once, as a server that says goodbye and goes.
    if (!reset) gnutls_bye(connection.tls, GNUTLS_SHUT_WR);
    gnutls_deinit(connection.tls);
    connection.tls = nullptr;
  }
  if (reset) {
    linger abort_on_close{1, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }
  close(connection.fd);
  connection.fd = -1;
}

}  // namespace trapper
