#include "vendor/tls_psk.h"

#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "vendor/runtime_limiter.h"

namespace kestrelkit {

const char* const kTlsPskPriorities =
    "NONE:+VERS-TLS1.2:+VERS-TLS1.3:+ECDHE-PSK:+PSK:+AES-128-GCM:+AES-128-CBC:+AEAD:+SHA256:+SHA1:"
    "+CURVE-ALL:+COMP-NULL:+SIGN-ALL:+CTYPE-X.509";

namespace {

constexpr std::size_t kMinKeyDigits = 32;
constexpr std::size_t kMaxKeyDigits = 512;
constexpr std::size_t kMaxIdentityBytes = 128;

// Wipes a copy of the key before its memory goes back to the allocator.
struct Wiped {
  std::string bytes;
  ~Wiped() { explicit_bzero(bytes.data(), bytes.size()); }
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The key file's text, at most a little more than the longest key so that a wrong file named
// by mistake is not read whole.
void read_key_text(const std::string& psk_file, Wiped& text) {
  std::FILE* file = std::fopen(psk_file.c_str(), "rb");
  if (!file) {
    throw TlsKeyError("arquivo da chave PSK " + psk_file + " não lido: " + std::strerror(errno));
  }
  text.bytes.resize(kMaxKeyDigits + 64);
  std::size_t got = std::fread(text.bytes.data(), 1, text.bytes.size(), file);
  int error = std::ferror(file) ? errno : 0;
  std::fclose(file);
  if (error != 0) {
    throw TlsKeyError("arquivo da chave PSK " + psk_file + " não lido: " + std::strerror(error));
  }
  text.bytes.resize(got);
}

// The key's bytes; the texts say what is wrong but never show a digit of it.
void decode_key(const std::string& psk_file, std::string_view text, std::string& key) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  std::string where = "a chave PSK em " + psk_file;
  if (text.empty()) throw TlsKeyError("arquivo da chave PSK " + psk_file + " está vazio");
  for (char c : text) {
    if (hex_digit(c) < 0) {
      throw TlsKeyError(where + " não é só de dígitos hexadecimais");
    }
  }
  if (text.size() < kMinKeyDigits) {
    throw TlsKeyError(where + " tem " + std::to_string(text.size()) +
                      " dígitos hexadecimais, menos que o mínimo de 32");
  }
  if (text.size() > kMaxKeyDigits) {
    throw TlsKeyError(where + " tem mais que o máximo de 512 dígitos hexadecimais");
  }
  if (text.size() % 2 != 0) {
    throw TlsKeyError(where + " tem um número ímpar de dígitos hexadecimais");
  }
  key.resize(text.size() / 2);
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<char>(hex_digit(text[2 * i]) << 4 | hex_digit(text[2 * i + 1]));
  }
}

std::string gnutls_text(int code) { return gnutls_strerror(code); }

bool retry(ssize_t code) { return code == GNUTLS_E_AGAIN || code == GNUTLS_E_INTERRUPTED; }

// Waits for the direction that GnuTLS last stopped on.
void wait_for_gnutls(TlsSession& tls) {
  tcp_wait(*tls.connection, gnutls_record_get_direction(tls.session) == 1);
}

// The part of an error text after the peer, for a failure on an established session.
std::string session_failure(TlsSession& tls, ssize_t code) {
  if (code == GNUTLS_E_PULL_ERROR || code == GNUTLS_E_PUSH_ERROR) return tcp_error_text(errno);
  if (code == GNUTLS_E_FATAL_ALERT_RECEIVED) {
    return std::string("alerta TLS do servidor: ") +
           gnutls_alert_get_name(gnutls_alert_get(tls.session));
  }
  return gnutls_text(static_cast<int>(code));
}

}  // namespace

struct TlsTransport {
  int fd = -1;
  std::string first_bytes;  // up to 4: enough to tell a Zabbix frame from a TLS record
};

