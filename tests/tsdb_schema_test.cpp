// The statements of both tables and the schema check against the QuestDB stand-in: current,
// outdated, wider-than-expected and missing tables, and a server that cannot be reached.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/run_settings.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/storage_run.h"
#include "tsdb/client_rows_writer.h"
#include "tsdb/query_client.h"
#include "tsdb/schema.h"
#include "tsdb/totals_writer.h"

namespace ixc {
namespace {

using test::lines_of;
using test::printed_by;
using test::stdout_of;
using test::use_questdb;

using nlohmann::json;
using test::QuestDbStandin;

constexpr const char* kAddress = "127.0.0.21";
constexpr const char* kUnreachable = "127.0.0.29";  // nothing listens there

const std::string kCreateClientes =
    "CREATE TABLE 'ixcClientes' (idCliente INT, idContrato INT, razaoSocial SYMBOL capacity "
    "1048576 CACHE index capacity 256, cpfCnpj SYMBOL capacity 1048576 CACHE, contatoCliente "
    "SYMBOL capacity 1048576 CACHE, valorAtraso DOUBLE, titulosAtraso INT, statusCliente INT, "
    "dataCadastro TIMESTAMP, dataVencimento TIMESTAMP, filial SYMBOL capacity 512 CACHE, "
    "cidade SYMBOL capacity 512 CACHE, bairro SYMBOL capacity 4096 CACHE, ixcIdentification "
    "SYMBOL capacity 8 CACHE, timestamp TIMESTAMP) timestamp (dataCadastro) PARTITION BY WEEK "
    "WAL DEDUP UPSERT KEYS(idCliente, dataCadastro);";
const std::string kCreateSoma =
    "CREATE TABLE 'ixcClientesSoma' (clientesAtrasoInativo INT, clientesAtrasoAtivo INT, "
    "titulosAtrasoInativo INT, titulosAtrasoAtivo INT, valorAtrasoInativo DOUBLE, "
    "valorAtrasoAtivo DOUBLE, timestamp TIMESTAMP) timestamp (timestamp) PARTITION BY WEEK WAL "
    "DEDUP UPSERT KEYS(timestamp);";

std::string yellow(std::string_view text) {
  return std::string(YELLOW) + std::string(text) + std::string(RESET);
}

std::vector<std::string> column_names(const QuestDbStandin& server, const std::string& table) {
  std::vector<std::string> names;
  json listing = server.query("SHOW COLUMNS FROM " + table);
  for (const json& row : listing.at("dataset")) {
    names.push_back(row.at(0));
  }
  return names;
}

TEST(SchemaStatements, CreateStatementsAreExactlyTheTablesOfTheSystem) {
  EXPECT_EQ(create_table_statement(kClientesTable), kCreateClientes);
  EXPECT_EQ(create_table_statement(kClientesSomaTable), kCreateSoma);
  EXPECT_EQ(show_columns_statement(kClientesTable), "SHOW COLUMNS FROM ixcClientes");
  EXPECT_EQ(show_columns_statement(kClientesSomaTable), "SHOW COLUMNS FROM ixcClientesSoma");
}

TEST(SchemaStatements, OneAddColumnPerColumnInTableOrderWithoutSemicolon) {
  auto clientes = colunas_tabela(kClientesTable);
  ASSERT_EQ(clientes.size(), 15u);
  EXPECT_EQ(clientes[0].first, "idCliente");
  EXPECT_EQ(clientes[0].second, "ALTER TABLE ixcClientes ADD COLUMN idCliente INT");
  EXPECT_EQ(clientes[2].second,
            "ALTER TABLE ixcClientes ADD COLUMN razaoSocial SYMBOL capacity 1048576 CACHE index "
            "capacity 256");
  EXPECT_EQ(clientes[7].first, "statusCliente");  // table order, not the line order
  EXPECT_EQ(clientes[14].second, "ALTER TABLE ixcClientes ADD COLUMN timestamp TIMESTAMP");

  auto soma = colunas_tabela(kClientesSomaTable);
  ASSERT_EQ(soma.size(), 7u);
  EXPECT_EQ(soma[4].second, "ALTER TABLE ixcClientesSoma ADD COLUMN valorAtrasoInativo DOUBLE");
  EXPECT_EQ(soma[6].first, "timestamp");
}

class SchemaCheck : public ::testing::Test {
 protected:
  void SetUp() override { use_questdb(kAddress); }
  QuestDbStandin server{{kAddress, {9000}, {}}};
};

TEST_F(SchemaCheck, CurrentTablesPrintNothingAndStayAsTheyAre) {
  server.query(kCreateClientes);
  server.query(kCreateSoma);
  EXPECT_EQ(stdout_of([] { check_schema(kClientesTable); }), "");
  EXPECT_EQ(stdout_of([] { check_schema(kClientesSomaTable); }), "");
  EXPECT_EQ(column_names(server, "ixcClientes").size(), 15u);
  EXPECT_EQ(column_names(server, "ixcClientesSoma").size(), 7u);
}

TEST_F(SchemaCheck, ClientesWithFourteenColumnsGetsAllFifteenStatementsEachReplyPrinted) {
  // The table lacks `bairro`, the 13th column.
  std::string without_bairro = kCreateClientes;
  without_bairro.erase(without_bairro.find(" bairro SYMBOL capacity 4096 CACHE,"),
                       std::string(" bairro SYMBOL capacity 4096 CACHE,").size());
  ASSERT_EQ(server.query(without_bairro), json::parse(R"({"ddl":"OK"})"));

  auto lines = lines_of(stdout_of([] { check_schema(kClientesTable); }));
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], yellow(kOutdatedMessage));
  auto statements = colunas_tabela(kClientesTable);
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const std::string& line = lines[i + 1];
    if (statements[i].first == "bairro") {
      EXPECT_EQ(line, "{'ddl': 'OK'}");
    } else {
      // The refusal, as the reply held it, in Python's notation.
      EXPECT_EQ(line, "{'query': '" + statements[i].second + "', 'error': \"column '" +
                          statements[i].first + "' already exists\", 'position': 35}")
          << i;
    }
  }
  EXPECT_EQ(column_names(server, "ixcClientes").back(), "bairro");
}

