#include "zabbix_trapper/psk_server.h"

#include <cstring>
#include <stdexcept>

#include "vendor/tls_psk.h"

namespace trapper {
namespace {

// GnuTLS asks for the key of the identity the client names; an unknown one fails the handshake.
extern "C" int psk_for(gnutls_session_t session, const char* identity, gnutls_datum_t* key) {
  const auto* server = static_cast<const PskServer*>(gnutls_session_get_ptr(session));
  if (server->identity != identity) return -1;
  const std::string& bytes = server->key;
  key->data = static_cast<unsigned char*>(gnutls_malloc(bytes.size()));
  std::memcpy(key->data, bytes.data(), bytes.size());
  key->size = static_cast<unsigned>(bytes.size());
  return 0;
}

}  // namespace

void set_up_psk(PskServer& server, const std::string& identity, const std::string& key_file) {
  server.identity = identity;
  server.key = kestrelkit::read_psk_key(key_file);
  if (gnutls_psk_allocate_server_credentials(&server.credentials) < 0 ||
      gnutls_priority_init(&server.priorities, kestrelkit::kTlsPskPriorities, nullptr) < 0) {
    throw std::runtime_error("cannot set up TLS with PSK");
  }
  gnutls_psk_set_server_credentials_function(server.credentials, psk_for);
}

gnutls_session_t start_psk_session(PskServer& server, int fd) {
  gnutls_session_t session = nullptr;
  gnutls_init(&session, GNUTLS_SERVER | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL);
  gnutls_session_set_ptr(session, &server);
  gnutls_priority_set(session, server.priorities);
  gnutls_credentials_set(session, GNUTLS_CRD_PSK, server.credentials);
  gnutls_transport_set_int(session, fd);
  gnutls_handshake_set_timeout(session, GNUTLS_INDEFINITE_TIMEOUT);
  return session;
}

}  // namespace trapper
