#include "support/mariadb_server.h"

#include <fcntl.h>
#include <mysql.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "support/loopback_socket.h"

namespace ixc::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kReaderUser = "ixc_leitura";
constexpr std::string_view kReaderPassword = "Leitura-7q!Zx#2024";

// Starts `argv` with its output in `log`; the child dies with the test program.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("test MariaDB: fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execvp(args[0], args.data());
    std::string fallback = "/usr/sbin/" + argv[0];  // root's PATH may lack sbin in containers
    execv(fallback.c_str(), args.data());
    _exit(127);
  }
  return pid;
}

std::string log_tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
}

[[noreturn]] void fail_sql(MYSQL* handle, std::string_view sql) {
  throw std::runtime_error("test MariaDB: " + std::string(mysql_error(handle)) +
                           " in: " + std::string(sql.substr(0, 300)));
}

bool on_mysql() {
  static const bool mysql = [] {
    const char* chosen = std::getenv("IXC_TEST_ERP_SERVER");
    std::string name = chosen ? chosen : "";
    if (name != "" && name != "mariadb" && name != "mysql") {
      throw std::runtime_error("IXC_TEST_ERP_SERVER \"" + name + "\" is neither mariadb nor mysql");
    }
    return name == "mysql";
  }();
  return mysql;
}

// The Debian root holding MySQL's server (.ci/mysql_root).
const std::string& mysql_root() {
  static const std::string root = [] {
    const char* given = std::getenv("IXC_TEST_MYSQL_ROOT");
    std::string folder = given && *given ? given : "/var/cache/ixc-atraso/roots/sid-mysql";
    if (!std::filesystem::exists(folder + "/usr/sbin/mysqld")) {
      throw std::runtime_error("test MySQL: no " + folder +
                               "/usr/sbin/mysqld; .ci/mysql_root makes that root");
    }
    return folder;
  }();
  return root;
}

// The command that runs `server_argv` (mysqld's or mariadbd's arguments, program first): MySQL's
// through chroot into its root.
std::vector<std::string> server_command(std::vector<std::string> server_argv) {
  if (!on_mysql()) return server_argv;
  server_argv[0] = "/usr/sbin/mysqld";
  server_argv.insert(server_argv.begin(), {"chroot", mysql_root()});
  return server_argv;
}

// MariaDB 10.11's default, which lets in the zero days that the fixtures hold.
constexpr std::string_view kWritersSqlMode =
    "STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION";

}  // namespace

struct MariaDbProcess {
  MariaDbServer info;
  MYSQL* root = nullptr;
  std::vector<std::string> extra_options;

  explicit MariaDbProcess(std::vector<std::string> options) : extra_options(std::move(options)) {
    std::string folder =
        on_mysql() ? mysql_root() + "/tmp/ixc-mysql.XXXXXX" : "/tmp/ixc-mariadb.XXXXXX";
    if (!mkdtemp(folder.data())) throw std::runtime_error("test MariaDB: mkdtemp failed");
    info.folder = folder;
    info.socket = info.folder + "/sock";
    info.user = kReaderUser;
    info.password = kReaderPassword;
    if (on_mysql()) adapt_options_to_mysql();

    std::string install_log = info.folder + "/install.log";
    pid_t install =
        on_mysql()
            ? spawn(
                  server_command({"mysqld", "--no-defaults", "--initialize-insecure", "--user=root",
                                  "--datadir=" + seen("/data"), "--tmpdir=" + seen("")}),
                  install_log)
            : spawn({"mariadb-install-db", "--no-defaults", "--datadir=" + info.folder + "/data",
                     "--auth-root-authentication-method=normal", "--skip-test-db",
                     // Its bootstrap's temporary tables in /tmp were seen to clash with another
                     // server's bootstrap there ("Unknown table 'mysql.tmp_user_sys'").
                     "--tmpdir=" + info.folder},
                    install_log);
    int status = 0;
    waitpid(install, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      throw std::runtime_error("test MariaDB: mariadb-install-db failed:\n" +
                               log_tail(install_log));
    }

    // A port found free may be taken again before the server binds it: try a few.
    for (int attempt = 0; attempt < 5 && info.pid < 0; ++attempt) start(free_loopback_port());
    if (info.pid < 0) {
      throw std::runtime_error("test MariaDB: mariadbd did not start:\n" +
                               log_tail(info.folder + "/error.log"));
    }
    if (on_mysql()) {
      run("SET GLOBAL sql_mode = REPLACE(REPLACE(@@GLOBAL.sql_mode, 'ONLY_FULL_GROUP_BY,', ''), "
          "'ONLY_FULL_GROUP_BY', '');\nSET SESSION sql_mode = '" +
              std::string(kWritersSqlMode) + "'",
          {});
    }
    run("CREATE USER '" + info.user + "'@'%' IDENTIFIED BY '" + info.password +
            "';\nGRANT SELECT ON *.* TO '" + info.user + "'@'%';",
        {});
  }

  // `path` below the folder as the server sees it: under MySQL, inside its root.
  std::string seen(const std::string& path) const {
    std::string full = info.folder + path;
    return on_mysql() ? full.substr(mysql_root().size()) : full;
  }

