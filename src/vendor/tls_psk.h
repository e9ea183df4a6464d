#pragma once
/// TLS with a pre-shared key over an open TcpConnection, as a Zabbix server or proxy accepts it
/// from zabbix_sender --tls-connect psk: TLS 1.2 or 1.3, PSK or ECDHE-PSK key exchange, through
/// GnuTLS. Every wait of the handshake, the exchange and the goodbye goes through tcp_wait, so
/// the run-time limit bounds it and a spent limit raises TimeoutException.
///
/// Failures on the connection raise TcpError, whose text starts with the peer; a key file that
/// cannot be used raises TlsKeyError naming the file. No text ever holds the key.
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vendor/tcp_client.h"

struct gnutls_session_int;
struct gnutls_psk_client_credentials_st;

namespace kestrelkit {

struct TlsKeyError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The GnuTLS priorities of the sessions, those that Zabbix 6.0 itself uses for PSK with GnuTLS.
extern const char* const kTlsPskPriorities;

/// An identity and its key, ready for any number of sessions; freed with the value.
struct PskCredentials {
  gnutls_psk_client_credentials_st* handle = nullptr;
  std::string identity;

  PskCredentials() = default;
  PskCredentials(PskCredentials&& other) noexcept;
  PskCredentials& operator=(PskCredentials&& other) noexcept;
  ~PskCredentials();
};

/// Reads the key from `psk_file` as zabbix_sender reads --tls-psk-file: hex digits, 32 to 512
/// of them (16 to 256 bytes), whitespace around them ignored. The identity must be 1 to 128
/// bytes. Raises TlsKeyError saying what is wrong with which file.
PskCredentials load_psk_credentials(std::string_view identity, const std::string& psk_file);

/// The key's raw bytes, read from `psk_file` as load_psk_credentials reads it, for a server
/// that holds the other end of the key (the trapper stand-in), so that both ends take and refuse
/// the same files. Raises TlsKeyError as load_psk_credentials does. The caller wipes the bytes
/// once it is done with them.
std::string read_psk_key(const std::string& psk_file);

/// What GnuTLS reads and writes through: the socket, and the first bytes the peer sent.
struct TlsTransport;

/// One TLS session on a connection; the connection must outlive it.
struct TlsSession {
  gnutls_session_int* session = nullptr;
  TcpConnection* connection = nullptr;
  std::unique_ptr<TlsTransport> transport;  // on the heap: GnuTLS keeps its address

  TlsSession() = default;
  TlsSession(TlsSession&& other) noexcept;
  TlsSession& operator=(TlsSession&& other) noexcept;
  ~TlsSession();
};

/// Runs the handshake. A refusal names GnuTLS's reason; a peer that answers the ClientHello
/// with a Zabbix frame in clear text, or closes, is told apart from a wrong key.
TlsSession tls_psk_handshake(TcpConnection& connection, const PskCredentials& credentials);

/// Writes all of `bytes` in records.
void tls_send_all(TlsSession& tls, std::string_view bytes);

/// Reads up to `size` bytes of application data; 0 when the peer has closed.
std::size_t tls_receive(TlsSession& tls, char* buffer, std::size_t size);

/// Ends an exchange whose answer was read in full: our close_notify, the peer's read when it
/// comes at once, then tcp_close.
void tls_close(TlsSession& tls);

}  // namespace kestrelkit
