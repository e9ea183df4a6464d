// The overdue statement against a real throwaway server loaded with the ERP's tables: which
// receivables count, how the rows arrive, and how the server's refusals surface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mysql.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "erp/overdue_query.h"
#include "erp/row_conversion.h"
#include "support/mariadb_server.h"

namespace ixc {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kFixtures = std::string(IXC_TESTS_DIR) + "/fixtures/erp/";

// The rows of tests/fixtures/erp/overdue_cases.sql, queried once for the whole program.
struct CaseRows {
  std::vector<ClientRow> rows;
  std::map<std::int64_t, ClientRow> by_id;
};

const CaseRows& case_rows() {
  static const CaseRows cases = [] {
    ErpConnection connection =
        open_erp_connection(test::erp_database("casos", kFixtures + "overdue_cases.sql"));
    CaseRows loaded;
    loaded.rows = obterDadosCliente(connection);
    for (const ClientRow& row : loaded.rows) loaded.by_id.emplace(row.idCliente, row);
    return loaded;
  }();
  return cases;
}

const ClientRow& customer(std::int64_t id) {
  const auto& by_id = case_rows().by_id;
  auto found = by_id.find(id);
  if (found == by_id.end()) throw std::runtime_error("no row for cliente " + std::to_string(id));
  return found->second;
}

bool has_row(std::int64_t id) { return case_rows().by_id.count(id) == 1; }

// The server's date `days` before its current date, as the statement sees it.
LocalDateTime server_date_minus(int days) {
  auto text =
      test::query_value("SELECT CURRENT_DATE() - INTERVAL " + std::to_string(days) + " DAY");
  return parse_date(text.value()).value();
}

std::string query_error(const ErpParameters& parameters) {
  ErpConnection connection = open_erp_connection(parameters);
  try {
    obterDadosCliente(connection);
  } catch (const ErpError& error) {
    return error.what();
  }
  return "(no error)";
}

std::string server_prefix() {
  return test::erp_server_kind() + " 127.0.0.1:" + std::to_string(test::mariadb_server().port) +
         ": ";
}

TEST(OverdueStatement, IsTheOperatorsTextByteForByte) {
  std::string expected = test::read_file(kFixtures + "overdue_statement.sql");
  EXPECT_EQ(OVERDUE_STATEMENT, expected);
  // The whitespace that an editor or a formatter would quietly change.
  EXPECT_THAT(std::string(OVERDUE_STATEMENT), StartsWith("\n    SELECT \n"));
  EXPECT_TRUE(OVERDUE_STATEMENT.ends_with("\tfn_areceber.data_vencimento desc;\n    "));
  EXPECT_NE(OVERDUE_STATEMENT.find("\n   \t\tfilial on fn_areceber.filial_id  = filial.id\n"),
            std::string_view::npos);
  EXPECT_NE(OVERDUE_STATEMENT.find("\n    \tfn_areceber.data_vencimento desc;"),
            std::string_view::npos);
  EXPECT_NE(OVERDUE_STATEMENT.find("cliente.bairro as bairro    \n"), std::string_view::npos);
  EXPECT_EQ(std::count(OVERDUE_STATEMENT.begin(), OVERDUE_STATEMENT.end(), '\t'), 3);
}

TEST(OverdueStatement, IsTheOnlyThingTheServerReceives) {
  ErpParameters parameters = test::erp_database("registro", kFixtures + "overdue_cases.sql");
  test::run_sql(
      "SET GLOBAL log_output = 'TABLE'; TRUNCATE mysql.general_log; SET GLOBAL general_log = 1;");
  unsigned long thread_id = 0;
  bool sets_collation = false;  // MariaDB 11.2 and later: see open_erp_connection
  {
    ErpConnection connection = open_erp_connection(parameters);
    thread_id = mysql_thread_id(connection.handle);
    sets_collation = mysql_get_server_version(connection.handle) >= 110200;
    obterDadosCliente(connection);
  }
  std::string where = " FROM mysql.general_log WHERE thread_id = " + std::to_string(thread_id);
  // The farewell is logged once the server has read it; give it a moment.
  for (int i = 0; i < 40 && !test::query_value("SELECT 1" + where + " AND command_type = 'Quit'");
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  auto commands = test::query_value("SELECT GROUP_CONCAT(command_type SEPARATOR ',')" + where);
  const std::string names = " AND command_type = 'Query' AND argument LIKE 'SET NAMES %'";
  auto collation = test::query_value("SELECT GROUP_CONCAT(argument)" + where + names);
  auto statement =
      test::query_value("SELECT argument" + where +
                        " AND command_type = 'Query' AND argument NOT LIKE 'SET NAMES %'");
  test::run_sql("SET GLOBAL general_log = 0; TRUNCATE mysql.general_log;");

  if (sets_collation) {
    EXPECT_EQ(commands, "Connect,Query,Query,Quit");
    EXPECT_EQ(collation, "SET NAMES utf8mb4 COLLATE utf8mb4_general_ci");
  } else {
    EXPECT_EQ(commands, "Connect,Query,Quit");
  }
  // The server logs a statement without its leading blanks and its closing ";" and blanks.
  std::string_view sent = OVERDUE_STATEMENT;
  sent.remove_prefix(sent.find('S'));
  sent.remove_suffix(sent.size() - sent.rfind(';'));
  EXPECT_EQ(statement, std::string(sent));
}

TEST(OverdueReceivables, OnlyOpenPositiveContractedOnesDueBeforeTodayCount) {
  EXPECT_EQ(case_rows().rows.size(), 14u);
  const ClientRow& row = customer(1001);  // its due-today, zero, paid, cancelled and
  EXPECT_EQ(row.valorAtraso, 100.0);      // contract-less receivables stay out
  EXPECT_EQ(row.titulosAtraso, 1);
  EXPECT_EQ(row.dataVencimento, server_date_minus(1));
  EXPECT_EQ(row.idContrato, 11);
  EXPECT_EQ(row.filial, "Provedor Matriz Ltda");

  EXPECT_FALSE(has_row(1002)) << "due today and later";
  EXPECT_FALSE(has_row(1003)) << "nothing left open";
  EXPECT_FALSE(has_row(1004)) << "received and cancelled";
  EXPECT_FALSE(has_row(1005)) << "without a contract";
}

TEST(OverdueReceivables, TwoContractsGiveOneRowWithSumCountAndEarliestDate) {
  const ClientRow& row = customer(1006);
  EXPECT_EQ(row.valorAtraso, 50.5);
  EXPECT_EQ(row.titulosAtraso, 2);
  EXPECT_EQ(row.dataVencimento, server_date_minus(10));
  EXPECT_THAT(row.idContrato, AnyOf(61, 62));
}

TEST(OverdueReceivables, ANullValorAddsToTheSumButNotToTheCount) {
  EXPECT_EQ(customer(1007).valorAtraso, 100.0);
  EXPECT_EQ(customer(1007).titulosAtraso, 1);
  EXPECT_EQ(customer(1018).valorAtraso, 12.34);
  EXPECT_EQ(customer(1018).titulosAtraso, 0);
}

TEST(OverdueReceivables, BranchAndCityThatMatchNothingArriveAbsent) {
  const ClientRow& row = customer(1008);
  EXPECT_EQ(row.filial, std::nullopt);
  EXPECT_EQ(row.cidade, std::nullopt);
  EXPECT_EQ(row.valorAtraso, 15.0);
}

TEST(OverdueReceivables, AmountsAreTheServersExactDecimalSumsAsNearestDoubles) {
  EXPECT_EQ(customer(1016).valorAtraso, 0.3);  // not 0.1 + 0.2 in double
  EXPECT_EQ(customer(1017).valorAtraso, 100000000.0);
}

TEST(CustomerValues, PhonesArriveAsStoredNullEmptyOrBlank) {
  EXPECT_EQ(customer(1001).contatoCliente, "(11) 91111-1111");
  EXPECT_EQ(customer(1009).contatoCliente, std::nullopt);
  EXPECT_EQ(customer(1010).contatoCliente, "");
  EXPECT_EQ(customer(1011).contatoCliente, " ");
  EXPECT_EQ(customer(1011).bairro, std::nullopt);
}

TEST(CustomerValues, AccentsAndCharactersBeyondTheBmpArriveIntact) {
  const ClientRow& row = customer(1012);
  EXPECT_EQ(row.razaoSocial, "João Conceição Ávila 😀");
  EXPECT_EQ(row.bairro, "Santo Antônio de Lisboa 🏠");
  EXPECT_EQ(row.cidade, "Florianópolis");
  EXPECT_EQ(row.cpfCnpj, "12.345.678/0001-95");
  EXPECT_EQ(row.filial, "Provedor Filial Sul Ltda");
}

TEST(CustomerValues, TheStatusFlagArrivesAsStoredWithItsCase) {
  EXPECT_EQ(customer(1001).statusCliente, "S");
  EXPECT_EQ(customer(1014).statusCliente, "N");
  EXPECT_EQ(customer(1015).statusCliente, "n");
}

TEST(CustomerValues, RegistrationDatesAreLocalMidnightsAndTheZeroDateIsAbsent) {
  EXPECT_EQ(customer(1001).data_cadastro, (LocalDateTime{2020, 3, 15, 0, 0, 0}));
  EXPECT_EQ(customer(1016).data_cadastro, (LocalDateTime{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(customer(1013).data_cadastro, std::nullopt);
}

TEST(ErpDateColumns, DateTimesWithFractionsLoseOnlyTheFraction) {
  ErpParameters parameters = test::erp_database("datahora");
  test::run_sql(R"(
    ALTER TABLE cliente MODIFY data_cadastro DATETIME(6) NOT NULL DEFAULT '0000-00-00 00:00:00';
    ALTER TABLE fn_areceber MODIFY data_vencimento DATETIME(6) NOT NULL;
    INSERT INTO cliente (id, razao, data_cadastro) VALUES
      (1, 'Com Hora', '2021-05-06 07:08:09.654321'),
      (2, 'Sem Data', '0000-00-00 00:00:00');
    INSERT INTO fn_areceber (id_cliente, id_contrato, data_vencimento, valor, valor_aberto) VALUES
      (1, 1, '2024-01-02 03:04:05.999999', 10, 10),
      (2, 2, '2024-01-02 03:04:05.000000', 10, 10);)",
                "datahora");
  ErpConnection connection = open_erp_connection(parameters);
  std::vector<ClientRow> rows = obterDadosCliente(connection);
  ASSERT_EQ(rows.size(), 2u);
  std::map<std::int64_t, ClientRow> by_id;
  for (const ClientRow& row : rows) by_id.emplace(row.idCliente, row);
  EXPECT_EQ(by_id[1].data_cadastro, (LocalDateTime{2021, 5, 6, 7, 8, 9}));
  EXPECT_EQ(by_id[1].dataVencimento, (LocalDateTime{2024, 1, 2, 3, 4, 5}));
  EXPECT_EQ(by_id[2].data_cadastro, std::nullopt);
}

TEST(ErpDateColumns, ADateThatIsNoDateNamesCustomerColumnAndValue) {
  ErpParameters parameters = test::erp_database("datatexto");
  test::run_sql(R"(
    ALTER TABLE cliente MODIFY data_cadastro VARCHAR(20) NOT NULL;
    INSERT INTO cliente (id, razao, data_cadastro) VALUES (7, 'Data Torta', '2024-2-3');
    INSERT INTO fn_areceber (id_cliente, id_contrato, data_vencimento, valor, valor_aberto)
      VALUES (7, 1, '2024-01-02', 10, 10);)",
                "datatexto");
  ErpConnection connection = open_erp_connection(parameters);
  try {
    obterDadosCliente(connection);
    ADD_FAILURE() << "no error";
  } catch (const RowConversionError& error) {
    EXPECT_EQ(std::string(error.what()), "cliente 7: data_cadastro \"2024-2-3\" não é uma data");
  }
}

TEST(OverdueResult, IsEmptyWhenNobodyIsOverdue) {
  ErpConnection connection = open_erp_connection(test::erp_database("vazio"));
  EXPECT_TRUE(obterDadosCliente(connection).empty());
}

// Switches ONLY_FULL_GROUP_BY on for new connections, and back off whatever the test does.
struct FullGroupByMode {
  std::string saved = test::query_value("SELECT @@GLOBAL.sql_mode").value_or("");
  FullGroupByMode() {
    test::run_sql("SET GLOBAL sql_mode = CONCAT(@@GLOBAL.sql_mode, ',ONLY_FULL_GROUP_BY')");
  }
  ~FullGroupByMode() {
    try {
      test::run_sql("SET GLOBAL sql_mode = '" + saved + "'");
    } catch (const std::exception& error) {
      ADD_FAILURE() << "sql_mode not restored: " << error.what();
    }
  }
};

TEST(ServerRefusals, FullGroupByModeRefusesTheStatementWithTheServersText) {
  ErpParameters parameters = test::erp_database("agrupado", kFixtures + "overdue_cases.sql");
  std::string error;
  {
    FullGroupByMode mode;
    error = query_error(parameters);
  }
  EXPECT_THAT(error, StartsWith(server_prefix()));
  EXPECT_THAT(error, HasSubstr("in GROUP BY"));  // MariaDB: "isn't in", MySQL: "is not in"
  EXPECT_EQ(query_error(parameters), "(no error)") << "mode not restored";
}

TEST(ServerRefusals, AMissingTableIsTheServersText) {
  ErpParameters parameters = test::erp_database("sem_filial");
  test::run_sql("DROP TABLE filial", "sem_filial");
  std::string error = query_error(parameters);
  EXPECT_THAT(error, StartsWith(server_prefix()));
  EXPECT_THAT(error, HasSubstr("sem_filial.filial' doesn't exist"));
}

TEST(ServerRefusals, ALostConnectionIsTheLibrarysText) {
  ErpConnection connection = open_erp_connection(test::erp_database("perdida"));
  test::run_sql("KILL CONNECTION " + std::to_string(mysql_thread_id(connection.handle)));
  try {
    obterDadosCliente(connection);
    ADD_FAILURE() << "no error";
  } catch (const ErpError& error) {
    EXPECT_THAT(error.what(), StartsWith(server_prefix()));
    EXPECT_THAT(error.what(), AnyOf(HasSubstr("gone away"), HasSubstr("Lost connection")));
  }
}

}  // namespace
}  // namespace ixc