namespace {

ssize_t pull(gnutls_transport_ptr_t pointer, void* data, std::size_t size) {
  auto* transport = static_cast<TlsTransport*>(pointer);
  ssize_t got = ::recv(transport->fd, data, size, 0);
  if (got > 0 && transport->first_bytes.size() < 4) {
    std::size_t keep = std::min<std::size_t>(4 - transport->first_bytes.size(), got);
    transport->first_bytes.append(static_cast<const char*>(data), keep);
  }
  return got;
}

ssize_t push(gnutls_transport_ptr_t pointer, const void* data, std::size_t size) {
  return ::send(static_cast<TlsTransport*>(pointer)->fd, data, size, MSG_NOSIGNAL);
}

// A peer that knows no TLS answers the ClientHello as a plain trapper answers anything that is
// not its protocol: with a "ZBXD" frame or by closing. What GnuTLS read first tells that apart
// from a refused key, whether the answer came while GnuTLS waited or was already there.
bool answered_in_clear_text(const TlsTransport& transport) {
  return !transport.first_bytes.empty() &&
         std::string_view("ZBXD").starts_with(transport.first_bytes);
}

std::string handshake_failure(TlsSession& tls, int code, const std::string& identity) {
  switch (code) {
    case GNUTLS_E_FATAL_ALERT_RECEIVED:
      return "handshake TLS recusado pelo servidor (identidade PSK \"" + identity +
             "\" ou chave erradas?): alerta " +
             gnutls_alert_get_name(gnutls_alert_get(tls.session));
    case GNUTLS_E_PREMATURE_TERMINATION:
    case GNUTLS_E_UNEXPECTED_PACKET_LENGTH:
      // Zabbix closes without an alert when the key is wrong, as a trapper without TLS does.
      return "handshake TLS recusado: o servidor fechou a conexão (identidade PSK \"" + identity +
             "\" ou chave erradas, ou o servidor não aceita PSK?): " + gnutls_text(code);
    case GNUTLS_E_PULL_ERROR:
    case GNUTLS_E_PUSH_ERROR:
      return "handshake TLS interrompido: " + tcp_error_text(errno);
    default:
      return "falha no handshake TLS (identidade PSK \"" + identity + "\"): " + gnutls_text(code);
  }
}

}  // namespace

PskCredentials::PskCredentials(PskCredentials&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)), identity(std::move(other.identity)) {}

PskCredentials& PskCredentials::operator=(PskCredentials&& other) noexcept {
  if (this != &other) {
    if (handle) gnutls_psk_free_client_credentials(handle);
    handle = std::exchange(other.handle, nullptr);
    identity = std::move(other.identity);
  }
  return *this;
}

PskCredentials::~PskCredentials() {
  if (handle) gnutls_psk_free_client_credentials(handle);
}

PskCredentials load_psk_credentials(std::string_view identity, const std::string& psk_file) {
  if (identity.empty()) throw TlsKeyError("identidade PSK vazia");
  if (identity.size() > kMaxIdentityBytes || identity.find('\0') != std::string_view::npos) {
    throw TlsKeyError("identidade PSK com mais de 128 bytes ou com byte nulo");
  }
  if (psk_file.empty()) throw TlsKeyError("nenhum arquivo de chave PSK configurado");
  Wiped key{read_psk_key(psk_file)};

  PskCredentials credentials;
  credentials.identity = std::string(identity);
  if (int rc = gnutls_psk_allocate_client_credentials(&credentials.handle); rc < 0) {
    throw TlsKeyError("credenciais PSK não criadas: " + gnutls_text(rc));
  }
  gnutls_datum_t datum{reinterpret_cast<unsigned char*>(key.bytes.data()),
                       static_cast<unsigned>(key.bytes.size())};
  if (int rc = gnutls_psk_set_client_credentials(credentials.handle, credentials.identity.c_str(),
                                                 &datum, GNUTLS_PSK_KEY_RAW);
      rc < 0) {
    throw TlsKeyError("a chave PSK de " + psk_file + " não foi aceita: " + gnutls_text(rc));
  }
  return credentials;
}

std::string read_psk_key(const std::string& psk_file) {
  Wiped text;
  read_key_text(psk_file, text);
  std::string key;
  decode_key(psk_file, text.bytes, key);
  return key;
}

TlsSession::TlsSession(TlsSession&& other) noexcept
    : session(std::exchange(other.session, nullptr)),
      connection(std::exchange(other.connection, nullptr)),
      transport(std::move(other.transport)) {}

TlsSession& TlsSession::operator=(TlsSession&& other) noexcept {
  if (this != &other) {
    if (session) gnutls_deinit(session);
    session = std::exchange(other.session, nullptr);
    connection = std::exchange(other.connection, nullptr);
    transport = std::move(other.transport);
  }
  return *this;
}

TlsSession::~TlsSession() {
  if (session) gnutls_deinit(session);
}

