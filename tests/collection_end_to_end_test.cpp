// Whole collections with the real program against a real MariaDB server, the Zabbix trapper
// stand-in and the QuestDB stand-in: what the console shows, the exit status, and what each
// server received.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/console.h"
#include "support/mariadb_server.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/trapper_standin.h"

namespace ixc::test {
namespace {

constexpr const char* kQuestDbAddress = "127.0.0.30";

QuestDbStandinOptions questdb_options() {
  QuestDbStandinOptions options;
  options.address = kQuestDbAddress;
  return options;
}

std::string golden(const std::string& name) {
  return read_file(std::string(IXC_TESTS_DIR) + "/fixtures/discovery/" + name);
}

std::string collection_data() {
  return std::string(IXC_TESTS_DIR) + "/fixtures/collection/customers.sql";
}

struct Collection {
  ErpParameters erp;
  ProgramRun run(const std::string& zabbix_host, const std::string& zabbix_server,
                 const std::string& quest_db_port = "9000") const {
    ProgramOptions options;
    options.environment = {"IXC_TEST_ZABBIX_SERVER=" + zabbix_server};
    return run_program(test_build_program_path(),
                       {"descobertaClientes", erp.host, erp.port, erp.user, erp.password,
                        erp.database, kQuestDbAddress, quest_db_port, zabbix_host},
                       options);
  }
};

std::vector<std::pair<std::string, std::string>> sent_values(const TrapperStandin& trapper) {
  std::vector<std::pair<std::string, std::string>> values;
  for (const TrapperRecord& record : trapper.records()) {
    for (const auto& item : record.request["data"]) {
      values.emplace_back(item["key"].get<std::string>(), item["value"].get<std::string>());
    }
  }
  return values;
}

std::size_t row_count(const QuestDbStandin& questdb, const std::string& table) {
  auto reply = questdb.query("SELECT * FROM " + table);
  return reply.contains("dataset") ? reply["dataset"].size() : 0;
}

std::string yellow(const std::string& text) {
  return std::string(YELLOW) + text + std::string(RESET) + "\n";
}

TEST(Collection, DebugRunPrintsTheReportAndSendsAndStoresNothing) {
  Collection collection{erp_database("colecao_debug", collection_data())};
  TrapperStandin trapper;
  QuestDbStandin questdb(questdb_options());
  ProgramRun run = collection.run("debug", trapper.address());
  EXPECT_EQ(run.out, golden("report.txt"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(trapper.records().empty());
  EXPECT_FALSE(questdb.query("SHOW COLUMNS FROM ixcClientes").contains("dataset"));
}

TEST(Collection, NormalRunDeliversEveryValueInOrderThenStoresAndPrintsOK) {
  Collection collection{erp_database("colecao_normal", collection_data())};
  TrapperStandin trapper;
  QuestDbStandin questdb(questdb_options());

  // "Debug" in another letter case is an ordinary host name.
  ProgramRun first = collection.run("Debug", trapper.address());
  EXPECT_EQ(first.out,
            yellow("Tabela ixcClientes não encontrada, criando tabela!") + "{'ddl': 'OK'}\n" +
                yellow("Tabela ixcClientesSoma não encontrada, criando tabela!") + "OK\n");
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.status, 0);

  std::vector<std::pair<std::string, std::string>> expected = {
      {"somaClientesAtrasoAtivo", "4"},
      {"somaTitulosAtrasoAtivo", "6"},
      {"somaValorAtrasoAtivo", "1000190.2"},
      {"somaClientesAtrasoInativo", "2"},
      {"somaTitulosAtrasoInativo", "8"},
      {"somaValorAtrasoInativo", "1384.56"},
      {"descobertaClientes", golden("document.json")},
      {"valorAtraso[1017]", "189.9"},
      {"titulosAtraso[1017]", "2"},
      {"valorAtraso[2002]", "150.0"},
      {"titulosAtraso[2002]", "1"},
      {"valorAtraso[2003]", "0.1"},
      {"titulosAtraso[2003]", "1"},
      {"valorAtraso[2004]", "0.2"},
      {"titulosAtraso[2004]", "3"},
      {"valorAtraso[2005]", "1000000.0"},
      {"titulosAtraso[2005]", "0"},
      {"valorAtraso[2006]", "1234.56"},
      {"titulosAtraso[2006]", "7"},
  };
  EXPECT_EQ(sent_values(trapper), expected);
  for (const TrapperRecord& record : trapper.records()) {
    EXPECT_EQ(record.request["data"][0]["host"], "Debug");
  }
  EXPECT_EQ(row_count(questdb, "ixcClientes"), 6u);
  EXPECT_EQ(row_count(questdb, "ixcClientesSoma"), 1u);

  // The tables exist now: a second run prints only "OK", replaces the snapshot and adds a
  // second totals row.
  ProgramRun second = collection.run("Debug", trapper.address());
  EXPECT_EQ(second.out, "OK\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(sent_values(trapper).size(), 2 * expected.size());
  EXPECT_EQ(row_count(questdb, "ixcClientes"), 6u);
  EXPECT_EQ(row_count(questdb, "ixcClientesSoma"), 2u);
}

// Past one request the snapshot goes in several; a cut inside a quoted text (whose line feeds
// are written raw) would have the whole request refused, as the real server refuses it.
TEST(Collection, ASnapshotPastOneRequestWithLineFeedsInItsTextsStoresEveryRow) {
  Collection collection{erp_database("colecao_grande")};
  // About 90 KB a line: 900 customers take some 80 MB, past the 64 MiB of one request.
  run_sql(R"(
      CREATE TABLE numeros (seq INT PRIMARY KEY);
      INSERT INTO numeros
        WITH RECURSIVE n (seq) AS (SELECT 1 UNION ALL SELECT seq + 1 FROM n WHERE seq < 900)
        SELECT seq FROM n;
      ALTER TABLE cidade MODIFY nome TEXT NOT NULL;
      ALTER TABLE filial MODIFY razao TEXT NOT NULL;
      ALTER TABLE cliente MODIFY bairro TEXT NULL;
      INSERT INTO cidade (id, nome) VALUES (1, REPEAT('Juazeiro\ndo Norte ', 2000));
      INSERT INTO filial (id, razao) VALUES (1, REPEAT('Sertão\nNet ', 2000));
      INSERT INTO cliente (id, razao, cnpj_cpf, ativo, data_cadastro, bairro, cidade)
        SELECT seq, CONCAT('Cliente\n', seq), '', 'S', '2020-01-01', REPEAT('Centro\n', 3000), 1
        FROM numeros;
      INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor,
                               valor_aberto)
        SELECT seq, seq, 1, 'A', CURRENT_DATE() - INTERVAL 3 DAY, 10.00, 10.00 FROM numeros;
    )",
          "colecao_grande");
  TrapperStandin trapper;
  QuestDbStandin questdb(questdb_options());
  ProgramRun run = collection.run("provedor", trapper.address());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with("OK\n")) << run.out;
  EXPECT_EQ(row_count(questdb, "ixcClientes"), 900u);
  EXPECT_EQ(row_count(questdb, "ixcClientesSoma"), 1u);
}

TEST(Collection, AnEmptyErpSendsSevenValuesWithIntegerZeroTotals) {
  Collection collection{erp_database("colecao_vazia")};
  TrapperStandin trapper;
  // Against QuestDB 9, which refuses what 8 took in the totals line, the row lands all the same.
  QuestDbStandinOptions questdb9 = questdb_options();
  questdb9.extra_arguments = {"--server-version", "9"};
  QuestDbStandin questdb(questdb9);
  ProgramRun run = collection.run("provedor", trapper.address());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out.ends_with("OK\n")) << run.out;
  std::vector<std::pair<std::string, std::string>> expected = {
      {"somaClientesAtrasoAtivo", "0"},
      {"somaTitulosAtrasoAtivo", "0"},
      {"somaValorAtrasoAtivo", "0"},
      {"somaClientesAtrasoInativo", "0"},
      {"somaTitulosAtrasoInativo", "0"},
      {"somaValorAtrasoInativo", "0"},
      {"descobertaClientes", "{\"data\": []}"},
  };
  EXPECT_EQ(sent_values(trapper), expected);
  EXPECT_EQ(row_count(questdb, "ixcClientes"), 0u);
  EXPECT_EQ(row_count(questdb, "ixcClientesSoma"), 1u);
}

