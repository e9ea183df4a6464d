// Both writers end to end against the QuestDB stand-in: what lands in the tables, the run
// timestamps, nulls, texts that the line protocol must escape, refusals at the flush and an
// ingestion port of its own.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/run_settings.h"
#include "erp/local_time.h"
#include "support/questdb_standin.h"
#include "support/storage_run.h"
#include "tsdb/client_rows_writer.h"
#include "tsdb/line_protocol.h"
#include "tsdb/schema.h"
#include "tsdb/totals_writer.h"

namespace ixc {
namespace {

using test::Printed;
using test::printed_by;
using test::stdout_of;
using test::use_questdb;

using nlohmann::json;
using test::HttpReply;
using test::QuestDbStandin;

constexpr const char* kAddress = "127.0.0.24";

// The rows of a table as objects keyed by column name, in the table's time order.
std::vector<json> rows_of(const QuestDbStandin& server, const std::string& table) {
  json result = server.query("SELECT * FROM " + table);
  std::vector<json> rows;
  for (const json& values : result.at("dataset")) {
    json row = json::object();
    for (std::size_t i = 0; i < values.size(); ++i) {
      row[result["columns"][i]["name"].get<std::string>()] = values[i];
    }
    rows.push_back(row);
  }
  return rows;
}

// "2024-01-02T03:04:05.123456Z" as microseconds since the epoch.
std::int64_t iso_micros(const json& value) {
  std::string text = value.get<std::string>();
  std::tm tm{};
  int micros = 0;
  EXPECT_EQ(sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%6dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                   &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &micros),
            7)
      << text;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&tm)) * 1000000 + micros;
}

std::int64_t clock_micros() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

ClientDbRecord customer(std::int64_t id) {
  ClientDbRecord r;
  r.idCliente = id;
  r.idContrato = 1000 + id;
  r.razaoSocial = "Cliente " + std::to_string(id);
  r.cpfCnpj = "123.456.789-0" + std::to_string(id % 10);
  r.contatoCliente = "11999990000";
  r.statusCliente = id % 2;
  r.dataCadastro = LocalDateTime{2020, 1, 1, 10, 0, static_cast<int>(id % 60)};
  r.valorAtraso = 150.5 + static_cast<double>(id);
  r.titulosAtraso = 2;
  r.dataVencimento = LocalDateTime{2024, 5, 10, 0, 0, 0};
  r.filial = "Matriz";
  r.cidade = "Recife";
  r.bairro = "Boa Vista";
  r.ixcIdentification = "isp";
  return r;
}

// Every case runs against the stand-in answering as QuestDB 8 and as QuestDB 9, which refuses
// what 8 took in places: a writer that passes only the first would lose rows on current servers.
class Writers : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { use_questdb(kAddress); }
  QuestDbStandin server{{kAddress, {9000}, {"--server-version", GetParam()}}};
};

TEST_P(Writers, ClientRowsLandWithTheirValuesAndOneRunTimestamp) {
  std::vector<ClientDbRecord> records{customer(7), customer(8)};
  std::int64_t before = clock_micros();
  Printed printed = printed_by([&] { sendQuestDB(records); });
  std::int64_t after = clock_micros();
  EXPECT_EQ(printed.out, std::string(YELLOW) +
                             "Tabela ixcClientes não encontrada, criando tabela!" +
                             std::string(RESET) + "\n{'ddl': 'OK'}\n");
  EXPECT_EQ(printed.err, "");

  auto rows = rows_of(server, "ixcClientes");
  ASSERT_EQ(rows.size(), 2u);
  const json& row = rows[0];
  EXPECT_EQ(row["idCliente"], 7);
  EXPECT_EQ(row["idContrato"], 1007);
  EXPECT_EQ(row["razaoSocial"], "Cliente 7");
  EXPECT_EQ(row["statusCliente"], 1);
  EXPECT_EQ(row["valorAtraso"], 157.5);
  EXPECT_EQ(row["titulosAtraso"], 2);
  EXPECT_EQ(iso_micros(row["dataCadastro"]), epoch_seconds(*records[0].dataCadastro) * 1000000);
  EXPECT_EQ(iso_micros(row["dataVencimento"]), epoch_seconds(*records[0].dataVencimento) * 1000000);
  EXPECT_EQ(row["ixcIdentification"], "isp");
  // The run timestamp: the instant of the pass, in microseconds, the same on every row.
  std::int64_t run = iso_micros(row["timestamp"]);
  EXPECT_GE(run, before - 1);
  EXPECT_LE(run, after + 1);
  EXPECT_EQ(rows[1]["timestamp"], row["timestamp"]);
  EXPECT_EQ(rows[1]["idCliente"], 8);
}

