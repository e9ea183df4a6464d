// What clerks and old imports leave in an ERP, read by whole runs of the real program through a
// throwaway MariaDB: texts of 64 KiB, control characters, amounts at the edge of the ERP's
// column and beyond it, negative amounts, NULLs where IXC declares none, and dates that do not
// exist. Each either renders exactly (debug report, discovery document, item values, stored
// row) or ends the run with the aggregation's error naming the customer, before anything goes
// out.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/mariadb_server.h"
#include "support/program_run.h"
#include "support/questdb_standin.h"
#include "support/trapper_standin.h"

namespace ixc::test {
namespace {

using nlohmann::json;

constexpr const char* kQuestAddress = "127.0.0.52";

// A SQL expression for the exact bytes of `text`, whatever they hold.
std::string sql_text(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : text) {
    hex.push_back(kHex[c >> 4]);
    hex.push_back(kHex[c & 0x0f]);
  }
  return "CONVERT(UNHEX('" + hex + "') USING utf8mb4)";
}

std::string repeated(const std::string& piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

const std::string kLongName = repeated("Provedor Sertão ", 4096).substr(0, 65536);
const std::string kControls = std::string("Tab\tNUL") + '\0' +
                              "BEL\aESC\x1b"
                              "DEL\x7f"
                              "ZWSP\u200bLS\u2028";
const std::string kLongContact = repeated("🍇", 16384);  // 64 KiB of four-byte characters

struct ErpRun {
  ErpParameters erp;
  ProgramRun program(const std::string& zabbix_host, const std::string& zabbix_server) const {
    ProgramOptions options;
    options.environment = {"IXC_TEST_ZABBIX_SERVER=" + zabbix_server};
    return run_program(test_build_program_path(),
                       {"descobertaClientes", erp.host, erp.port, erp.user, erp.password,
                        erp.database, kQuestAddress, "9000", zabbix_host},
                       options);
  }
};

// The columns that IXC declares narrower or NOT NULL, opened up as old imports leave them.
const std::string kLoosened =
    "ALTER TABLE cliente MODIFY razao MEDIUMTEXT NULL, MODIFY cnpj_cpf VARCHAR(20) NULL,"
    " MODIFY telefone_celular MEDIUMTEXT NULL, MODIFY ativo CHAR(1) NULL,"
    " MODIFY data_cadastro DATE NULL;"
    "ALTER TABLE fn_areceber MODIFY valor_aberto DECIMAL(40, 2) NOT NULL DEFAULT 0;"
    "INSERT INTO cidade (id, nome) VALUES (1, 'Fortaleza');"
    "INSERT INTO filial (id, razao) VALUES (1, 'Matriz');";

// One receivable of `customer`, due `days` ago (distinct days fix the server's order).
std::string receivable(int customer, int days, const std::string& amount) {
  return "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento,"
         " valor, valor_aberto) VALUES (" +
         std::to_string(customer) + ", " + std::to_string(customer + 10000) +
         ", 1, 'A', CURRENT_DATE() - INTERVAL " + std::to_string(days) + " DAY, 1.00, " + amount +
         ");";
}

ErpRun renderable_erp() {
  ErpParameters erp = erp_database("dados_ruins");
  run_sql(kLoosened, erp.database);
  run_sql(
      "INSERT INTO cliente (id, razao, cnpj_cpf, telefone_celular, ativo, data_cadastro,"
      " bairro, cidade) VALUES"
      " (4001, " +
          sql_text(kLongName) + ", '1', '(85) 1', 'S', '2020-01-01', 'Centro', 1)," + " (4002, " +
          sql_text(kControls) + ", '2', " + sql_text(kLongContact) +
          ", 'S', '2020-01-02', 'Centro', 1),"
          " (4003, 'Grande', '3', '3', 'N', '2020-01-03', 'Centro', 1),"
          " (4004, 'Com estorno', '4', '4', 'S', '2020-01-04', 'Centro', 1),"
          " (4005, 'Só estorno', '5', '5', 'S', '2020-01-05', 'Centro', 1),"
          " (4006, NULL, NULL, NULL, NULL, NULL, NULL, 99),"
          " (4007, 'Além da coluna', '7', '7', 'S', '2020-01-07', 'Centro', 1),"
          " (4008, 'Vence em 29/02/2023', '8', '8', 'S', '2020-01-08', 'Centro', 1);",
      erp.database);
  std::string receivables = receivable(4001, 1, "10.00") + receivable(4002, 2, "20.00");
  for (int i = 0; i < 4; ++i) receivables += receivable(4003, 3, "99999999.99");
  receivables += receivable(4004, 4, "-50.00") + receivable(4004, 4, "30.00");
  receivables += receivable(4005, 5, "-5.00") + receivable(4006, 6, "40.00");
  receivables += receivable(4007, 7, "12345678901234567890123456789.12");
  // A due date that does not exist: the grouped statement hands it over as the zero date.
  receivables += "SET SESSION sql_mode = 'ALLOW_INVALID_DATES';" + receivable(4008, 8, "1.00");
  receivables += "UPDATE fn_areceber SET data_vencimento = '2023-02-29' WHERE id_cliente = 4008;";
  run_sql(receivables, erp.database);
  return {erp};
}

const ErpRun& erp() {
  static ErpRun run = renderable_erp();
  return run;
}

// The rows of ixcClientes as objects keyed by column name, by customer.
std::map<std::int64_t, json> stored_rows(const QuestDbStandin& questdb) {
  json rows = questdb.query("SELECT * FROM ixcClientes");
  std::map<std::int64_t, json> by_id;
  for (const json& values : rows.at("dataset")) {
    json row = json::object();
    for (std::size_t i = 0; i < values.size(); ++i) row[rows["columns"][i]["name"]] = values[i];
    by_id[row["idCliente"].get<std::int64_t>()] = row;
  }
  return by_id;
}

std::string record_line(int id, const std::string& name, const std::string& cpf, int status,
                        const std::string& contact, const std::string& value, int titles) {
  return "{'{#ID_CLIENTE}': " + std::to_string(id) + ", '{#RAZAO_SOCIAL}': " + name +
         ", '{#CPF_CNPJ}': " + cpf + ", '{#STATUS_CLIENTE}': " + std::to_string(status) +
         ", '{#CONTATO_CLIENTE}': " + contact + ", '{#VALOR_ATRASO}': " + value +
         ", '{#TITULOS_ATRASO}': " + std::to_string(titles) + "}";
}

TEST(BadErpData, TheDebugReportShowsEachValueInPythonsNotation) {
  ProgramRun run = erp().program("debug", "127.0.0.1:9");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  std::vector<std::string> lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 23u) << run.out.substr(0, 2000);
  std::vector<std::string> records(lines.begin() + 6, lines.begin() + 13);
  std::vector<std::string> expected = {
      record_line(4001, "'" + kLongName + "'", "'1'", 1, "'(85) 1'", "10.0", 1),
      record_line(4002, "'Tab\\tNUL\\x00BEL\\x07ESC\\x1bDEL\\x7fZWSP\\u200bLS\\u2028'", "'2'", 1,
                  "'" + kLongContact + "'", "20.0", 1),
      record_line(4003, "'Grande'", "'3'", 0, "'3'", "399999999.96", 4),
      record_line(4004, "'Com estorno'", "'4'", 1, "'4'", "30.0", 1),
      record_line(4006, "None", "None", 1, "'N/A'", "40.0", 1),
      record_line(4007, "'Além da coluna'", "'7'", 1, "'7'", "1.2345678901234568e+28", 1),
      record_line(4008, "'Vence em 29/02/2023'", "'8'", 1, "'8'", "1.0", 1),
  };
  EXPECT_EQ(records, expected);
  EXPECT_EQ(lines[17],
            "Valor total em dívida dos clientes ativos:           1.2345678901234568e+28");
  EXPECT_EQ(lines[22], "Valor total em dívida dos clientes inativos:         399999999.96");
}

TEST(BadErpData, TheDocumentTheItemsAndTheStoredRowsCarryEachValueExactly) {
  TrapperStandin trapper;
  QuestDbStandin questdb({.address = kQuestAddress, .ports = {9000}, .extra_arguments = {}});
  ProgramRun run = erp().program("provedor", trapper.address());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with("\nOK\n")) << run.out.substr(0, 2000);

