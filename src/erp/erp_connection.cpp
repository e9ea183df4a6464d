#include "erp/erp_connection.h"

#include <fcntl.h>
#include <mysql.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "vendor/runtime_limiter.h"
#include "vendor/tcp_client.h"

namespace ixc {
namespace {

ErpError library_error(const ErpConnection& connection) {
  return ErpError(connection.server + ": " + mysql_error(connection.handle));
}

// Waits for what a suspended non-blocking call asked for. The library's own time-out (none is
// set, but the library may still ask) and the run-time limit both bound the wait; the limit
// wins, raising TimeoutException once spent.
int wait_for_library(const ErpConnection& connection, int status) {
  pollfd watched{};
  watched.fd = mysql_get_socket(connection.handle);
  if (status & MYSQL_WAIT_READ) watched.events |= POLLIN;
  if (status & MYSQL_WAIT_WRITE) watched.events |= POLLOUT;
  if (status & MYSQL_WAIT_EXCEPT) watched.events |= POLLPRI;
  bool library_timeout = status & MYSQL_WAIT_TIMEOUT;
  auto library_deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(mysql_get_timeout_value_ms(connection.handle));

  for (;;) {
    int wait_ms = kestrelkit::poll_timeout_ms();
    if (library_timeout) {
      auto library_left = std::chrono::ceil<std::chrono::milliseconds>(
          library_deadline - std::chrono::steady_clock::now());
      if (library_left.count() <= 0) return MYSQL_WAIT_TIMEOUT;
      if (library_left.count() < wait_ms) wait_ms = static_cast<int>(library_left.count());
    }
    int ready = ::poll(&watched, 1, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw ErpError(connection.server + ": poll() falhou: " + std::strerror(errno));
    }
    if (ready == 0) continue;  // the loop head tells a spent limit from the library's time-out

    // An error or hang-up wakes the library for whatever it waited for, so that it reports it.
    bool broken = watched.revents & (POLLERR | POLLHUP | POLLNVAL);
    int events = 0;
    if ((watched.revents & POLLIN) || (broken && (status & MYSQL_WAIT_READ)))
      events |= MYSQL_WAIT_READ;
    if ((watched.revents & POLLOUT) || (broken && (status & MYSQL_WAIT_WRITE)))
      events |= MYSQL_WAIT_WRITE;
    if (watched.revents & POLLPRI) events |= MYSQL_WAIT_EXCEPT;
    return events;
  }
}

// With TLS, the library (3.3) does not hand every wait back to run_to_end (a known fault of its
// non-blocking API): it polls the socket itself while connecting and during the TLS handshake, and
// calls this in place of its own poll() there. A spent limit returns "timed out", the library
// gives up, and open_erp_connection raises the timeout; the library's own time-out is never less
// than the time left, so `timeout_ms` need not be consulted.
int wait_within_limit(my_socket socket, my_bool is_read, int /*timeout_ms*/) {
  pollfd watched{};
  watched.fd = socket;
  watched.events = is_read ? POLLIN : POLLOUT;
  for (;;) {
    int wait_ms = 0;
    try {
      wait_ms = kestrelkit::poll_timeout_ms();
    } catch (const kestrelkit::TimeoutException&) {
      return 0;  // an exception must not cross the library's C frames; raised again afterwards
    }
    int ready = ::poll(&watched, 1, wait_ms);
    if ((ready < 0 && errno == EINTR) || ready == 0) continue;
    return ready;
  }
}

// Both switches are set in every mode because the library's defaults differ between its versions
// (later ones use TLS and verify unless told otherwise). Verifying also covers the host name: a
// certificate that merely chains to the CA could belong to any server that CA ever signed for.
void set_tls_options(const ErpConnection& connection, const ErpTls& tls) {
  my_bool use_tls = tls.mode != ErpTlsMode::off;
  my_bool verify = tls.mode == ErpTlsMode::required && !tls.ca.empty();
  if (mysql_options(connection.handle, MYSQL_OPT_SSL_ENFORCE, &use_tls) != 0 ||
      mysql_options(connection.handle, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify) != 0 ||
      (verify && mysql_options(connection.handle, MYSQL_OPT_SSL_CA, tls.ca.c_str()) != 0)) {
    throw library_error(connection);
  }
  if (!use_tls) return;

  // The handshake reads a blocking socket, whose receive time-out the library takes from the
  // connect time-out (none: a silent server holds it for ever). The time left rounded up to the
  // second bounds it to just past the limit; capped, as the library counts it in int milliseconds.
  auto left = std::chrono::ceil<std::chrono::seconds>(kestrelkit::time_left());
  unsigned seconds = static_cast<unsigned>(std::min<std::int64_t>(left.count(), 86400));
  if (mysql_options(connection.handle, MYSQL_OPT_CONNECT_TIMEOUT, &seconds) != 0 ||
      mysql_optionsv(connection.handle, MARIADB_OPT_IO_WAIT, wait_within_limit) != 0) {
    throw library_error(connection);
  }
}

// Runs one non-blocking call to its end: `start` and `resume` take the events and return the
// library's status, 0 once the call has finished.
template <typename Start, typename Resume>
void run_to_end(ErpConnection& connection, Start start, Resume resume) {
  connection.call_in_progress = true;
  int status = start();
  while (status != 0) status = resume(wait_for_library(connection, status));
  connection.call_in_progress = false;
}

}  // namespace

ErpConnection::ErpConnection(ErpConnection&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)),
      server(std::move(other.server)),
      call_in_progress(other.call_in_progress) {}

