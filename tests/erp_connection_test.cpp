// Opening the ERP connection against a real throwaway server, and against sockets that refuse
// or never answer: what is agreed at connect time, what each TLS mode does with servers that
// require, offer or lack TLS, what the errors say, and that every wait ends with the run-time
// limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mysql.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "erp/erp_connection.h"
#include "support/fake_mariadb.h"
#include "support/loopback_socket.h"
#include "support/mariadb_server.h"
#include "support/scratch_folder.h"
#include "vendor/runtime_limiter.h"

namespace ixc {
namespace {

using ::testing::AllOf;
using ::testing::AnyOf;
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

ErpParameters with_tls(ErpParameters parameters, ErpTlsMode mode, std::string ca = {}) {
  parameters.tls = {mode, std::move(ca)};
  return parameters;
}

// The session's cipher as the server sees it; empty in clear text.
std::string session_cipher(ErpConnection& connection) {
  ErpResult result = erp_query(connection, "SHOW SESSION STATUS LIKE 'Ssl_cipher'");
  ErpRowValues values;
  if (!erp_next_row(result, values) || values.size() != 2 || !values[1]) return "";
  return std::string(*values[1]);
}

// A server with a throwaway CA and certificate that refuses clear text over TCP (its socket, which
// the set-up uses as root, counts as secure). The certificate names 127.0.0.1 and nothing else.
struct TlsServer {
  test::ScratchFolder scratch;
  std::string folder = scratch.path;
  std::string ca = folder + "/ca.pem";               // signed the server's certificate
  std::string other_ca = folder + "/other-ca.pem";   // signed nothing this server has
  std::unique_ptr<test::ExtraMariaDbServer> server;  // stopped before the folder goes

  TlsServer() {
    scratch.write("san.cnf", "subjectAltName=IP:127.0.0.1\n");
    openssl("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ixc-test-ca -keyout " + folder +
            "/ca-key.pem -out " + ca);
    openssl("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=ixc-other-ca -keyout " + folder +
            "/other-key.pem -out " + other_ca);
    openssl("req -newkey rsa:2048 -nodes -subj /CN=ixc-test-erp -keyout " + folder +
            "/server-key.pem -out " + folder + "/server.csr");
    openssl("x509 -req -days 2 -in " + folder + "/server.csr -CA " + ca + " -CAkey " + folder +
            "/ca-key.pem -CAcreateserial -extfile " + folder + "/san.cnf -out " + folder +
            "/server.pem");
    server = std::make_unique<test::ExtraMariaDbServer>(std::vector<std::string>{
        "--ssl-ca=" + ca, "--ssl-cert=" + folder + "/server.pem",
        "--ssl-key=" + folder + "/server-key.pem", "--require-secure-transport=ON"});
  }