  std::vector<std::pair<std::string, std::string>> items;
  for (const TrapperRecord& record : trapper.records()) {
    for (const auto& item : record.request["data"]) {
      items.emplace_back(item["key"].get<std::string>(), item["value"].get<std::string>());
    }
  }
  ASSERT_EQ(items.size(), 21u);
  EXPECT_EQ(items[2], std::make_pair(std::string("somaValorAtrasoAtivo"),
                                     std::string("1.2345678901234568e+28")));
  EXPECT_EQ(items[5],
            std::make_pair(std::string("somaValorAtrasoInativo"), std::string("399999999.96")));
  EXPECT_EQ(items[17], std::make_pair(std::string("valorAtraso[4007]"),
                                      std::string("1.2345678901234568e+28")));

  const std::string& document = items[6].second;
  for (unsigned char c : document) ASSERT_LT(c, 0x80) << "the document is not pure ASCII";
  EXPECT_NE(document.find(R"("Tab\tNUL\u0000BEL\u0007ESC\u001bDEL\u007fZWSP\u200bLS\u2028")"),
            std::string::npos);
  EXPECT_NE(document.find("\"" + repeated(R"(\ud83c\udf47)", 16384) + "\""), std::string::npos);
  json data = json::parse(document)["data"];
  ASSERT_EQ(data.size(), 7u);
  EXPECT_EQ(data[0]["{#RAZAO_SOCIAL}"], kLongName);
  EXPECT_EQ(data[1]["{#RAZAO_SOCIAL}"], kControls);
  EXPECT_EQ(data[1]["{#CONTATO_CLIENTE}"], kLongContact);
  EXPECT_TRUE(data[4]["{#RAZAO_SOCIAL}"].is_null());
  EXPECT_EQ(data[4]["{#CONTATO_CLIENTE}"], "N/A");

