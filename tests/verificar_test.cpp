// The check job, `launch_verificar`, run as the real program against a real MariaDB server, the
// Zabbix trapper stand-in and the QuestDB stand-in: every line OK when all is well, and for each
// fault an operator meets, the FALHA line that names it while the other servers are still
// checked; what the job leaves behind (six totals, nothing stored); no secret in any output.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/check_erp.h"
#include "app/check_report.h"
#include "support/loopback_socket.h"
#include "support/mariadb_server.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/scratch_folder.h"
#include "support/storage_run.h"
#include "support/trapper_standin.h"
#include "tsdb/endpoints.h"

namespace ixc::test {
namespace {

constexpr const char* kQuestAddress = "127.0.0.61";
constexpr const char* kPskIdentity = "ixc-verificar";
constexpr const char* kPskKey = "0b1c2d3e4f5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0";
const std::vector<std::string> kTotalKeys = {
    "somaClientesAtrasoAtivo",   "somaTitulosAtrasoAtivo",   "somaValorAtrasoAtivo",
    "somaClientesAtrasoInativo", "somaTitulosAtrasoInativo", "somaValorAtrasoInativo"};

struct Line {
  std::string mark;  // OK, AVISO or FALHA
  std::string subject;
  std::string text;  // the whole line
};

// The check lines of the output; the summary and anything else are left out.
std::vector<Line> check_lines(const std::string& out) {
  std::vector<Line> lines;
  for (const std::string& text : lines_of(out)) {
    std::size_t blank = text.find(' ');
    std::size_t colon = text.find(": ");
    if (blank == std::string::npos || colon == std::string::npos) continue;
    std::string mark = text.substr(0, blank);
    if (mark != "OK" && mark != "AVISO" && mark != "FALHA") continue;
    std::size_t subject = text.find_first_not_of(' ', blank);
    lines.push_back({mark, text.substr(subject, colon - subject), text});
  }
  return lines;
}

struct Scenario {
  const char* name;
  // The fault, applied after a collection has filled QuestDB.
  bool wrong_password = false;
  const char* erp_sql = "";  // run as root in the scenario's ERP database
  bool only_full_group_by = false;
  std::vector<std::string> questdb_arguments = {};  // for the stand-in, from the start
  bool questdb_down = false;
  const char* questdb_sql = "";
  const char* trapper_fault = "none";
  bool psk = false;
  const char* zone = "";  // TZ of the program
  // Subject -> a piece of its line, for every line not marked OK.
  std::vector<std::pair<std::string, std::string>> failed = {};
  std::vector<std::pair<std::string, std::string>> warned = {};
};

struct CheckRun {
  ProgramRun program;
  std::vector<TrapperRecord> check_records;  // what the trapper received from the check alone
  std::string password;
};

CheckRun run_scenario(const Scenario& scenario, const std::string& database) {
  ErpParameters erp =
      erp_database(database, std::string(IXC_TESTS_DIR) + "/fixtures/collection/customers.sql");
  ScratchFolder keys;
  TrapperOptions trapper_options{.fault = "none"};
  std::vector<std::string> environment;
  if (scenario.psk) {
    std::string key_file = keys.write("zabbix.psk", std::string(kPskKey) + "\n");
    trapper_options.psk_identity = kPskIdentity;
    trapper_options.psk_file = key_file;
    environment = {"IXC_TEST_ZABBIX_TLS_CONNECT=psk",
                   std::string("IXC_TEST_ZABBIX_TLS_PSK_IDENTITY=") + kPskIdentity,
                   "IXC_TEST_ZABBIX_TLS_PSK_FILE=" + key_file};
  }
  // The collection needs a trapper that takes its values; the check gets the scenario's own.
  auto collection_trapper = std::make_unique<TrapperStandin>(trapper_options);
  QuestDbStandinOptions quest;
  quest.address = kQuestAddress;
  quest.extra_arguments = scenario.questdb_arguments;
  auto questdb = std::make_unique<QuestDbStandin>(quest);

  auto arguments = [&](const std::string& mode, const std::string& password) {
    return std::vector<std::string>{mode,          erp.host, erp.port,
                                    erp.user,      password, erp.database,
                                    kQuestAddress, "9000",   "provedor-verificar"};
  };
  ProgramOptions options;
  options.environment = environment;
  options.environment.push_back("IXC_TEST_ZABBIX_SERVER=" + collection_trapper->address());
  run_program(test_build_program_path(), arguments("descobertaClientes", erp.password), options);

  trapper_options.fault = scenario.trapper_fault;
  collection_trapper.reset();
  TrapperStandin trapper(trapper_options);
  if (*scenario.erp_sql) run_sql(scenario.erp_sql, erp.database);
  if (*scenario.questdb_sql) questdb->query(scenario.questdb_sql);
  if (scenario.questdb_down) questdb->stop();
  std::optional<std::string> saved_mode;
  if (scenario.only_full_group_by) {
    saved_mode = query_value("SELECT @@GLOBAL.sql_mode");
    run_sql("SET GLOBAL sql_mode = 'ONLY_FULL_GROUP_BY,STRICT_TRANS_TABLES'");
  }

  options.environment = environment;
  options.environment.push_back("IXC_TEST_ZABBIX_SERVER=" + trapper.address());
  if (*scenario.zone) options.environment.push_back(std::string("TZ=") + scenario.zone);
  std::string password = scenario.wrong_password ? "senha-errada-verificar" : erp.password;
  CheckRun run{
      run_program(test_build_program_path(), arguments("launch_verificar", password), options),
      trapper.records(), password};
  if (saved_mode) run_sql("SET GLOBAL sql_mode = '" + *saved_mode + "'");
  return run;
}

std::size_t row_count(const QuestDbStandin& questdb, const std::string& table) {
  auto reply = questdb.query("SELECT count() FROM " + table);
  return reply.contains("dataset") ? reply["dataset"][0][0].get<std::size_t>() : 0;
}

TEST(Verificar, AllWellIsEveryLineOkAndLeavesOnlySixTotalsBehind) {
  ErpParameters erp = erp_database(
      "verificar_tudo_bem", std::string(IXC_TESTS_DIR) + "/fixtures/collection/customers.sql");
  TrapperStandin trapper;
  QuestDbStandinOptions quest;
  quest.address = kQuestAddress;
  QuestDbStandin questdb(quest);
  ProgramOptions options;
  options.environment = {"IXC_TEST_ZABBIX_SERVER=" + trapper.address()};
  auto arguments = [&](const std::string& mode) {
    return std::vector<std::string>{mode,         erp.host,      erp.port, erp.user,  erp.password,
                                    erp.database, kQuestAddress, "9000",   "provedor"};
  };
  ASSERT_EQ(run_program(test_build_program_path(), arguments("descobertaClientes"), options).status,
            0);
  std::size_t collection_records = trapper.records().size();

  ProgramRun run = run_program(test_build_program_path(), arguments("launch_verificar"), options);
  std::vector<Line> lines = check_lines(run.out);
  std::vector<std::string> subjects;
  for (const Line& line : lines) {
    subjects.push_back(line.subject);
    EXPECT_EQ(line.mark, "OK") << line.text;
  }
  EXPECT_EQ(subjects, (std::vector<std::string>{"ERP conexão", "ERP tabelas", "ERP sql_mode",
                                                "ERP data", "ERP consulta", "Zabbix conexão",
                                                "Zabbix valores", "QuestDB /exec", "QuestDB versão",
                                                "QuestDB ixcClientes", "QuestDB ixcClientesSoma",
                                                "QuestDB /write", "QuestDB dados", "Estimativa"}));
  EXPECT_EQ(lines_of(run.out).back(), "Resumo: 14 verificações, 14 OK, 0 AVISO, 0 FALHA");
  EXPECT_EQ(lines_of(run.out).size(), 15u) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("6 clientes em atraso, 14 títulos"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Zabbix " + trapper.address()), std::string::npos) << run.out;

  // Of the check, the trapper saw empty probes and the six totals, as a collection computes them;
  // QuestDB still holds the collection's rows and nothing more.
  std::vector<TrapperRecord> records = trapper.records();
  std::vector<nlohmann::ordered_json> collected, checked;
  for (std::size_t i = 0; i < records.size(); ++i) {
    for (const auto& item : records[i].request["data"]) {
      (i < collection_records ? collected : checked).push_back(item);
    }
  }
  collected.resize(kTotalKeys.size());
  EXPECT_EQ(checked, collected);
  EXPECT_EQ(row_count(questdb, "ixcClientes"), 6u);
  EXPECT_EQ(row_count(questdb, "ixcClientesSoma"), 1u);
}

TEST(Verificar, EachFaultIsNamedInItsLineWhileTheOtherServersAreStillChecked) {
  // clang-format off
  std::vector<Scenario> scenarios = {
      {.name = "wrong ERP password", .wrong_password = true,
       .failed = {{"ERP conexão", "Access denied for user"}},
       .warned = {{"Zabbix valores", "sem as linhas do ERP"},
                  {"Estimativa", "sem a consulta do ERP"}}},
      {.name = "a column missing", .erp_sql = "ALTER TABLE fn_areceber DROP COLUMN valor_aberto",
       .failed = {{"ERP tabelas", "fn_areceber sem a coluna valor_aberto"},
                  {"ERP consulta", "valor_aberto"}},
       .warned = {{"Zabbix valores", "sem as linhas do ERP"}, {"Estimativa", "sem a consulta"}}},
      {.name = "ONLY_FULL_GROUP_BY", .only_full_group_by = true,
       .failed = {{"ERP sql_mode", "inclui ONLY_FULL_GROUP_BY"},
                  {"ERP consulta", "in GROUP BY"}},
       .warned = {{"Zabbix valores", "sem as linhas do ERP"}, {"Estimativa", "sem a consulta"}}},
      {.name = "ERP in another time zone", .zone = "Pacific/Kiritimati",
       .warned = {{"ERP data", "vencido é o que vence antes da data do servidor"}}},
      {.name = "Zabbix refusing an unknown host", .trapper_fault = "unknown",
       .failed = {{"Zabbix valores",
                   "o host 'provedor-verificar' recusou 6 de 6 totais (somaClientesAtrasoAtivo, "
                   "somaTitulosAtrasoAtivo, somaValorAtrasoAtivo, somaClientesAtrasoInativo, "
                   "somaTitulosAtrasoInativo, somaValorAtrasoInativo); causas prováveis: nenhum "
                   "host de nome 'provedor-verificar'"}}},
      {.name = "PSK", .psk = true},
      {.name = "QuestDB 9", .questdb_arguments = {"--server-version", "9"}},
      {.name = "QuestDB refusing the credentials",
       .questdb_arguments = {"--user", "admin", "--password", "quest"},
       .failed = {{"QuestDB /exec", "recusou o usuário 'kestrel' (HTTP 401): o QuestDB precisa de "
                                    "autenticação básica com http.user=kestrel"},
                  {"QuestDB /write", "recusou o usuário 'kestrel' (HTTP 401)"}}},
      {.name = "suspended WAL", .questdb_sql = "ALTER TABLE ixcClientes SUSPEND WAL",
       .failed = {{"QuestDB ixcClientes",
                   "WAL suspenso: o QuestDB aceita as linhas e não as aplica; corrija a causa e "
                   "retome com ALTER TABLE ixcClientes RESUME WAL"}}},
      {.name = "QuestDB down", .questdb_down = true,
       .failed = {{"QuestDB /exec", "Failed to connect to 127.0.0.61 port 9000"},
                  {"QuestDB /write", "Failed to connect to 127.0.0.61 port 9000"}}},
  };
  // clang-format on
  int number = 0;
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.name);
    CheckRun run = run_scenario(scenario, "verificar_" + std::to_string(++number));
    std::vector<Line> lines = check_lines(run.program.out);
    auto expect_marked = [&](const std::string& mark, const auto& expected) {
      std::vector<std::string> subjects;
      for (const Line& line : lines) {
        if (line.mark == mark) subjects.push_back(line.subject);
      }
      std::vector<std::string> wanted;
      for (const auto& [subject, piece] : expected) {
        wanted.push_back(subject);
        auto line = std::find_if(lines.begin(), lines.end(),
                                 [&](const Line& l) { return l.subject == subject; });
        ASSERT_NE(line, lines.end()) << subject << " missing:\n" << run.program.out;
        EXPECT_NE(line->text.find(piece), std::string::npos) << line->text;
      }
      EXPECT_EQ(subjects, wanted) << run.program.out;
    };
    expect_marked("FALHA", scenario.failed);
    expect_marked("AVISO", scenario.warned);

    // Whatever failed, the servers after it were checked and the job summed up.
    for (std::string subject : {"Zabbix conexão", "QuestDB /write", "Estimativa"}) {
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                              [&](const Line& l) { return l.subject == subject; }))
          << subject << ":\n"
          << run.program.out;
    }
    EXPECT_TRUE(lines_of(run.program.out).back().starts_with("Resumo: ")) << run.program.out;
    if (scenario.failed.empty()) {
      EXPECT_EQ(run.program.status, 0);
      EXPECT_EQ(run.program.err, "");
    } else {
      EXPECT_EQ(run.program.status, 1);
      EXPECT_TRUE(run.program.err.starts_with("ixc-atraso: launch_verificar: ")) << run.program.err;
      EXPECT_NE(run.program.err.find(scenario.failed.front().first), std::string::npos)
          << run.program.err;
    }
    for (const std::string& secret :
         {run.password, std::string(kPskKey).substr(0, 16), std::string(kQuestPassword)}) {
      EXPECT_EQ(run.program.out.find(secret), std::string::npos) << run.program.out;
      EXPECT_EQ(run.program.err.find(secret), std::string::npos) << run.program.err;
    }
    // No value but the six totals, and those only when the ERP gave the rows to compute them.
    for (const TrapperRecord& record : run.check_records) {
      for (const auto& item : record.request["data"]) {
        EXPECT_NE(std::find(kTotalKeys.begin(), kTotalKeys.end(), item["key"].get<std::string>()),
                  kTotalKeys.end())
            << item;
      }
    }
  }
}

