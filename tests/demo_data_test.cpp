// The demo data generator (tools/ixc_demo_data) that the demo and the benchmark rely on: it is
// deterministic, its two output forms load the same rows, the rows hold the cases the
// collector must handle, and a whole collection over them reports what SQL computes on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/mariadb_server.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/scratch_folder.h"
#include "support/trapper_standin.h"

namespace ixc::test {
namespace {

constexpr int kCustomers = 300;
constexpr const char* kQuestDbAddress = "127.0.0.40";

std::string generator_path() { return std::string(IXC_BIN_DIR) + "/ixc-demo-data"; }

ProgramRun generate(const std::vector<std::string>& args) {
  ProgramRun run = run_program(generator_path(), args);
  EXPECT_EQ(run.status, 0) << run.err;
  return run;
}

// An ERP database holding the generated customers of `seed`, loaded from the SQL form.
ErpParameters generated_erp(const std::string& name, int seed) {
  ScratchFolder folder;
  generate({"--customers", std::to_string(kCustomers), "--seed", std::to_string(seed), "--out",
            folder.path});
  return erp_database(name, folder.path + "/ixc-demo.sql");
}

std::string value(const std::string& sql, const std::string& database) {
  return query_value(sql, database).value_or("NULL");
}

// The check digits recomputed here, apart from the generator's own code.
bool valid_tax_number(std::string text) {
  std::erase_if(text, [](char c) { return c == '.' || c == '/' || c == '-'; });
  auto digit_ok = [&](std::size_t count, auto weight) {
    int sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += (text[i] - '0') * weight(i, count);
    int check = sum % 11 < 2 ? 0 : 11 - sum % 11;
    return text[count] - '0' == check;
  };
  if (text.size() == 11) {
    auto cpf = [](std::size_t i, std::size_t n) { return static_cast<int>(n + 1 - i); };
    return digit_ok(9, cpf) && digit_ok(10, cpf);
  }
  if (text.size() == 14) {
    auto cnpj = [](std::size_t i, std::size_t n) { return static_cast<int>(2 + (n - 1 - i) % 8); };
    return digit_ok(12, cnpj) && digit_ok(13, cnpj);
  }
  return false;
}

TEST(DemoData, TheSameSeedGivesTheSameRowsInEitherForm) {
  std::vector<std::string> args = {"--customers", "120", "--seed", "11"};
  ProgramRun first = generate(args);
  ProgramRun again = generate(args);
  EXPECT_GT(first.out.size(), 10000u);
  EXPECT_EQ(first.out, again.out);
  EXPECT_NE(generate({"--customers", "120", "--seed", "12"}).out, first.out);

  // The TSV form, loaded with LOAD DATA by the client, must give the very same tables.
  ScratchFolder folder;
  generate({"--customers", "120", "--seed", "11", "--format", "tsv", "--out", folder.path});
  erp_database("demo_sql");
  run_sql(first.out, "demo_sql");
  erp_database("demo_tsv");
  ProgramRun load =
      run_program("/usr/bin/mariadb",
                  {"--no-defaults", "--socket=" + mariadb_server().socket, "--user=root",
                   "--local-infile=1", "demo_tsv", "-e", "source " + folder.path + "/load.sql"});
  ASSERT_EQ(load.status, 0) << load.err;
  for (const char* table : {"cidade", "filial", "cliente", "fn_areceber"}) {
    std::string rows = std::string("SELECT COUNT(*) FROM ") + table;
    EXPECT_EQ(value(rows, "demo_sql"), value(rows, "demo_tsv")) << table;
  }
  std::string customers =
      "SELECT SUM(CRC32(CONCAT_WS('|', id, razao, fantasia, cnpj_cpf, telefone_celular, ativo, "
      "data_cadastro, bairro, cidade))) FROM cliente";
  std::string receivables =
      "SELECT SUM(CRC32(CONCAT_WS('|', id, id_cliente, id_contrato, filial_id, status, "
      "data_emissao, data_vencimento, valor, valor_aberto))) FROM fn_areceber";
  EXPECT_EQ(value(customers, "demo_sql"), value(customers, "demo_tsv"));
  EXPECT_EQ(value(receivables, "demo_sql"), value(receivables, "demo_tsv"));
}

TEST(DemoData, HoldsTheCasesTheCollectorMustHandle) {
  ErpParameters erp = generated_erp("demo_casos", 5);
  const std::string& db = erp.database;
  const std::string overdue =
      "status = 'A' AND data_vencimento < CURRENT_DATE() AND valor_aberto > 0 AND "
      "id_contrato IS NOT NULL";
  EXPECT_EQ(value("SELECT COUNT(DISTINCT id_cliente) FROM fn_areceber WHERE " + overdue, db),
            std::to_string(kCustomers));
  EXPECT_EQ(value("SELECT COUNT(*) FROM cliente WHERE id NOT IN (SELECT id_cliente FROM "
                  "fn_areceber WHERE " +
                      overdue + ")",
                  db),
            std::to_string(kCustomers / 10));

  // Each case at least once in a few hundred customers.
  std::map<std::string, std::string> cases = {
      {"inactive", "SELECT COUNT(*) FROM cliente WHERE BINARY ativo = 'N'"},
      {"NULL phone", "SELECT COUNT(*) FROM cliente WHERE telefone_celular IS NULL"},
      {"empty phone", "SELECT COUNT(*) FROM cliente WHERE telefone_celular = ''"},
      {"zero date", "SELECT COUNT(*) FROM cliente WHERE data_cadastro = '0000-00-00'"},
      {"apostrophe", "SELECT COUNT(*) FROM cliente WHERE razao LIKE '%''%'"},
      {"accent", "SELECT COUNT(*) FROM cliente WHERE razao <> CONVERT(razao USING ascii)"},
      {"company", "SELECT COUNT(*) FROM cliente WHERE tipo_pessoa = 'J'"},
      {"unknown city", "SELECT COUNT(*) FROM cliente WHERE cidade NOT IN (SELECT id FROM cidade)"},
      {"several cities", "SELECT COUNT(DISTINCT cidade) - 5 FROM cliente"},
      {"several branches", "SELECT COUNT(DISTINCT filial_id) - 2 FROM fn_areceber"},
      {"paid", "SELECT COUNT(*) FROM fn_areceber WHERE status = 'R'"},
      {"cancelled", "SELECT COUNT(*) FROM fn_areceber WHERE status = 'C'"},
      {"due today", "SELECT COUNT(*) FROM fn_areceber WHERE data_vencimento = CURRENT_DATE()"},
      {"not yet due", "SELECT COUNT(*) FROM fn_areceber WHERE data_vencimento > CURRENT_DATE()"},
      {"zero balance", "SELECT COUNT(*) FROM fn_areceber WHERE status = 'A' AND valor_aberto = 0"},
      {"NULL valor", "SELECT COUNT(*) FROM fn_areceber WHERE valor IS NULL"},
      {"no contract", "SELECT COUNT(*) FROM fn_areceber WHERE id_contrato IS NULL"},
      {"two contracts", "SELECT COUNT(*) FROM (SELECT id_cliente FROM fn_areceber WHERE " +
                            overdue +
                            " GROUP BY id_cliente HAVING COUNT(DISTINCT id_contrato) > 1) x"},
  };
  for (const auto& [name, sql] : cases) EXPECT_GT(std::stol(value(sql, db)), 0) << name;

  // Every tax number that is there has the right check digits.
  std::istringstream numbers(
      value("SELECT GROUP_CONCAT(cnpj_cpf SEPARATOR ' ') FROM cliente WHERE cnpj_cpf <> ''", db));
  int checked = 0;
  for (std::string number; numbers >> number; ++checked) {
    EXPECT_TRUE(valid_tax_number(number)) << number;
  }
  EXPECT_GT(checked, kCustomers);
}

// The default rows, byte for byte: the published figures were measured on them, so neither
// variation may move them. FNV-1a of the script for a fixed day, taken when the variations came.
TEST(DemoData, TheDefaultRowsStayWhatTheFiguresWereMeasuredOn) {
  std::vector<std::string> args = {"--customers", "120", "--seed", "11", "--today", "2026-01-05"};
  std::string clean = generate(args).out;
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : clean) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  EXPECT_EQ(clean.size(), 106278u);
  EXPECT_EQ(hash, 0x4604bc91bdb740ceULL);
  args.insert(args.end(), {"--state", "0"});
  EXPECT_EQ(generate(args).out, clean);
}

TEST(DemoData, RealisticTextsAreThereAtTheirShareAndLoad) {
  constexpr int kMany = 5000;
  ScratchFolder folder;
  generate(
      {"--customers", std::to_string(kMany), "--seed", "3", "--realistic", "--out", folder.path});
  // Strict mode: a name past the column's 150 characters would fail the load.
  ErpParameters erp = erp_database("demo_realista", folder.path + "/ixc-demo.sql");
  double customers = std::stod(value("SELECT COUNT(*) FROM cliente", erp.database));
  auto share = [&](const std::string& where) {
    return std::stod(value("SELECT COUNT(*) FROM cliente WHERE " + where, erp.database)) /
           customers;
  };
  // Without a CPF/CNPJ: the blank text or NULL, both there.
  EXPECT_NEAR(share("cnpj_cpf = '' OR cnpj_cpf IS NULL"), 0.01, 0.005);
  EXPECT_GT(share("cnpj_cpf IS NULL"), 0.002);
  EXPECT_GT(share("cnpj_cpf = ''"), 0.002);
  EXPECT_NEAR(share("telefone_celular IS NULL"), 0.09, 0.02);
  EXPECT_NEAR(share("razao LIKE CONCAT('%', CHAR(10), '%')"), 0.005, 0.003);
  EXPECT_NEAR(share("bairro LIKE CONCAT('%', CHAR(10), '%')"), 0.005, 0.003);
  EXPECT_NEAR(share("CHAR_LENGTH(razao) > 100"), 0.025, 0.01);
  EXPECT_GT(share("BINARY razao = BINARY UPPER(razao) AND razao <> CONVERT(razao USING ascii)"),
            0.0);
  // Only the texts differ: the same customers owe the same.
  EXPECT_EQ(value("SELECT COUNT(DISTINCT id_cliente) FROM fn_areceber WHERE status = 'A' AND "
                  "data_vencimento < CURRENT_DATE() AND valor_aberto > 0 AND id_contrato IS NOT "
                  "NULL",
                  erp.database),
            std::to_string(kMany));
}

// What the collector would list from TSV rows: open amount in cents and titles per customer.
using OverdueList = std::map<std::string, std::pair<long, int>>;
OverdueList overdue_list(const std::string& folder) {
  OverdueList list;
  std::ifstream rows(folder + "/fn_areceber.tsv");
  for (std::string line; std::getline(rows, line);) {
    std::vector<std::string> cell;
    std::istringstream cells(line);
    for (std::string text; std::getline(cells, text, '\t');) cell.push_back(text);
    // id, id_cliente, id_contrato, filial_id, documento, status, valor, valor_aberto,
    // valor_recebido, then the issue and due days from the load day
    long open = std::lround(std::stod(cell.at(7)) * 100);
    if (cell.at(5) != "A" || open <= 0 || cell.at(2) == "\\N" || std::stoi(cell.at(10)) >= 0)
      continue;
    auto& [amount, titles] = list[cell.at(1)];
    amount += open;
    titles += cell.at(6) != "\\N";
  }
  return list;
}

struct Difference {
  int left = 0, appeared = 0, changed = 0;
};
Difference difference(const OverdueList& before, const OverdueList& after) {
  Difference d;
  for (const auto& [id, owed] : before) {
    auto now = after.find(id);
    if (now == after.end()) {
      ++d.left;
    } else if (now->second != owed) {
      ++d.changed;
    }
  }
  for (const auto& [id, owed] : after) d.appeared += !before.contains(id);
  return d;
}

TEST(DemoData, ALaterStateIsTheSameErpRunsLater) {
  constexpr int kMany = 10000;
  ScratchFolder folder;
  std::map<int, OverdueList> lists;
  for (int state : {0, 1, 120, 132, 288}) {
    std::string out = folder.path + "/" + std::to_string(state);
    generate({"--customers", std::to_string(kMany), "--seed", "21", "--state",
              std::to_string(state), "--format", "tsv", "--out", out});
    lists[state] = overdue_list(out);
  }
  ASSERT_EQ(lists[0].size(), static_cast<std::size_t>(kMany));
  // Midnight: the day's bills fall due; new customers appear, some owe one bill more.
  Difference midnight = difference(lists[0], lists[1]);
  EXPECT_NEAR(midnight.appeared, kMany * 0.015, kMany * 0.006);
  EXPECT_NEAR(midnight.changed, kMany * 0.06, kMany * 0.02);
  EXPECT_LE(midnight.left, 2);
  // From 09:55 to 10:55: a few dozen pay, nobody new.
  Difference morning = difference(lists[120], lists[132]);
  EXPECT_EQ(morning.appeared, 0);
  EXPECT_GE(morning.left + morning.changed, 8);
  EXPECT_LE(morning.left + morning.changed, 60);
  // The whole day (to 23:55): about 3 % paid everything, 0.5 % one of several bills.
  Difference day = difference(lists[1], lists[288]);
  EXPECT_EQ(day.appeared, 0);
  EXPECT_NEAR(day.left, lists[1].size() * 0.03, lists[1].size() * 0.01);
  EXPECT_NEAR(day.changed, lists[1].size() * 0.005, lists[1].size() * 0.004);
  // Paid stays paid: nobody who left by 10:55 owes again.
  for (const auto& [id, owed] : lists[288]) EXPECT_TRUE(lists[132].contains(id)) << id;

  std::vector<std::string> args = {"--customers", "300", "--seed", "21", "--state", "132"};
  EXPECT_EQ(generate(args).out, generate(args).out);
}

std::map<std::string, std::string> last_values(const TrapperStandin& trapper, int& customer_items) {
  std::map<std::string, std::string> values;
  customer_items = 0;
  for (const TrapperRecord& record : trapper.records()) {
    for (const auto& item : record.request["data"]) {
      std::string key = item["key"].get<std::string>();
      if (key.starts_with("valorAtraso[") || key.starts_with("titulosAtraso[")) ++customer_items;
      values[key] = item["value"].get<std::string>();
    }
  }
  return values;
}

TEST(DemoData, ACollectionSendsTheTotalsThatSqlComputes) {
  ErpParameters erp = generated_erp("demo_coleta", 9);
  TrapperStandin trapper;
  QuestDbStandinOptions questdb_options;
  questdb_options.address = kQuestDbAddress;
  QuestDbStandin questdb(questdb_options);
  ProgramOptions options;
  options.environment = {"IXC_TEST_ZABBIX_SERVER=" + trapper.address()};
  ProgramRun run = run_program(test_build_program_path(),
                               {"descobertaClientes", erp.host, erp.port, erp.user, erp.password,
                                erp.database, kQuestDbAddress, "9000", "provedor-demo"},
                               options);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.out.ends_with("OK\n")) << run.out;

