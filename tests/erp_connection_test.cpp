// Opening the ERP connection against a real throwaway server, and against sockets that refuse
// or never answer: what is agreed at connect time, what the errors say, and that every wait
// ends with the run-time limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mysql.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "erp/erp_connection.h"
#include "support/loopback_socket.h"
#include "support/mariadb_server.h"
#include "vendor/runtime_limiter.h"

namespace ixc {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

std::string connect_error(const ErpParameters& parameters) {
  try {
    open_erp_connection(parameters);
  } catch (const ErpError& error) {
    return error.what();
  }
  return "(no error)";
}

std::string first_value(ErpConnection& connection, std::string_view sql) {
  ErpResult result = erp_query(connection, sql);
  ErpRowValues values;
  if (!erp_next_row(result, values) || values.empty() || !values[0]) return "(none)";
  return std::string(*values[0]);
}

// A one-second limit. Should a wait ignore it, the limiter's backstop would end the test
// program with status 0, which would read as a pass: make that a loud failure instead.
struct OneSecondLimit {
  kestrelkit::RuntimeLimiter limiter{1000ms};
  OneSecondLimit() {
    signal(SIGALRM, [](int) {
      const char text[] = "FAILED: a wait outlived the run-time limit\n";
      ssize_t ignored = ::write(STDERR_FILENO, text, sizeof text - 1);
      (void)ignored;
      _exit(1);
    });
  }
};

TEST(ErpPort, AcceptsOnlyWholeNumbersFrom0To65535) {
  EXPECT_EQ(parse_db_port("h", "3306"), 3306);
  EXPECT_EQ(parse_db_port("h", "0"), 0);
  EXPECT_EQ(parse_db_port("h", "65535"), 65535);
  for (const char* text : {"", "abc", "3306a", " 3306", "3306 ", "+3306", "-1", "33.06", "65536",
                           "99999999999999999999"}) {
    try {
      parse_db_port("db.example", text);
      ADD_FAILURE() << "accepted \"" << text << '"';
    } catch (const ErpError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("MariaDB db.example: porta \"") + text +
                                               "\" não é um número inteiro de 0 a 65535");
    }
  }
}

TEST(ErpPort, ABadPortFailsTheConnectionAttemptBeforeAnyNetwork) {
  ErpParameters parameters{"127.0.0.1", "33o6", "u", "p", "d"};
  EXPECT_THAT(connect_error(parameters), HasSubstr("porta \"33o6\""));
}

TEST(ErpConnect, AgreesOnUtf8mb4WithGeneralCollationAtConnectTime) {
  ErpConnection connection = open_erp_connection(test::erp_database("conexao"));
  EXPECT_EQ(first_value(connection, "SELECT @@character_set_client"), "utf8mb4");
  EXPECT_EQ(first_value(connection, "SELECT @@character_set_results"), "utf8mb4");
  EXPECT_EQ(first_value(connection, "SELECT @@collation_connection"), "utf8mb4_general_ci");
  EXPECT_EQ(first_value(connection, "SELECT DATABASE()"), "conexao");
  EXPECT_EQ(first_value(connection, "SELECT '😀'"), "😀");
}

TEST(ErpConnect, LocalhostWithAPortGoesOverTcpToThatPort) {
  // The server's socket is in its own folder, so the library's default socket finds nothing:
  // only TCP to the given port reaches it.
  ErpParameters parameters = test::erp_parameters("mysql");
  parameters.host = "localhost";
  ErpConnection connection = open_erp_connection(parameters);
  EXPECT_THAT(std::string(mysql_get_host_info(connection.handle)), HasSubstr("TCP/IP"));
  EXPECT_EQ(first_value(connection, "SELECT @@port"), parameters.port);
}

TEST(ErpConnectErrors, AWrongPasswordNamesServerAndLibraryTextButNotThePassword) {
  ErpParameters parameters = test::erp_parameters("mysql");
  parameters.password = "Senha-Errada-9xK";
  std::string error = connect_error(parameters);
  EXPECT_THAT(error, AllOf(HasSubstr("MariaDB 127.0.0.1:" + parameters.port + ": "),
                           HasSubstr("Access denied for user 'ixc_leitura'"),
                           Not(HasSubstr(parameters.password))));
}

TEST(ErpConnectErrors, AnUnknownDatabaseIsTheServersRefusal) {
  std::string error = connect_error(test::erp_parameters("nao_existe"));
  EXPECT_THAT(error, AllOf(HasSubstr("MariaDB 127.0.0.1:"), HasSubstr("nao_existe"),
                           Not(HasSubstr(test::mariadb_server().password))));
}

TEST(ErpConnectErrors, ARefusedPortNamesHostAndPort) {
  std::string port = std::to_string(test::free_loopback_port());
  ErpParameters parameters{"127.0.0.1", port, "u", "Segredo-Recusado-3", "d"};
  std::string error = connect_error(parameters);
  EXPECT_THAT(error, AllOf(HasSubstr("MariaDB 127.0.0.1:" + port + ": "),
                           HasSubstr("Can't connect"), Not(HasSubstr(parameters.password))));
}

TEST(ErpTimeLimit, AServerThatNeverGreetsEndsWithTheLimit) {
  test::LoopbackSocket silent(true);  // the kernel completes the handshake, nobody greets
  ErpParameters parameters{"127.0.0.1", std::to_string(silent.port), "u", "p", "d"};
  auto started = std::chrono::steady_clock::now();
  {
    OneSecondLimit limit;
    EXPECT_THROW(open_erp_connection(parameters), kestrelkit::TimeoutException);
  }
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 2000ms);
}

TEST(ErpTimeLimit, AStatementStillRunningEndsWithTheLimitAndClosesWithoutWaiting) {
  ErpConnection connection = open_erp_connection(test::erp_parameters("mysql"));
  auto started = std::chrono::steady_clock::now();
  {
    OneSecondLimit limit;
    EXPECT_THROW(erp_query(connection, "SELECT SLEEP(5)"), kestrelkit::TimeoutException);
    ErpConnection released = std::move(connection);
  }
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 2000ms);
}

TEST(ErpTimeLimit, ASpentLimitRaisesTimeoutNotAConnectionError) {
  ErpParameters parameters = test::erp_parameters("mysql");
  OneSecondLimit limit;
  std::this_thread::sleep_for(1100ms);
  EXPECT_THROW(open_erp_connection(parameters), kestrelkit::TimeoutException);
}

}  // namespace
}  // namespace ixc