TEST_P(Writers, TextsArriveByteForByte) {
  const std::vector<std::string> texts{
      "Pão \"Quente\" & Cia, Ltda",
      "barra\\invertida\\",
      "duas\nlinhas\r\nfim",
      "a=b,c=d e",
      "  espaços  nas pontas ",
      "ação ü 日本 🙂",
      "\\\"",
  };
  std::vector<ClientDbRecord> records;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ClientDbRecord r = customer(static_cast<std::int64_t>(i + 1));
    r.razaoSocial = texts[i];
    r.cidade = texts[texts.size() - 1 - i];
    r.ixcIdentification = texts[i];
    records.push_back(r);
  }
  printed_by([&] { sendQuestDB(records); });
  auto rows = rows_of(server, "ixcClientes");
  ASSERT_EQ(rows.size(), texts.size());
  for (const json& row : rows) {
    std::size_t i = row["idCliente"].get<std::size_t>() - 1;
    EXPECT_EQ(row["razaoSocial"], texts[i]);
    EXPECT_EQ(row["cidade"], texts[texts.size() - 1 - i]);
    EXPECT_EQ(row["ixcIdentification"], texts[i]);
    EXPECT_EQ(row["bairro"], "Boa Vista");  // the fields after them are intact
  }
}

TEST_P(Writers, NullFieldsAreLeftOutAndStoredAsNull) {
  ClientDbRecord r = customer(3);
  r.razaoSocial.reset();
  r.contatoCliente.reset();
  r.dataCadastro.reset();
  r.filial.reset();
  r.cidade.reset();
  r.bairro.reset();
  std::int64_t before = clock_micros();
  Printed printed = printed_by([&] { sendQuestDB({r}); });
  std::int64_t after = clock_micros();
  EXPECT_EQ(printed.err, "");
  auto rows = rows_of(server, "ixcClientes");
  ASSERT_EQ(rows.size(), 1u);
  for (const char* column : {"razaoSocial", "contatoCliente", "filial", "cidade", "bairro"}) {
    EXPECT_TRUE(rows[0][column].is_null()) << column;
  }
  EXPECT_EQ(rows[0]["cpfCnpj"], "123.456.789-03");
  EXPECT_EQ(rows[0]["titulosAtraso"], 2);
  // Without its field the designated `dataCadastro` takes the line's own timestamp.
  std::int64_t line = iso_micros(rows[0]["dataCadastro"]);
  EXPECT_GE(line, before);
  EXPECT_LE(line, after);
}