TEST_F(SchemaCheck, SomaWithSixColumnsIsUpdatedWithoutPrintingReplies) {
  std::string without_timestamp_column =
      "CREATE TABLE 'ixcClientesSoma' (clientesAtrasoInativo INT, clientesAtrasoAtivo INT, "
      "titulosAtrasoInativo INT, titulosAtrasoAtivo INT, valorAtrasoInativo DOUBLE, "
      "valorAtrasoAtivo DOUBLE)";
  server.query(without_timestamp_column);
  EXPECT_EQ(stdout_of([] { check_schema(kClientesSomaTable); }), yellow(kOutdatedMessage) + "\n");
  auto names = column_names(server, "ixcClientesSoma");
  ASSERT_EQ(names.size(), 7u);
  EXPECT_EQ(names.back(), "timestamp");
}

TEST_F(SchemaCheck, AWiderTableIsCurrentEvenWhenItLacksAnExpectedColumn) {
  // 16 columns: `filial` is missing, two others are extra. Only the count decides.
  std::string wider = kCreateClientes;
  wider.replace(wider.find("filial SYMBOL capacity 512 CACHE"),
                std::string("filial SYMBOL capacity 512 CACHE").size(),
                "extraUm INT, extraDois INT");
  server.query(wider);
  ASSERT_EQ(column_names(server, "ixcClientes").size(), 16u);
  EXPECT_EQ(stdout_of([] { check_schema(kClientesTable); }), "");
  auto names = column_names(server, "ixcClientes");
  EXPECT_EQ(std::find(names.begin(), names.end(), "filial"), names.end());
}

TEST_F(SchemaCheck, MissingClientesIsCreatedAndTheReplyPrinted) {
  EXPECT_EQ(stdout_of([] { check_schema(kClientesTable); }),
            yellow("Tabela ixcClientes não encontrada, criando tabela!") + "\n{'ddl': 'OK'}\n");
  json listing = server.query("SHOW COLUMNS FROM ixcClientes");
  ASSERT_EQ(listing.at("dataset").size(), 15u);
  EXPECT_EQ(listing["dataset"][8][0], "dataCadastro");
  EXPECT_EQ(listing["dataset"][8][6], true);  // designated
  EXPECT_EQ(listing["dataset"][2][3], 256);   // razaoSocial's index capacity
}

TEST_F(SchemaCheck, MissingSomaIsCreatedWithoutPrintingTheReply) {
  EXPECT_EQ(stdout_of([] { check_schema(kClientesSomaTable); }),
            yellow("Tabela ixcClientesSoma não encontrada, criando tabela!") + "\n");
  json listing = server.query("SHOW COLUMNS FROM ixcClientesSoma");
  ASSERT_EQ(listing.at("dataset").size(), 7u);
  EXPECT_EQ(listing["dataset"][6][6], true);
}

TEST_F(SchemaCheck, EmptyingDropsAnyReplyAndLeavesTheTableEmpty) {
  EXPECT_EQ(stdout_of([] { empty_client_table(); }), "");  // the table does not exist yet
  server.query(kCreateClientes);
  server.write("ixcClientes idCliente=1i,dataCadastro=1700000000000000t 1\n");
  ASSERT_EQ(server.query("SELECT count() FROM ixcClientes")["dataset"][0][0], 1);
  EXPECT_EQ(stdout_of([] { empty_client_table(); }), "");
  EXPECT_EQ(server.query("SELECT count() FROM ixcClientes")["dataset"][0][0], 0);
}

TEST(SchemaCheckUnreachable, ClientWriterPrintsItsSixLinesAndFailsWithoutTouchingStderr) {
  use_questdb(kUnreachable);
  const std::string error = "Error: http://127.0.0.29:9000/exec: ";
  auto [out, err] = printed_by([] { EXPECT_THROW(sendQuestDB({ClientDbRecord{}}), QueryError); });
  EXPECT_EQ(err, "");
  auto lines = lines_of(out);
  ASSERT_EQ(lines.size(), 6u) << out;
  EXPECT_EQ(lines[0].rfind(error, 0), 0u) << lines[0];
  EXPECT_GT(lines[0].size(), error.size());  // curl's cause follows
  EXPECT_EQ(lines[1].rfind(error, 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], yellow("Tabela ixcClientes não encontrada, criando tabela!"));
  EXPECT_EQ(lines[3].rfind(error, 0), 0u) << lines[3];
  EXPECT_EQ(lines[4], "None");
  EXPECT_EQ(lines[5].rfind(error, 0), 0u) << lines[5];
  EXPECT_EQ(out.find("observarQZ"), std::string::npos);
}

TEST(SchemaCheckUnreachable, TotalsWriterPrintsFourLinesAndFails) {
  use_questdb(kUnreachable);
  std::string out = stdout_of([] { EXPECT_THROW(sendQuestDB_Soma({TotalsRecord{}}), QueryError); });
  auto lines = lines_of(out);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0].rfind("Error: ", 0), 0u);
  EXPECT_EQ(lines[1], yellow("Tabela ixcClientesSoma não encontrada, criando tabela!"));
  EXPECT_EQ(lines[2].rfind("Error: ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("Error: ", 0), 0u);
}

}  // namespace
}  // namespace ixc
