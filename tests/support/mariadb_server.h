#pragma once
/// A throwaway MariaDB server for one test program: its own folder (mktemp -d), its own free
/// port on 127.0.0.1 and its own socket in that folder. It starts on first use, in about a
/// second, and is stopped by its PID at exit (and dies with the test program if that crashes);
/// the folder is then removed. It never touches the system's own MariaDB service.
///
/// The collector's side logs in as `user` over TCP; that account may only read (SELECT on every
/// database), as the ERP account needs nothing more. Tests set up data as root over the socket
/// with run_sql, which raises std::runtime_error carrying the server's text.
///
/// With IXC_TEST_ERP_SERVER=mysql the server is Oracle MySQL instead, run with chroot from the
/// Debian root that .ci/mysql_root makes (IXC_TEST_MYSQL_ROOT, by default where that script keeps
/// it), its folder inside that root's /tmp. It keeps MySQL's defaults (the account on
/// caching_sha2_password, TLS offered with certificates it makes) except what README's "The ERP
/// account" tells operators to change: ONLY_FULL_GROUP_BY is taken out of the global sql_mode, as
/// `SET GLOBAL sql_mode` does. Root's own session writes the fixtures in MariaDB's default mode,
/// since an ERP's tables hold what its writers' sessions let in (zero days included).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "erp/erp_connection.h"

namespace ixc::test {

struct MariaDbServer {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::string user;
  std::string password;
  std::string folder;  // data, socket and logs
  std::string socket;
  int pid = -1;
};

/// "MariaDB" or "MySQL": the server the tests run against, as the program names it.
std::string erp_server_kind();

/// The program's server, started on the first call.
const MariaDbServer& mariadb_server();

struct MariaDbProcess;

/// A server of its own, for tests that need server options the program's server lacks (TLS, say):
/// started at once like that one, with `extra_options` added to mariadbd's command line and the
/// same reading account, and stopped by its PID when the value goes out of scope. Under MySQL,
/// files that the options name are copied into the server's folder, which its chroot sees, and
/// --skip-ssl becomes MySQL's --tls-version=.
struct ExtraMariaDbServer {
  explicit ExtraMariaDbServer(const std::vector<std::string>& extra_options);
  ~ExtraMariaDbServer();
  ExtraMariaDbServer(const ExtraMariaDbServer&) = delete;
  ExtraMariaDbServer& operator=(const ExtraMariaDbServer&) = delete;

  const MariaDbServer& info() const;
  ErpParameters erp_parameters(const std::string& database) const;

  std::unique_ptr<MariaDbProcess> process;
};

/// Runs `sql`, one statement or several separated by semicolons, as root in `database` (none
/// when empty).
void run_sql(std::string_view sql, std::string_view database = {});

/// The first value of the first row of `sql` run as root; no value for NULL or for no row.
std::optional<std::string> query_value(std::string_view sql, std::string_view database = {});

/// Creates the database `name` afresh with the ERP's tables (tools/ixc_erp/ixc_schema.sql), loads
/// the SQL file `data_file` into it when given, and returns the reading account's parameters for
/// it.
ErpParameters erp_database(const std::string& name, const std::string& data_file = {});

/// The reading account's parameters for `database`, without creating anything.
ErpParameters erp_parameters(const std::string& database);

/// The whole content of a file; raises std::runtime_error naming it when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace ixc::test