// Migrated ERPs hold registrations of 1965 and placeholders of 1900; the designated column
// cannot, and one such line costs the server's whole request.
TEST_P(Writers, ARegistrationBeforeTheEpochIsLeftOutAndCostsNoOtherRow) {
  std::vector<ClientDbRecord> records{customer(1), customer(2), customer(3), customer(4)};
  records[1].dataCadastro = LocalDateTime{1965, 3, 10, 0, 0, 0};
  records[1].dataVencimento = LocalDateTime{1969, 12, 1, 0, 0, 0};
  records[2].dataCadastro = LocalDateTime{1900, 1, 1, 0, 0, 0};
  std::int64_t before = clock_micros();
  Printed printed = printed_by([&] { sendQuestDB(records); });
  std::int64_t after = clock_micros();
  EXPECT_EQ(printed.err, "");
  std::map<std::int64_t, json> by_id;
  for (const json& row : rows_of(server, "ixcClientes")) by_id[row["idCliente"]] = row;
  ASSERT_EQ(by_id.size(), 4u);
  for (std::int64_t id : {2, 3}) {
    std::int64_t line = iso_micros(by_id[id]["dataCadastro"]);
    EXPECT_GE(line, before);
    EXPECT_LE(line, after);
    EXPECT_EQ(by_id[id]["razaoSocial"], "Cliente " + std::to_string(id));
  }
  EXPECT_EQ(iso_micros(by_id[2]["dataVencimento"]),
            epoch_seconds(*records[1].dataVencimento) * 1000000);
  EXPECT_EQ(iso_micros(by_id[4]["dataCadastro"]),
            epoch_seconds(*records[3].dataCadastro) * 1000000);

  // The same rows with the early dates in their lines, as they went out before: the stand-in
  // answers as the server does and stores none of them.
  LocalDates dates;
  std::vector<Field> fields;
  std::string lines;
  for (const ClientDbRecord& record : records) {
    client_row_fields(record, 0, dates, fields);
    fields.push_back(Field("dataCadastro", dates.micros(*record.dataCadastro)));
    append_line(lines, "ixcClientes", fields, TimestampNanos::now());
  }
  server.query("TRUNCATE TABLE ixcClientes;");
  HttpReply refused = server.write(lines);
  EXPECT_EQ(refused.status, 500);
  EXPECT_NE(refused.body.find("timestamp before 1970-01-01 is not allowed"), std::string::npos);
  EXPECT_TRUE(rows_of(server, "ixcClientes").empty());
}

TEST_P(Writers, EachPassReplacesTheSnapshotAndAnEmptyListLeavesItEmpty) {
  printed_by([] { sendQuestDB({customer(1), customer(2), customer(3)}); });
  ASSERT_EQ(rows_of(server, "ixcClientes").size(), 3u);

  Printed second = printed_by([] { sendQuestDB({customer(9)}); });
  EXPECT_EQ(second.out, "");  // the table is current now
  auto rows = rows_of(server, "ixcClientes");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["idCliente"], 9);

  Printed empty = printed_by([] { sendQuestDB({}); });
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "");
  EXPECT_TRUE(rows_of(server, "ixcClientes").empty());
  EXPECT_EQ(server.query("SHOW COLUMNS FROM ixcClientes")["dataset"].size(), 15u);
}

TEST_P(Writers, RowsRefusedAtTheFlushAreReportedOnStderrAndTheTotalsStillStored) {
  // A table whose razaoSocial is an INT: the server refuses the string at the flush.
  std::string statement = create_table_statement(kClientesTable);
  std::string symbol = "razaoSocial SYMBOL capacity 1048576 CACHE index capacity 256";
  statement.replace(statement.find(symbol), symbol.size(), "razaoSocial INT");
  server.query(statement);

  Printed clients = printed_by([] { sendQuestDB({customer(1), customer(2)}); });
  EXPECT_EQ(clients.out, "");
  EXPECT_EQ(clients.err.rfind("Erro: Could not flush buffer: ", 0), 0u) << clients.err;
  EXPECT_NE(clients.err.find("razaoSocial"), std::string::npos) << clients.err;
  EXPECT_EQ(clients.err.back(), '\n');
  EXPECT_EQ(clients.err.find("Erro: ", 1), std::string::npos) << clients.err;
  EXPECT_TRUE(rows_of(server, "ixcClientes").empty());

  Printed totals = printed_by([] { sendQuestDB_Soma({TotalsRecord{}}); });
  EXPECT_EQ(totals.err, "");
  EXPECT_EQ(rows_of(server, "ixcClientesSoma").size(), 1u);
}