  void openssl(const std::string& arguments) const {
    std::string log = folder + "/openssl.log";
    if (std::system(("openssl " + arguments + " >>" + log + " 2>&1").c_str()) != 0) {
      throw std::runtime_error("openssl " + arguments + " failed:\n" + test::read_file(log));
    }
  }
};

const TlsServer& tls_server() {
  static TlsServer instance;
  return instance;
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

// Port 0 would make the client library connect to 3306 while every message named port 0.
TEST(ErpPort, AcceptsOnlyWholeNumbersFrom1To65535) {
  EXPECT_EQ(parse_db_port("h", "3306"), 3306);
  EXPECT_EQ(parse_db_port("h", "65535"), 65535);
  for (const char* text : {"", "0", "abc", "3306a", " 3306", "3306 ", "+3306", "-1", "33.06",
                           "65536", "99999999999999999999"}) {
    try {
      parse_db_port("db.example", text);
      ADD_FAILURE() << "accepted \"" << text << '"';
    } catch (const ErpError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("ERP db.example: porta \"") + text +
                                               "\" não é um número inteiro de 1 a 65535");
    }
  }
}

TEST(ErpPort, ABadPortFailsTheConnectionAttemptBeforeAnyNetwork) {
  ErpParameters parameters{"127.0.0.1", "33o6", "u", "p", "d", {}};
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
  EXPECT_THAT(error, AllOf(HasSubstr("ERP 127.0.0.1:" + parameters.port + ": "),
                           HasSubstr("Access denied for user 'ixc_leitura'"),
                           Not(HasSubstr(parameters.password))));
}

TEST(ErpConnectErrors, AnUnknownDatabaseIsTheServersRefusal) {
  std::string error = connect_error(test::erp_parameters("nao_existe"));
  EXPECT_THAT(error, AllOf(HasSubstr("ERP 127.0.0.1:"), HasSubstr("nao_existe"),
                           Not(HasSubstr(test::mariadb_server().password))));
}

TEST(ErpConnectErrors, ARefusedPortNamesHostAndPort) {
  std::string port = std::to_string(test::free_loopback_port());
  ErpParameters parameters{"127.0.0.1", port, "u", "Segredo-Recusado-3", "d", {}};
  std::string error = connect_error(parameters);
  EXPECT_THAT(error, AllOf(HasSubstr("ERP 127.0.0.1:" + port + ": "), HasSubstr("Can't connect"),
                           Not(HasSubstr(parameters.password))));
}

TEST(ErpTls, AServerThatRequiresTlsRefusesOffAndServesPreferredAndRequired) {
  const TlsServer& tls = tls_server();
  ErpParameters parameters = tls.server->erp_parameters("mysql");
  std::string version;
  for (ErpTlsMode mode : {ErpTlsMode::preferred, ErpTlsMode::required}) {
    ErpConnection connection = open_erp_connection(with_tls(parameters, mode));
    EXPECT_NE(session_cipher(connection), "") << static_cast<int>(mode);
    // A reply of many TLS records, read on the socket made non-blocking after the handshake.
    EXPECT_EQ(first_value(connection, "SELECT REPEAT('x', 1000000)"), std::string(1000000, 'x'));
    version = first_value(connection, "SELECT VERSION()");
  }
  // The refusal is worded by the server: 10.11 (Debian 12) as a failed login, 11.8 (Debian 13)
  // by the setting itself. The README quotes both.
  std::string refusal = version.starts_with("10.")
                            ? "Access denied for user 'ixc_leitura'"
                            : "Connections using insecure transport are prohibited while "
                              "--require_secure_transport=ON.";
  EXPECT_THAT(connect_error(with_tls(parameters, ErpTlsMode::off)),
              AllOf(HasSubstr("ERP 127.0.0.1:" + parameters.port + ": "), HasSubstr(refusal),
                    Not(HasSubstr(parameters.password))))
      << version;
}

TEST(ErpTls, RequiredChecksTheCertificateAgainstTheCaAndTheHostName) {
  const TlsServer& tls = tls_server();
  ErpParameters parameters = tls.server->erp_parameters("mysql");
  ErpConnection verified = open_erp_connection(with_tls(parameters, ErpTlsMode::required, tls.ca));
  EXPECT_NE(session_cipher(verified), "");

  std::string peer = "ERP 127.0.0.1:" + parameters.port + ": ";
  EXPECT_THAT(connect_error(with_tls(parameters, ErpTlsMode::required, tls.other_ca)),
              AllOf(HasSubstr(peer), HasSubstr("TLS/SSL error")));
  EXPECT_THAT(connect_error(with_tls(parameters, ErpTlsMode::required, tls.folder + "/none.pem")),
              AllOf(HasSubstr(peer), HasSubstr("TLS/SSL error")));
  // The right CA, but the certificate names 127.0.0.1 and not "localhost".
  ErpParameters by_name = with_tls(parameters, ErpTlsMode::required, tls.ca);
  by_name.host = "localhost";
  // Connector/C 3.3 (Debian 12) and 3.4 (Debian 13) word it differently.
  EXPECT_THAT(connect_error(by_name),
              AllOf(HasSubstr("ERP localhost:" + parameters.port + ": "),
                    AnyOf(HasSubstr("Validation of SSL server certificate failed"),
                          HasSubstr("TLS/SSL error: Hostname verification failed"))));
}

TEST(ErpTls, AServerWithoutTlsServesOffAndPreferredInClearTextAndRefusesRequired) {
  // From 11.4 a stock server makes itself a certificate and offers TLS: this one is told not to.
  test::ExtraMariaDbServer server({"--skip-ssl"});
  ErpParameters parameters = server.erp_parameters("mysql");
  for (ErpTlsMode mode : {ErpTlsMode::off, ErpTlsMode::preferred}) {
    ErpConnection connection = open_erp_connection(with_tls(parameters, mode));
    EXPECT_EQ(session_cipher(connection), "") << static_cast<int>(mode);
  }
  // Found out after the login, by a server that has said what it is; with a CA, before it.
  EXPECT_THAT(connect_error(with_tls(parameters, ErpTlsMode::required)),
              AllOf(HasSubstr(test::erp_server_kind() + " 127.0.0.1:" + parameters.port + ": "),
                    HasSubstr("servidor não oferece TLS")));
  EXPECT_THAT(connect_error(with_tls(parameters, ErpTlsMode::required, tls_server().ca)),
              AllOf(HasSubstr("ERP 127.0.0.1:" + parameters.port + ": "),
                    HasSubstr("SSL is required, but the server does not support it"),
                    Not(HasSubstr(parameters.password))));
}

TEST(ErpTimeLimit, AServerThatNeverGreetsEndsWithTheLimit) {
  test::LoopbackSocket silent(true);  // the kernel completes the handshake, nobody greets
  ErpParameters parameters{"127.0.0.1", std::to_string(silent.port), "u", "p", "d", {}};
  auto started = std::chrono::steady_clock::now();
  {
    OneSecondLimit limit;
    EXPECT_THROW(open_erp_connection(parameters), kestrelkit::TimeoutException);
  }
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 2000ms);
}

TEST(ErpTimeLimit, ATlsHandshakeThatNeverCompletesEndsWithTheLimit) {
  test::FakeMariaDb server({.mode = test::FakeMode::TlsSilent});
  ErpParameters parameters{"127.0.0.1", std::to_string(server.port()), "u", "p", "d", {}};
  auto started = std::chrono::steady_clock::now();
  {
    OneSecondLimit limit;
    EXPECT_THROW(open_erp_connection(with_tls(parameters, ErpTlsMode::preferred)),
                 kestrelkit::TimeoutException);
  }
  auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_GE(elapsed, 900ms);
  EXPECT_LT(elapsed, 2000ms);
}

TEST(ErpTimeLimit, AStatementStillRunningEndsWithTheLimitAndClosesWithoutWaiting) {
  // Over TLS the library reads the socket itself; it must still hand the wait back to the limit.
  for (ErpParameters parameters :
       {test::erp_parameters("mysql"),
        with_tls(tls_server().server->erp_parameters("mysql"), ErpTlsMode::required)}) {
    SCOPED_TRACE(parameters.tls.mode == ErpTlsMode::off ? "clear text" : "TLS");
    ErpConnection connection = open_erp_connection(parameters);
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
}

TEST(ErpTimeLimit, ASpentLimitRaisesTimeoutNotAConnectionError) {
  ErpParameters parameters = test::erp_parameters("mysql");
  OneSecondLimit limit;
  std::this_thread::sleep_for(1100ms);
  EXPECT_THROW(open_erp_connection(parameters), kestrelkit::TimeoutException);
}

}  // namespace
}  // namespace ixc