  std::map<std::int64_t, json> by_id = stored_rows(questdb);
  ASSERT_EQ(by_id.size(), 7u);
  EXPECT_EQ(by_id[4001]["razaoSocial"], kLongName);
  EXPECT_EQ(by_id[4002]["razaoSocial"], kControls);
  EXPECT_EQ(by_id[4002]["contatoCliente"], kLongContact);
  EXPECT_EQ(by_id[4003]["valorAtraso"], 399999999.96);
  EXPECT_EQ(by_id[4004]["valorAtraso"], 30.0);
  EXPECT_EQ(by_id[4007]["valorAtraso"], 1.2345678901234568e+28);
  for (const char* column : {"razaoSocial", "cpfCnpj", "contatoCliente", "bairro", "cidade"}) {
    EXPECT_TRUE(by_id[4006][column].is_null()) << column;
  }
  EXPECT_EQ(by_id[4006]["statusCliente"], 1);
  // A line without the designated timestamp takes the line's own.
  EXPECT_TRUE(by_id[4006]["dataCadastro"].is_string());
  EXPECT_TRUE(by_id[4008]["dataVencimento"].is_null());
}

// What the server keeps with a zero month or day (and, under ALLOW_INVALID_DATES, a day past
// the month's end) stands for a date the ERP does not know: the run delivers every customer.
TEST(BadErpData, DatesThatAreNoCalendarDayReadAsNullAndEveryCustomerIsDelivered) {
  ErpParameters database = erp_database("data_sem_dia");
  run_sql(
      "ALTER TABLE fn_areceber MODIFY data_vencimento DATETIME NOT NULL;"
      "SET SESSION sql_mode = 'ALLOW_INVALID_DATES';"
      "INSERT INTO cliente (id, razao, cnpj_cpf, ativo, data_cadastro) VALUES"
      " (4101, 'Mês zero', '1', 'S', '2019-00-10'), (4102, 'Dia zero', '2', 'S', '2019-05-00'),"
      " (4103, 'Fim de mês', '3', 'S', '2024-02-30'), (4104, 'Comum', '4', 'S', '2020-06-15');" +
          receivable(4101, 1, "1.00") + receivable(4102, 2, "2.00") + receivable(4103, 3, "3.00") +
          receivable(4104, 4, "4.00") +
          "UPDATE fn_areceber SET data_vencimento = '2019-05-00 10:00:00' WHERE id_cliente = "
          "4102;"
          "UPDATE fn_areceber SET data_vencimento = '2019-00-10' WHERE id_cliente = 4104;",
      database.database);
  TrapperStandin trapper;
  QuestDbStandin questdb({.address = kQuestAddress, .ports = {9000}, .extra_arguments = {}});
  ProgramRun run = ErpRun{database}.program("provedor", trapper.address());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.ends_with("\nOK\n")) << run.out;

  std::map<std::string, std::string> items;
  for (const TrapperRecord& record : trapper.records()) {
    for (const auto& item : record.request["data"]) items[item["key"]] = item["value"];
  }
  for (int id = 4101; id <= 4104; ++id) {
    EXPECT_EQ(items["valorAtraso[" + std::to_string(id) + "]"], std::to_string(id - 4100) + ".0");
  }

  std::map<std::int64_t, json> by_id = stored_rows(questdb);
  ASSERT_EQ(by_id.size(), 4u);
  // Without a registration date the row takes its line's timestamp, the time of the run.
  for (int id : {4101, 4102, 4103})
    EXPECT_GE(by_id[id]["dataCadastro"].get<std::string>(), "2026") << id;
  EXPECT_EQ(by_id[4104]["dataCadastro"].get<std::string>().substr(0, 9), "2020-06-1");
  EXPECT_TRUE(by_id[4102]["dataVencimento"].is_null());
  EXPECT_TRUE(by_id[4104]["dataVencimento"].is_null());
  EXPECT_TRUE(by_id[4101]["dataVencimento"].is_string());
}

TEST(BadErpData, ADateOfAnotherShapeEndsTheRunNamingTheCustomerBeforeAnySend) {
  ErpParameters database = erp_database("data_torta");
  run_sql(
      "ALTER TABLE cliente MODIFY data_cadastro VARCHAR(20) NOT NULL;"
      "INSERT INTO cliente (id, razao, cnpj_cpf, ativo, data_cadastro) VALUES"
      " (4105, 'Comum', '5', 'S', '2020-01-01'), (4106, 'Cliente', '6', 'S', '10/05/2019');" +
          receivable(4105, 1, "1.00") + receivable(4106, 2, "1.00"),
      database.database);
  TrapperStandin trapper;
  ProgramRun run = ErpRun{database}.program("provedor", trapper.address());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "ixc-atraso: cliente 4106: data_cadastro \"10/05/2019\" não é uma data\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(trapper.records().empty());
}

}  // namespace
}  // namespace ixc::test