ErpConnection& ErpConnection::operator=(ErpConnection&& other) noexcept {
  std::swap(handle, other.handle);
  std::swap(server, other.server);
  std::swap(call_in_progress, other.call_in_progress);
  return *this;
}

ErpConnection::~ErpConnection() {
  if (!handle) return;
  // A call cut off by the limit leaves a server that may never answer. Shutting the socket
  // first makes the library's farewell fail at once instead of blocking on it.
  if (call_in_progress) {
    my_socket socket = mysql_get_socket(handle);
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
  }
  mysql_close(handle);
}

ErpTlsMode parse_erp_tls_mode(std::string_view text) {
  if (text == "off") return ErpTlsMode::off;
  if (text == "preferred") return ErpTlsMode::preferred;
  if (text == "required") return ErpTlsMode::required;
  throw ErpError("IXC_ERP_TLS \"" + std::string(text) + "\" não é off, preferred nem required");
}

std::uint16_t parse_db_port(std::string_view host, std::string_view text) {
  std::optional<std::uint16_t> port = kestrelkit::parse_port(text);
  if (!port) {
    throw ErpError("ERP " + std::string(host) + ": porta \"" + std::string(text) +
                   "\" não é um número inteiro de 1 a 65535");
  }
  return *port;
}

std::string erp_server_text(std::string_view host, std::string_view port) {
  return "ERP " + kestrelkit::tcp_peer_text(host, port);
}

ErpSession erp_session(const ErpConnection& connection) {
  const char* cipher = mysql_get_ssl_cipher(connection.handle);
  return {mysql_get_server_info(connection.handle), cipher != nullptr ? cipher : ""};
}