TEST_P(Writers, TwoTotalsPassesAddTwoRowsEachAtItsRunInstant) {
  std::int64_t before_first = clock_micros();
  Printed first = printed_by([] { sendQuestDB_Soma({TotalsRecord{}}); });
  std::int64_t after_first = clock_micros();
  EXPECT_EQ(first.out, std::string(YELLOW) +
                           "Tabela ixcClientesSoma não encontrada, criando tabela!" +
                           std::string(RESET) + "\n");
  EXPECT_EQ(first.err, "");

  TotalsRecord inactive_only;
  inactive_only.clientesAtrasoInativo = 2;
  inactive_only.titulosAtrasoInativo = 5;
  inactive_only.valorAtrasoInativo = 300.25;
  std::int64_t before_second = clock_micros();
  Printed second = printed_by([&] { sendQuestDB_Soma({inactive_only}); });
  std::int64_t after_second = clock_micros();
  EXPECT_EQ(second.out, "");

  auto rows = rows_of(server, "ixcClientesSoma");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["clientesAtrasoInativo"], 0);
  EXPECT_EQ(rows[0]["valorAtrasoInativo"], 0.0);
  EXPECT_EQ(rows[0]["valorAtrasoAtivo"], 0.0);
  EXPECT_EQ(rows[1]["clientesAtrasoInativo"], 2);
  EXPECT_EQ(rows[1]["titulosAtrasoInativo"], 5);
  EXPECT_EQ(rows[1]["valorAtrasoInativo"], 300.25);
  EXPECT_EQ(rows[1]["valorAtrasoAtivo"], 0.0);
  // The designated `timestamp` holds the run timestamp, cut to microseconds.
  std::int64_t first_at = iso_micros(rows[0]["timestamp"]);
  std::int64_t second_at = iso_micros(rows[1]["timestamp"]);
  EXPECT_GE(first_at, before_first - 1);
  EXPECT_LE(first_at, after_first + 1);
  EXPECT_GE(second_at, before_second - 1);
  EXPECT_LE(second_at, after_second + 1);
}

TEST_P(Writers, AnOutdatedTotalsTableIsExtendedAndThenTakesTheRow) {
  server.query(
      "CREATE TABLE 'ixcClientesSoma' (clientesAtrasoInativo INT, clientesAtrasoAtivo INT, "
      "titulosAtrasoInativo INT, titulosAtrasoAtivo INT, valorAtrasoAtivo DOUBLE, "
      "timestamp TIMESTAMP) timestamp (timestamp) PARTITION BY WEEK WAL");
  TotalsRecord totals;
  totals.valorAtrasoInativo = 10.5;
  Printed printed = printed_by([&] { sendQuestDB_Soma({totals}); });
  EXPECT_EQ(printed.out,
            std::string(YELLOW) + std::string(kOutdatedMessage) + std::string(RESET) + "\n");
  auto rows = rows_of(server, "ixcClientesSoma");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["valorAtrasoInativo"], 10.5);
}

INSTANTIATE_TEST_SUITE_P(QuestDb, Writers, ::testing::Values("8", "9"),
                         [](const auto& info) { return std::string("V") + info.param; });

TEST(WritersIngestPort, TheSenderAloneUsesQuestDbPortAndTheQueriesStayOn9000) {
  QuestDbStandin queries{{kAddress, {9000}, {}}};
  QuestDbStandin ingest{{kAddress, {0}, {}}};
  use_questdb(kAddress, std::to_string(ingest.ports.at(0)));
  Printed printed = printed_by([] {
    sendQuestDB({customer(4)});
    sendQuestDB_Soma({TotalsRecord{}});
  });
  EXPECT_EQ(printed.err, "");
  // The schema check ran over port 9000; the rows went to the other server only.
  EXPECT_EQ(queries.query("SHOW COLUMNS FROM ixcClientes")["dataset"].size(), 15u);
  EXPECT_TRUE(rows_of(queries, "ixcClientes").empty());
  EXPECT_TRUE(rows_of(queries, "ixcClientesSoma").empty());
  EXPECT_EQ(rows_of(ingest, "ixcClientes").size(), 1u);
  EXPECT_EQ(rows_of(ingest, "ixcClientesSoma").size(), 1u);
}

TEST(WritersIngestPort, NoIngestionEndpointOnThePortIsAnErroLineAndTheWriterReturns) {
  QuestDbStandin queries{{kAddress, {9000}, {}}};
  use_questdb(kAddress, "9");
  Printed printed = printed_by([] { sendQuestDB({customer(4)}); });
  EXPECT_EQ(printed.err.rfind("Erro: Could not flush buffer: http://127.0.0.24:9/write: ", 0), 0u)
      << printed.err;
  EXPECT_EQ(std::count(printed.err.begin(), printed.err.end(), '\n'), 1) << printed.err;
  EXPECT_EQ(printed.err.find("observarQZ"), std::string::npos);
  EXPECT_EQ(queries.query("SHOW COLUMNS FROM ixcClientes")["dataset"].size(), 15u);
}

}  // namespace
}  // namespace ixc
