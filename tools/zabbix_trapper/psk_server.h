#pragma once
/// The TLS side of a stand-in that accepts PSK only, as a Zabbix host configured for it: one
/// identity, its key read from the file as the collector reads its own, and the collector's
/// priorities. A key file the collector would refuse is refused here too, so a test never runs
/// against a stand-in that took a key the collector cannot send with.
#include <string>

#include <gnutls/gnutls.h>

namespace trapper {

struct PskServer {
  std::string identity;
  std::string key;  // raw bytes
  gnutls_psk_server_credentials_t credentials = nullptr;
  gnutls_priority_t priorities = nullptr;
};

/// Reads the key and sets up GnuTLS for `server`, which must then stay where it is: every
/// session looks its key up there. Raises kestrelkit::TlsKeyError for an unusable key file,
/// std::runtime_error when GnuTLS cannot be set up.
void set_up_psk(PskServer& server, const std::string& identity, const std::string& key_file);

/// A nonblocking server session on the socket `fd`, before its handshake.
gnutls_session_t start_psk_session(PskServer& server, int fd);

}  // namespace trapper