ErpConnection open_erp_connection(const ErpParameters& parameters) {
  std::uint16_t port = parse_db_port(parameters.host, parameters.port);
  ErpConnection connection;
  connection.server = erp_server_text(parameters.host, parameters.port);
  connection.handle = mysql_init(nullptr);
  if (!connection.handle) {
    throw ErpError(connection.server + ": sem memória para abrir a conexão");
  }

  unsigned protocol = MYSQL_PROTOCOL_TCP;
  if (mysql_options(connection.handle, MYSQL_OPT_NONBLOCK, nullptr) != 0 ||
      mysql_options(connection.handle, MYSQL_SET_CHARSET_NAME, "utf8mb4") != 0 ||
      mysql_options(connection.handle, MYSQL_OPT_PROTOCOL, &protocol) != 0) {
    throw library_error(connection);
  }
  set_tls_options(connection, parameters.tls);

  MYSQL* connected = nullptr;
  MYSQL* handle = connection.handle;
  run_to_end(
      connection,
      [&] {
        return mysql_real_connect_start(&connected, handle, parameters.host.c_str(),
                                        parameters.user.c_str(), parameters.password.c_str(),
                                        parameters.database.c_str(), port, nullptr, 0);
      },
      [&](int events) { return mysql_real_connect_cont(&connected, handle, events); });
  if (!connected) {
    kestrelkit::check_time_left();  // a wait that wait_within_limit cut short
    throw library_error(connection);
  }
  // Operators look for the server by its product: the one ERP runs on MariaDB, the next on MySQL.
  std::string_view version = mysql_get_server_info(handle);
  connection.server = (version.find("MariaDB") != std::string_view::npos ? "MariaDB " : "MySQL ") +
                      kestrelkit::tcp_peer_text(parameters.host, parameters.port);
  bool encrypted = mysql_get_ssl_cipher(handle) != nullptr;
  // Unless it verifies a certificate, the library falls back to clear text when the server offers
  // no TLS; the login has then already gone out, but the statement and its rows do not.
  if (parameters.tls.mode == ErpTlsMode::required && !encrypted) {
    throw ErpError(connection.server +
                   ": TLS exigido (IXC_ERP_TLS=required), mas o servidor não oferece TLS");
  }
  // The library leaves the socket blocking and lets TLS read it directly, so a statement's reply
  // would be awaited in the kernel, past the limit. On a non-blocking socket the TLS layer hands
  // each wait to run_to_end, as the non-blocking API intends.
  if (encrypted) {
    int socket = mysql_get_socket(handle);
    int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
      throw ErpError(connection.server + ": fcntl() falhou: " + std::strerror(errno));
    }
  }
  // From 11.2 MariaDB gives a utf8mb4 client its own default collation for the character set
  // (11.8: utf8mb4_uca1400_ai_ci, by character_set_collations), whatever collation the handshake
  // named; the statement's comparisons and grouping are meant for utf8mb4_general_ci.
  if (mysql_get_server_version(handle) >= 110200) {
    erp_query(connection, "SET NAMES utf8mb4 COLLATE utf8mb4_general_ci");
  }
  return connection;
}

ErpResult::ErpResult(ErpResult&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}

ErpResult& ErpResult::operator=(ErpResult&& other) noexcept {
  std::swap(handle, other.handle);
  return *this;
}

ErpResult::~ErpResult() {
  if (handle) mysql_free_result(handle);
}

ErpResult erp_query(ErpConnection& connection, std::string_view statement) {
  MYSQL* handle = connection.handle;
  int failed = 0;
  run_to_end(
      connection,
      [&] {
        return mysql_real_query_start(&failed, handle, statement.data(),
                                      static_cast<unsigned long>(statement.size()));
      },
      [&](int events) { return mysql_real_query_cont(&failed, handle, events); });
  if (failed) throw library_error(connection);

  ErpResult result;
  run_to_end(
      connection, [&] { return mysql_store_result_start(&result.handle, handle); },
      [&](int events) { return mysql_store_result_cont(&result.handle, handle, events); });
  if (!result.handle && mysql_errno(handle) != 0) throw library_error(connection);
  return result;
}

bool erp_next_row(ErpResult& result, ErpRowValues& values) {
  values.clear();
  if (!result.handle) return false;
  // Rows held in memory: fetching one involves no wait on the server.
  MYSQL_ROW row = mysql_fetch_row(result.handle);
  if (!row) return false;
  unsigned long* lengths = mysql_fetch_lengths(result.handle);
  unsigned columns = mysql_num_fields(result.handle);
  values.reserve(columns);
  for (unsigned i = 0; i < columns; ++i) {
    if (row[i]) {
      values.emplace_back(std::string_view(row[i], lengths[i]));
    } else {
      values.emplace_back(std::nullopt);
    }
  }
  return true;
}

std::size_t erp_row_count(const ErpResult& result) {
  return result.handle ? static_cast<std::size_t>(mysql_num_rows(result.handle)) : 0;
}

}  // namespace ixc