  // Files that the extra options name, copied where the chrooted server sees them; MariaDB's
  // --skip-ssl is spelt as MySQL 8.4 and later know it (no TLS version allowed).
  void adapt_options_to_mysql() {
    for (std::string& option : extra_options) {
      if (option == "--skip-ssl") option = "--tls-version=";
      std::size_t equals = option.find('=');
      if (equals == std::string::npos || option[equals + 1] != '/') continue;
      std::filesystem::path file = option.substr(equals + 1);
      if (!std::filesystem::is_regular_file(file)) continue;
      std::filesystem::copy_file(file, info.folder + "/" + file.filename().string());
      option = option.substr(0, equals + 1) + seen("/" + file.filename().string());
    }
  }

  void start(std::uint16_t port) {
    std::vector<std::string> argv = {"mariadbd",
                                     "--no-defaults",
                                     "--user=root",
                                     "--datadir=" + seen("/data"),
                                     "--socket=" + seen("/sock"),
                                     "--port=" + std::to_string(port),
                                     "--bind-address=127.0.0.1",
                                     "--pid-file=" + seen("/mariadbd.pid"),
                                     "--log-error=" + seen("/error.log"),
                                     "--tmpdir=" + seen(""),
                                     "--skip-name-resolve",
                                     "--innodb-buffer-pool-size=32M",
                                     "--innodb-flush-log-at-trx-commit=0",
                                     "--innodb-doublewrite=0"};
    if (on_mysql()) {
      // Neither touches what the ERP's side sees: the X protocol's fixed port would clash
      // between servers, and the binary log only slows the fixtures' loading.
      argv.back() = "--innodb-doublewrite=OFF";  // an enumeration there, not a switch
      argv.insert(argv.end(), {"--mysqlx=OFF", "--disable-log-bin"});
    }
    argv.insert(argv.end(), extra_options.begin(), extra_options.end());
    pid_t pid = spawn(server_command(argv), info.folder + "/mariadbd.out");
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return;  // exited: the caller tries again
      MYSQL* handle = mysql_init(nullptr);
      mysql_options(handle, MYSQL_SET_CHARSET_NAME, "utf8mb4");  // the fixtures hold emoji
      if (mysql_real_connect(handle, nullptr, "root", "", nullptr, 0, info.socket.c_str(),
                             CLIENT_MULTI_STATEMENTS)) {
        root = handle;
        info.port = port;
        info.pid = pid;
        return;
      }
      mysql_close(handle);
      std::this_thread::sleep_for(50ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }

  ~MariaDbProcess() {
    if (root) mysql_close(root);
    if (info.pid > 0) {
      kill(info.pid, SIGTERM);
      auto deadline = std::chrono::steady_clock::now() + 30s;
      while (waitpid(info.pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          kill(info.pid, SIGKILL);
          waitpid(info.pid, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(20ms);
      }
    }
    std::error_code ignored;
    std::filesystem::remove_all(info.folder, ignored);
  }

  void select_database(std::string_view database) {
    std::string name(database);
    if (!name.empty() && mysql_select_db(root, name.c_str()) != 0) fail_sql(root, "USE " + name);
  }

  // Runs every statement of `sql` and returns the first value of the first result set.
  std::optional<std::string> run(std::string_view sql, std::string_view database) {
    select_database(database);
    if (mysql_real_query(root, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
      fail_sql(root, sql);
    }
    std::optional<std::string> first;
    bool seen_rows = false;
    for (;;) {
      MYSQL_RES* result = mysql_store_result(root);
      if (result) {
        MYSQL_ROW row = mysql_fetch_row(result);
        if (!seen_rows && row && mysql_num_fields(result) > 0 && row[0]) {
          first = std::string(row[0], mysql_fetch_lengths(result)[0]);
        }
        seen_rows = true;
        mysql_free_result(result);
      } else if (mysql_errno(root) != 0) {
        fail_sql(root, sql);
      }
      int next = mysql_next_result(root);
      if (next > 0) fail_sql(root, sql);
      if (next < 0) return first;
    }
  }
};

namespace {

MariaDbProcess& server() {
  static MariaDbProcess instance({});
  return instance;
}

ErpParameters reader_parameters(const MariaDbServer& s, const std::string& database) {
  return {s.host, std::to_string(s.port), s.user, s.password, database, {}};
}

}  // namespace

ExtraMariaDbServer::ExtraMariaDbServer(const std::vector<std::string>& extra_options)
    : process(std::make_unique<MariaDbProcess>(extra_options)) {}

ExtraMariaDbServer::~ExtraMariaDbServer() = default;

const MariaDbServer& ExtraMariaDbServer::info() const { return process->info; }

ErpParameters ExtraMariaDbServer::erp_parameters(const std::string& database) const {
  return reader_parameters(process->info, database);
}

std::string erp_server_kind() { return on_mysql() ? "MySQL" : "MariaDB"; }

const MariaDbServer& mariadb_server() { return server().info; }

void run_sql(std::string_view sql, std::string_view database) { server().run(sql, database); }

std::optional<std::string> query_value(std::string_view sql, std::string_view database) {
  return server().run(sql, database);
}

ErpParameters erp_parameters(const std::string& database) {
  return reader_parameters(mariadb_server(), database);
}

ErpParameters erp_database(const std::string& name, const std::string& data_file) {
  run_sql("DROP DATABASE IF EXISTS `" + name + "`;\nCREATE DATABASE `" + name +
          "` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;");
  run_sql(read_file(std::string(IXC_SOURCE_DIR) + "/tools/ixc_erp/ixc_schema.sql"), name);
  if (!data_file.empty()) run_sql(read_file(data_file), name);
  return erp_parameters(name);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace ixc::test