TlsSession tls_psk_handshake(TcpConnection& connection, const PskCredentials& credentials) {
  const std::string& peer = connection.peer;
  TlsSession tls;
  tls.connection = &connection;
  if (int rc = gnutls_init(&tls.session, GNUTLS_CLIENT | GNUTLS_NONBLOCK | GNUTLS_NO_SIGNAL);
      rc < 0) {
    throw TcpError(peer + ": sessão TLS não criada: " + gnutls_text(rc));
  }
  const char* error_at = nullptr;
  if (int rc = gnutls_priority_set_direct(tls.session, kTlsPskPriorities, &error_at); rc < 0) {
    throw TcpError(peer + ": prioridades TLS recusadas pelo GnuTLS em \"" +
                   std::string(error_at ? error_at : "") + "\": " + gnutls_text(rc));
  }
  if (int rc = gnutls_credentials_set(tls.session, GNUTLS_CRD_PSK, credentials.handle); rc < 0) {
    throw TcpError(peer + ": credenciais PSK recusadas pelo GnuTLS: " + gnutls_text(rc));
  }
  tls.transport = std::make_unique<TlsTransport>();
  tls.transport->fd = connection.fd;
  gnutls_transport_set_ptr(tls.session, tls.transport.get());
  gnutls_transport_set_pull_function(tls.session, pull);
  gnutls_transport_set_push_function(tls.session, push);
  // The client's Finished and the request leave as two small writes; with Nagle the second
  // would wait for the server's delayed ACK, 40 ms a value.
  int on = 1;
  setsockopt(connection.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // The run-time limit is the only bound, as for every other wait of the run.
  gnutls_handshake_set_timeout(tls.session, GNUTLS_INDEFINITE_TIMEOUT);

  for (;;) {
    int rc = gnutls_handshake(tls.session);
    if (rc == GNUTLS_E_SUCCESS) return tls;
    if (retry(rc)) {
      wait_for_gnutls(tls);
      continue;
    }
    if (!gnutls_error_is_fatal(rc)) continue;  // a warning alert
    if (answered_in_clear_text(*tls.transport)) {
      throw TcpError(peer +
                     ": o servidor respondeu sem TLS, em texto claro (ele aceita PSK deste host?)");
    }
    throw TcpError(peer + ": " + handshake_failure(tls, rc, credentials.identity));
  }
}

void tls_send_all(TlsSession& tls, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = gnutls_record_send(tls.session, bytes.data(), bytes.size());
    if (sent >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    } else if (retry(sent)) {
      wait_for_gnutls(tls);
    } else {
      throw TcpError(tls.connection->peer + ": falha ao enviar: " + session_failure(tls, sent));
    }
  }
}

std::size_t tls_receive(TlsSession& tls, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t received = gnutls_record_recv(tls.session, buffer, size);
    if (received >= 0) return static_cast<std::size_t>(received);
    // A close without close_notify is an end like any other: the frame's length tells whether
    // the reply came whole.
    if (received == GNUTLS_E_PREMATURE_TERMINATION) return 0;
    if (retry(received)) {
      wait_for_gnutls(tls);
      continue;
    }
    if (!gnutls_error_is_fatal(static_cast<int>(received))) continue;
    throw TcpError(tls.connection->peer + ": falha ao receber: " + session_failure(tls, received));
  }
}

void tls_close(TlsSession& tls) {
  TcpConnection& connection = *tls.connection;
  // The reply is in hand: a peer that is gone before our goodbye changes nothing, so the
  // goodbye's own failure is not one of the send.
  while (retry(gnutls_bye(tls.session, GNUTLS_SHUT_WR))) wait_for_gnutls(tls);
  // Reading the peer's close_notify leaves only its FIN for tcp_close, which then closes in
  // order and keeps the TIME_WAIT on the server's side.
  char byte;
  ssize_t received = gnutls_record_recv(tls.session, &byte, 1);
  std::chrono::milliseconds grace = peer_close_grace(connection);
  if (received == GNUTLS_E_AGAIN && grace.count() > 0) {
    pollfd entry{connection.fd, POLLIN, 0};
    if (::poll(&entry, 1, poll_timeout_ms(grace)) > 0) {
      gnutls_record_recv(tls.session, &byte, 1);
    } else {
      note_peer_stays_open(connection);
    }
  }
  gnutls_deinit(std::exchange(tls.session, nullptr));
  tcp_close(connection);
}

}  // namespace kestrelkit
