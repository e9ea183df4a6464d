// What one collection builds from the ERP rows: the records, the totals and their two
// renderings, compared with what CPython's json.dumps, repr and round give for the same data
// (tests/fixtures/discovery/make_golden.py writes the golden files).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "discovery/aggregation.h"
#include "discovery/debug_report.h"
#include "discovery/discovery_document.h"
#include "support/time_zone.h"

namespace ixc {
namespace {

std::string golden(const std::string& name) {
  std::ifstream file(std::string(IXC_TESTS_DIR) + "/fixtures/discovery/" + name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

ClientRow row(std::int64_t id, std::optional<std::string> razao, std::optional<std::string> cpf,
              std::optional<std::string> ativo, std::optional<std::string> contato, double valor,
              std::int64_t titulos) {
  ClientRow r;
  r.idCliente = id;
  r.idContrato = id * 10;
  r.razaoSocial = std::move(razao);
  r.cpfCnpj = std::move(cpf);
  r.statusCliente = std::move(ativo);
  r.contatoCliente = std::move(contato);
  r.valorAtraso = valor;
  r.titulosAtraso = titulos;
  r.dataVencimento = LocalDateTime{2024, 3, 10};
  return r;
}

// Keep in step with make_golden.py.
std::vector<ClientRow> golden_rows() {
  return {
      row(1017, "Padaria Pão Quente Ltda", "12.345.678/0001-90", "S", "(11) 98765-4321", 189.9, 2),
      row(2002, "Mercearia D'Ávila", "123.456.789-09", "N", std::nullopt, 150.0, 1),
      row(2003, "Bar \"do Zé\"", "987.654.321-00", "S", "", 0.1, 1),
      row(2004, "Zé's \"Bar\" \\ Cia", std::nullopt, "n", " ", 0.2, 3),
      row(2005, "José\u00a0Silva\u00adME", "111.222.333-44", std::nullopt, "(21) 3333-4444",
          1000000.0, 0),
      row(2006, "Açaí \U0001F347 Point\tLtda\n", "55.666.777/0001-88", "N", "+55 85 9 9999-0000",
          1234.56, 7),
  };
}

TEST(DiscoveryDocument, IsWhatJsonDumpsWritesForTheRecords) {
  Aggregation result = aggregate(golden_rows(), "ixc-lab");
  EXPECT_EQ(build_discovery_document(result.descobertaClientesZbx), golden("document.json"));
  EXPECT_EQ(build_discovery_document({}), golden("document_empty.json"));
  // The ERP's order is a due date's: the document still lists the customers by id, and a
  // customer listed twice keeps both objects in the ERP's order.
  std::vector<ClientRow> shuffled = golden_rows();
  std::reverse(shuffled.begin(), shuffled.end());
  std::swap(shuffled[1], shuffled[3]);
  EXPECT_EQ(build_discovery_document(aggregate(shuffled, "ixc-lab").descobertaClientesZbx),
            golden("document.json"));
  std::vector<ClientZbxRecord> twice(2);
  twice[0].idCliente = twice[1].idCliente = 7;
  twice[0].titulosAtraso = 2;
  twice[1].titulosAtraso = 1;
  std::string document = build_discovery_document(twice);
  EXPECT_LT(document.find("\"{#TITULOS_ATRASO}\": 2"), document.find("\"{#TITULOS_ATRASO}\": 1"));
}

TEST(DebugReport, IsByteForByteTheReportOperatorsKnow) {
  Aggregation result = aggregate(golden_rows(), "debug");
  EXPECT_EQ(render_debug_report(result.descobertaClientesZbx, result.totals), golden("report.txt"));
  Aggregation none = aggregate({}, "debug");
  EXPECT_EQ(render_debug_report(none.descobertaClientesZbx, none.totals),
            golden("report_empty.txt"));
}

TEST(Totals, SplitActiveFromInactiveOnTheExactTextN) {
  Aggregation result = aggregate(golden_rows(), "ixc-lab");
  const OverdueTotals& t = result.totals;
  EXPECT_EQ(t.somaClientesAtrasoAtivo, 4);  // "S", "S", "n" and a null flag
  EXPECT_EQ(t.somaTitulosAtrasoAtivo, 6);
  EXPECT_EQ(t.somaClientesAtrasoInativo, 2);
  EXPECT_EQ(t.somaTitulosAtrasoInativo, 8);
  std::vector<std::int64_t> statuses;
  for (const auto& r : result.descobertaClientesZbx) statuses.push_back(r.statusCliente);
  EXPECT_EQ(statuses, (std::vector<std::int64_t>{1, 0, 1, 1, 1, 0}));
}

TEST(Totals, RecordKeepsTheUnroundedSumsWhileItemsSeeThemRounded) {
  std::vector<ClientRow> rows = {row(1, "A", "1", "S", "1", 0.1, 1),
                                 row(2, "B", "2", "S", "2", 0.2, 1)};
  Aggregation result = aggregate(rows, "ixc-lab");
  ASSERT_EQ(result.descobertaSomas.size(), 1u);
  EXPECT_EQ(std::get<double>(result.descobertaSomas[0].valorAtrasoAtivo), 0.1 + 0.2);
  EXPECT_EQ(std::get<double>(result.totals.somaValorAtrasoAtivo), 0.3);
  // No inactive customer: the value total stays the integer 0 in both places.
  EXPECT_EQ(std::get<std::int64_t>(result.descobertaSomas[0].valorAtrasoInativo), 0);
  EXPECT_EQ(std::get<std::int64_t>(result.totals.somaValorAtrasoInativo), 0);
  // The per-customer value is never rounded.
  EXPECT_EQ(result.descobertaClientesZbx[0].valorAtraso, 0.1);
}

TEST(Totals, RoundHalvesOfTheExactBinaryValueToEven) {
  EXPECT_EQ(std::get<double>(round_amount(0.125)), 0.12);
  EXPECT_EQ(std::get<double>(round_amount(0.375)), 0.38);
  EXPECT_EQ(std::get<double>(round_amount(2.675)), 2.67);
  EXPECT_EQ(std::get<std::int64_t>(round_amount(std::int64_t{0})), 0);
}

TEST(Records, ContactIsNAForZabbixAndAbsentForStorage) {
  Aggregation result = aggregate(golden_rows(), "ixc-lab");
  const auto& zbx = result.descobertaClientesZbx;
  const auto& db = result.descobertaClientesDB;
  EXPECT_EQ(zbx[1].contatoCliente, "N/A");  // null
  EXPECT_EQ(zbx[2].contatoCliente, "N/A");  // empty
  EXPECT_EQ(zbx[3].contatoCliente, " ");    // a blank is a contact
  EXPECT_FALSE(db[1].contatoCliente.has_value());
  EXPECT_FALSE(db[2].contatoCliente.has_value());
  EXPECT_EQ(db[3].contatoCliente, " ");
  for (const auto& record : db) EXPECT_EQ(record.ixcIdentification, "ixc-lab");
  EXPECT_EQ(db[0].idContrato, 10170);
  EXPECT_EQ(db[5].razaoSocial, "Açaí \U0001F347 Point\tLtda\n");
}

TEST(DateConversion, DatesBecomeLocalMidnightAndNullStaysNull) {
  for (const char* zone : {"America/Sao_Paulo", "Europe/Berlin", "UTC"}) {
    {
      test::InZone in_zone(zone);
      std::vector<ClientRow> rows = {row(1, "A", "1", "S", "1", 1.0, 1)};
      rows[0].data_cadastro = LocalDateTime{2019, 7, 1};
      rows[0].dataVencimento = LocalDateTime{2024, 2, 29, 23, 59, 59};
      Aggregation result = aggregate(rows, "h");
      EXPECT_EQ(result.descobertaClientesDB[0].dataCadastro, (LocalDateTime{2019, 7, 1})) << zone;
      EXPECT_EQ(result.descobertaClientesDB[0].dataVencimento,
                (LocalDateTime{2024, 2, 29, 23, 59, 59}))
          << zone;
      rows = {row(2, "B", "2", "S", "2", 1.0, 1)};
      rows[0].dataVencimento.reset();
      result = aggregate(rows, "h");
      EXPECT_FALSE(result.descobertaClientesDB[0].dataCadastro.has_value());
      EXPECT_FALSE(result.descobertaClientesDB[0].dataVencimento.has_value());
    }
  }
}

TEST(DateConversion, DatesThatDifferInOneFieldStayApartInOnePass) {
  // A pass converts each distinct date-time once: equal ones share it, none borrows another's.
  test::InZone in_zone("America/Sao_Paulo");
  std::vector<LocalDateTime> dates = {{2019, 7, 1, 10, 20, 30}, {2020, 7, 1, 10, 20, 30},
                                      {2019, 8, 1, 10, 20, 30}, {2019, 7, 2, 10, 20, 30},
                                      {2019, 7, 1, 11, 20, 30}, {2019, 7, 1, 10, 21, 30},
                                      {2019, 7, 1, 10, 20, 31}, {2019, 7, 1, 10, 20, 30}};
  std::vector<ClientRow> rows;
  for (std::size_t i = 0; i < dates.size(); ++i) {
    rows.push_back(row(static_cast<int>(i), "A", "1", "S", "1", 1.0, 1));
    rows.back().data_cadastro = dates[i];
    rows.back().dataVencimento = dates[dates.size() - 1 - i];
  }
  Aggregation result = aggregate(rows, "h");
  for (std::size_t i = 0; i < dates.size(); ++i) {
    EXPECT_EQ(result.descobertaClientesDB[i].dataCadastro, dates[i]) << i;
    EXPECT_EQ(result.descobertaClientesDB[i].dataVencimento, dates[dates.size() - 1 - i]) << i;
  }
}

TEST(DateConversion, ALocalTimeInASpringForwardGapIsResolvedByTheCLibrary) {
  // Berlin skipped 02:00-03:00 on 2024-03-31; mktime carries 02:30 forward to 03:30.
  test::InZone in_zone("Europe/Berlin");
  EXPECT_EQ(local_round_trip(LocalDateTime{2024, 3, 31, 2, 30, 0}),
            (LocalDateTime{2024, 3, 31, 3, 30, 0}));
  EXPECT_EQ(local_round_trip(LocalDateTime{2024, 10, 27, 2, 30, 0}).hour, 2);
}

}  // namespace
}  // namespace ixc