// The tables check reads what the statement reads: a column added to it is checked with it.
TEST(Verificar, TheColumnsCheckedAreTheStatementsOwn) {
  std::vector<ReadColumns> read = statement_columns();
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[0].table, "cliente");
  EXPECT_EQ(read[0].columns,
            (std::vector<std::string>{"id", "razao", "cnpj_cpf", "telefone_celular", "ativo",
                                      "data_cadastro", "bairro", "cidade"}));
  EXPECT_EQ(read[1].table, "fn_areceber");
  EXPECT_EQ(read[1].columns.size(), 7u);
  EXPECT_EQ(read[2].table, "filial");
  EXPECT_EQ(read[3].table, "cidade");
  EXPECT_EQ(read[3].columns, (std::vector<std::string>{"nome", "id"}));
}

// A finding quotes what servers said (Zabbix's info, QuestDB's version and errors).
TEST(Verificar, AServerTextCannotForgeALineOrColourTheTerminal) {
  CheckReport kept;
  std::string forged = "9.2.3\nOK    Zabbix valores: tudo certo\x1b[2J" + std::string(1 << 20, 'y');
  std::string out = stdout_of([&] { report(kept, {Mark::ok, "QuestDB versão", forged}); });
  EXPECT_TRUE(
      out.starts_with("OK    QuestDB versão: 9.2.3\\nOK    Zabbix valores: tudo "
                      "certo\\x1b[2Jyyy"))
      << out.substr(0, 100);
  EXPECT_LT(out.size(), 2100u);
  EXPECT_EQ(std::count_if(out.begin(), out.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
            1);  // the line's own line feed
}

}  // namespace
}  // namespace ixc::test
