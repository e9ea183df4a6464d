#pragma once
/// The one connection to the ERP's MariaDB/MySQL server and the one statement sent on it.
/// The connection is agreed at connect time with the character set utf8mb4 (collation
/// utf8mb4_general_ci) and always goes over TCP, so that "localhost" still means the given port;
/// it uses TLS as ErpTls says, nothing else is set and nothing is sent besides the caller's
/// statement. Every wait (connect, TLS handshake, login, query, fetching the rows) lasts at most
/// the time left of the run-time limit (a TLS handshake that stalls, to the second above it): a
/// spent limit raises kestrelkit::TimeoutException and the handle is then released without
/// waiting on the server. Any other failure raises ErpError, whose text names the server (see
/// ErpConnection::server) and carries the client library's own text; the password never appears
/// in it.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct st_mysql;
struct st_mysql_res;

namespace ixc {

struct ErpError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Whether the connection is encrypted, fixed at build time (IXC_ERP_TLS):
///   off        never, even when the server offers TLS
///   preferred  when the server offers it, else clear text; the certificate is not checked
///   required   always: a server without TLS is refused; with `ca`, the server's certificate must
///              chain to that CA and name the host as given on the command line
enum class ErpTlsMode { off, preferred, required };

struct ErpTls {
  ErpTlsMode mode = ErpTlsMode::off;
  std::string ca;  // PEM file (IXC_ERP_TLS_CA); used with `required` only, empty: no verification
};

/// The mode named `text` ("off", "preferred", "required"), else ErpError naming the text.
ErpTlsMode parse_erp_tls_mode(std::string_view text);

/// What the command line gives for the ERP, in the order of the connection's parameters, and the
/// build's TLS setting.
struct ErpParameters {
  std::string host;
  std::string port;  // the command-line text; see parse_db_port
  std::string user;
  std::string password;
  std::string database;
  ErpTls tls;
};

/// An open connection; closes when the value goes out of scope.
struct ErpConnection {
  st_mysql* handle = nullptr;
  // The server as the texts name it: "ERP host:port" until logged in, then what the server says it
  // is, "MariaDB host:port" or "MySQL host:port" (the ERP's database may be either).
  std::string server;
  // Set while a non-blocking call is suspended: closing then must not wait on the server.
  bool call_in_progress = false;

  ErpConnection() = default;
  ErpConnection(ErpConnection&& other) noexcept;
  ErpConnection& operator=(ErpConnection&& other) noexcept;
  ~ErpConnection();
};

/// The server before a connection exists: "ERP host:port".
std::string erp_server_text(std::string_view host, std::string_view port);

/// The TCP port of `text`: a whole number from 1 to 65535 in plain digits, else ErpError naming
/// the text. (0 would leave the choice to the client library while the texts named port 0.)
std::uint16_t parse_db_port(std::string_view host, std::string_view text);

/// Connects and logs in to `database`.
ErpConnection open_erp_connection(const ErpParameters& parameters);

/// What the server said of the session at login, as the check job reports it.
struct ErpSession {
  std::string server_version;  // "10.11.6-MariaDB-0+deb12u1"
  std::string tls_cipher;      // empty in clear text
};
ErpSession erp_session(const ErpConnection& connection);

/// All rows of one statement, fetched at once; released when the value goes out of scope.
struct ErpResult {
  st_mysql_res* handle = nullptr;  // null for a statement without a result set

  ErpResult() = default;
  ErpResult(ErpResult&& other) noexcept;
  ErpResult& operator=(ErpResult&& other) noexcept;
  ~ErpResult();
};

/// Sends `statement` as it is (text protocol, no parameters) and fetches all of its rows.
ErpResult erp_query(ErpConnection& connection, std::string_view statement);

/// The values of one row as the server sent them: absent for NULL, which is not the empty text.
using ErpRowValues = std::vector<std::optional<std::string_view>>;

/// Fills `values` with the next row and returns true, or returns false after the last row.
/// The views stay valid until the next call or until `result` goes away.
bool erp_next_row(ErpResult& result, ErpRowValues& values);

/// Number of rows in `result`.
std::size_t erp_row_count(const ErpResult& result);

}  // namespace ixc