  // Per class, straight from the receivables: no grouping per customer, no join with branches.
  auto sql_total = [&](const std::string& what, bool active) {
    return value("SELECT " + what +
                     " FROM fn_areceber r JOIN cliente c ON c.id = r.id_cliente "
                     "WHERE r.status = 'A' AND r.data_vencimento < CURRENT_DATE() AND "
                     "r.valor_aberto > 0 AND r.id_contrato IS NOT NULL AND " +
                     std::string(active ? "NOT " : "") + "(BINARY c.ativo = 'N')",
                 erp.database);
  };
  int customer_items = 0;
  std::map<std::string, std::string> sent = last_values(trapper, customer_items);
  for (bool active : {true, false}) {
    std::string suffix = active ? "Ativo" : "Inativo";
    SCOPED_TRACE(suffix);
    EXPECT_EQ(sent["somaClientesAtraso" + suffix], sql_total("COUNT(DISTINCT c.id)", active));
    EXPECT_EQ(sent["somaTitulosAtraso" + suffix], sql_total("COUNT(r.valor)", active));
    EXPECT_NEAR(std::stod(sent["somaValorAtraso" + suffix]),
                std::stod(sql_total("SUM(r.valor_aberto)", active)), 0.001);
  }
  EXPECT_EQ(customer_items, 2 * kCustomers);
  auto document = nlohmann::json::parse(sent["descobertaClientes"]);
  EXPECT_EQ(document["data"].size(), static_cast<std::size_t>(kCustomers));

  EXPECT_EQ(questdb.query("SELECT count() FROM ixcClientes")["dataset"][0][0], kCustomers);
  nlohmann::json soma = questdb.query("SELECT * FROM ixcClientesSoma");
  ASSERT_EQ(soma["dataset"].size(), 1u);
  std::map<std::string, nlohmann::json> row;
  for (std::size_t i = 0; i < soma["columns"].size(); ++i) {
    row[soma["columns"][i]["name"]] = soma["dataset"][0][i];
  }
  EXPECT_EQ(std::to_string(row["clientesAtrasoAtivo"].get<long>()),
            sent["somaClientesAtrasoAtivo"]);
  EXPECT_EQ(std::to_string(row["titulosAtrasoInativo"].get<long>()),
            sent["somaTitulosAtrasoInativo"]);
  EXPECT_NEAR(row["valorAtrasoAtivo"].get<double>(), std::stod(sent["somaValorAtrasoAtivo"]),
              0.001);
}

}  // namespace
}  // namespace ixc::test