TEST(Collection, ASendThatFailsEndsTheRunBeforeAnythingIsStored) {
  Collection collection{erp_database("colecao_falha", collection_data())};
  TrapperStandin trapper({.fault = "close"});
  QuestDbStandin questdb(questdb_options());
  ProgramRun run = collection.run("provedor", trapper.address());
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(trapper.address()), std::string::npos) << run.err;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(trapper.records().size(), 1u);  // the first total, then the run stopped
  EXPECT_FALSE(questdb.query("SHOW COLUMNS FROM ixcClientes").contains("dataset"));
}

TEST(Collection, RequiredTlsAgainstAnErpWithoutItEndsTheRunBeforeAnythingIsSent) {
  // From 11.4 a stock server offers TLS with a certificate it makes: this one is told not to.
  // The run ends right after the login, so the server's own schema serves as the ERP.
  ExtraMariaDbServer server({"--skip-ssl"});
  ErpParameters erp = server.erp_parameters("mysql");
  TrapperStandin trapper;
  QuestDbStandin questdb(questdb_options());
  ProgramOptions options;
  options.environment = {"IXC_TEST_ZABBIX_SERVER=" + trapper.address(),
                         "IXC_TEST_ERP_TLS=required"};
  ProgramRun run = run_program(test_build_program_path(),
                               {"descobertaClientes", erp.host, erp.port, erp.user, erp.password,
                                erp.database, kQuestDbAddress, "9000", "provedor"},
                               options);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ixc-atraso: " + test::erp_server_kind() + " 127.0.0.1:" + erp.port +
                         ": TLS exigido (IXC_ERP_TLS=required), mas o servidor não oferece TLS\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(trapper.records().empty());
  EXPECT_FALSE(questdb.query("SHOW COLUMNS FROM ixcClientes").contains("dataset"));
}

TEST(Collection, AFailedReplyIsNotExaminedAndTheRunGoesOn) {
  Collection collection{erp_database("colecao_recusa", collection_data())};
  TrapperStandin trapper({.fault = "unknown"});
  QuestDbStandin questdb(questdb_options());
  ProgramRun run = collection.run("host-desconhecido", trapper.address());
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with("OK\n"));
  EXPECT_EQ(trapper.records().size(), 19u);
}

}  // namespace
}  // namespace ixc::test
