// The line encoding of the rows, the row layouts of both tables, and the sender's reading of
// its configuration string: everything about ingestion that needs no server.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "erp/local_time.h"
#include "support/time_zone.h"
#include "tsdb/client_rows_writer.h"
#include "tsdb/line_protocol.h"
#include "tsdb/line_sender.h"
#include "tsdb/totals_writer.h"

namespace ixc {
namespace {

static_assert(is_line_name("ixcClientes") && is_line_name("valor_2") && is_line_name("ação"));
static_assert(!is_line_name("") && !is_line_name("a b") && !is_line_name("a,b") &&
              !is_line_name("a=b") && !is_line_name("a.b") && !is_line_name("a-b") &&
              !is_line_name("a\"b"));

// A null, a flag, a temporary text (it would dangle) or a date that was not converted to
// microseconds does not make a field.
static_assert(std::is_constructible_v<Field, LineName, std::int64_t> &&
              std::is_constructible_v<Field, LineName, const std::string&> &&
              std::is_constructible_v<Field, LineName, TimestampMicros>);
static_assert(!std::is_constructible_v<Field, LineName, std::optional<std::string>> &&
              !std::is_constructible_v<Field, LineName, std::optional<std::int64_t>> &&
              !std::is_constructible_v<Field, LineName, bool> &&
              !std::is_constructible_v<Field, LineName, std::string> &&
              !std::is_constructible_v<Field, LineName, unsigned long> &&
              !std::is_constructible_v<Field, LineName, LocalDateTime>);

std::string line_of(const std::vector<Field>& fields, std::int64_t at = 1700000000123456789) {
  std::string out;
  append_line(out, "t", fields, TimestampNanos{at});
  return out;
}

TEST(LineEncoding, WritesEachKindWithItsSuffixAndTheBareLineTimestamp) {
  std::vector<Field> fields{Field("i", std::int64_t{-42}), Field("f", 189.9), Field("s", "texto"),
                            Field("d", TimestampMicros{1577847600000000}), Field("z", 0)};
  EXPECT_EQ(line_of(fields),
            "t i=-42i,f=189.9,s=\"texto\",d=1577847600000000t,z=0i 1700000000123456789\n");
  EXPECT_EQ(line_of({Field("max", std::numeric_limits<std::int64_t>::max())}, 0),
            "t max=9223372036854775807i 0\n");
}

TEST(LineEncoding, EscapesOnlyQuoteBackslashLineFeedAndCarriageReturnWithTheRawByte) {
  std::string raw = "a\"b\\c\nd\re,f=g h\tção\x01";
  EXPECT_EQ(line_of({Field("s", raw)}, 7), "t s=\"a\\\"b\\\\c\\\nd\\\re,f=g h\tção\x01\" 7\n");
  EXPECT_EQ(line_of({Field("s", "")}, 7), "t s=\"\" 7\n");
  EXPECT_EQ(line_of({Field("s", "\\")}, 7), "t s=\"\\\\\" 7\n");
}

TEST(LineEncoding, FloatsReadBackAsTheSameDouble) {
  EXPECT_EQ(line_of({Field("f", 150.0)}, 1), "t f=150.0 1\n");
  EXPECT_EQ(line_of({Field("f", 0.0)}, 1), "t f=0.0 1\n");
  for (double value : {0.1 + 0.2, 1e-05, 1e16, 123456789.12345678, -2.5e-300, 5e-324,
                       std::numeric_limits<double>::max(), 9007199254740993.0, -0.0}) {
    std::string line = line_of({Field("f", value)}, 1);
    ASSERT_EQ(line.rfind("t f=", 0), 0u) << line;
    std::string text = line.substr(4, line.size() - 4 - 3);
    EXPECT_EQ(text.find_first_of("i\"t"), std::string::npos) << text;
    double back = std::strtod(text.c_str(), nullptr);
    EXPECT_EQ(back, value) << text;
    EXPECT_EQ(std::signbit(back), std::signbit(value)) << text;
  }
}

TEST(LineEncoding, NonFiniteFloatsAreLeftOutWithTheOtherFieldsInOrder) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(
      line_of({Field("a", nan), Field("b", 1), Field("c", inf), Field("d", 2), Field("e", -inf)},
              5),
      "t b=1i,d=2i 5\n");
  std::string out;
  EXPECT_EQ(append_line(out, "t", std::vector<Field>{Field("a", nan)}, TimestampNanos{1}), 0u);
}

TEST(LineSenderRow, ALineWithoutAnyFieldIsRefusedAndLeavesTheBufferAsItWas) {
  LineSender sender = LineSender::from_conf("http::addr=127.0.0.1:9;");
  sender.row("t", std::vector<Field>{Field("a", 1)}, TimestampNanos{1});
  std::string before = sender.buffer();
  std::vector<Field> nothing_left{Field("a", std::nan(""))};
  EXPECT_THROW(sender.row("t", nothing_left, TimestampNanos{2}), IngressError);
  EXPECT_THROW(sender.row("t", std::vector<Field>{}, TimestampNanos{2}), IngressError);
  EXPECT_EQ(sender.buffer(), before);
}

TEST(LineTimestamp, NowIsTheRealTimeClockInNanoseconds) {
  timespec before{}, after{};
  clock_gettime(CLOCK_REALTIME, &before);
  TimestampNanos now = TimestampNanos::now();
  clock_gettime(CLOCK_REALTIME, &after);
  EXPECT_GE(now.nanos, before.tv_sec * 1000000000LL + before.tv_nsec);
  EXPECT_LE(now.nanos, after.tv_sec * 1000000000LL + after.tv_nsec);
}

ClientDbRecord full_record() {
  ClientDbRecord r;
  r.idCliente = 5012;
  r.idContrato = 77;
  r.razaoSocial = "Fulano de Tal";
  r.cpfCnpj = "123.456.789-00";
  r.contatoCliente = "(11) 98888-7777";
  r.statusCliente = 0;
  r.dataCadastro = LocalDateTime{2019, 3, 14, 15, 9, 26};
  r.valorAtraso = 189.9;
  r.titulosAtraso = 3;
  r.dataVencimento = LocalDateTime{2024, 1, 10, 0, 0, 0};
  r.filial = "Matriz";
  r.cidade = "Campinas";
  r.bairro = "Centro";
  r.ixcIdentification = "provedor-sp";
  return r;
}

std::string micros_text(const LocalDateTime& local) {
  return std::to_string(epoch_seconds(local) * 1000000);
}

TEST(ClientRowLayout, FifteenFieldsInLineOrderWithTheRunTimestampInMicroseconds) {
  ClientDbRecord r = full_record();
  std::vector<Field> fields;
  LocalDates dates;
  client_row_fields(r, 1733700000999998976, dates, fields);
  EXPECT_EQ(
      line_of(fields, 9),
      "t idCliente=5012i,idContrato=77i,razaoSocial=\"Fulano de Tal\","
      "cpfCnpj=\"123.456.789-00\",contatoCliente=\"(11) 98888-7777\",statusCliente=0i,"
      "dataCadastro=" +
          micros_text(*r.dataCadastro) +
          "t,valorAtraso=189.9,titulosAtraso=3i,dataVencimento=" + micros_text(*r.dataVencimento) +
          "t,filial=\"Matriz\",cidade=\"Campinas\",bairro=\"Centro\","
          "ixcIdentification=\"provedor-sp\",timestamp=1733700000999998t 9\n");
}

TEST(ClientRowLayout, DatesAreTheirInstantInTheHostZone) {
  test::InZone in_zone("America/Sao_Paulo");
  ClientDbRecord r = full_record();
  std::vector<Field> fields;
  LocalDates dates;
  client_row_fields(r, 0, dates, fields);
  std::string line = line_of(fields);
  // 2019-03-14 15:09:26 at UTC-3 and 2024-01-10 00:00:00 at UTC-3.
  EXPECT_NE(line.find("dataCadastro=1552586966000000t,"), std::string::npos) << line;
  EXPECT_NE(line.find("dataVencimento=1704855600000000t,"), std::string::npos) << line;
}

TEST(ClientRowLayout, NullFieldsAreLeftOutAndTheOthersKeepTheirOrder) {
  ClientDbRecord r = full_record();
  r.dataCadastro.reset();
  r.contatoCliente.reset();
  r.filial.reset();
  r.cidade.reset();
  r.bairro.reset();
  std::vector<Field> fields;
  LocalDates dates;
  client_row_fields(r, 5000, dates, fields);
  EXPECT_EQ(line_of(fields, 9),
            "t idCliente=5012i,idContrato=77i,razaoSocial=\"Fulano de Tal\","
            "cpfCnpj=\"123.456.789-00\",statusCliente=0i,valorAtraso=189.9,titulosAtraso=3i,"
            "dataVencimento=" +
                micros_text(*r.dataVencimento) +
                "t,ixcIdentification=\"provedor-sp\",timestamp=5t 9\n");

  ClientDbRecord bare;
  bare.razaoSocial.reset();
  client_row_fields(bare, 1999, dates, fields);  // the vector is reused, not appended to
  EXPECT_EQ(line_of(fields, 9),
            "t idCliente=0i,idContrato=0i,statusCliente=1i,valorAtraso=0.0,titulosAtraso=0i,"
            "ixcIdentification=\"\",timestamp=1t 9\n");
}

TEST(TotalsRowLayout, IntegerZeroTotalsStayIntegersAndTheRunTimestampIsCutToMicroseconds) {
  std::vector<Field> fields;
  totals_row_fields(TotalsRecord{}, 1733700000999998976, fields);
  EXPECT_EQ(line_of(fields, 9),
            "t clientesAtrasoInativo=0i,clientesAtrasoAtivo=0i,titulosAtrasoInativo=0i,"
            "titulosAtrasoAtivo=0i,valorAtrasoInativo=0i,valorAtrasoAtivo=0i,"
            "timestamp=1733700000999998t 9\n");

  TotalsRecord inactive_only{.clientesAtrasoInativo = 2,
                             .clientesAtrasoAtivo = 0,
                             .titulosAtrasoInativo = 5,
                             .titulosAtrasoAtivo = 0,
                             .valorAtrasoInativo = 300.1 + 0.2,
                             .valorAtrasoAtivo = std::int64_t{0}};
  totals_row_fields(inactive_only, 42999, fields);
  EXPECT_EQ(line_of(fields, 9),
            "t clientesAtrasoInativo=2i,clientesAtrasoAtivo=0i,titulosAtrasoInativo=5i,"
            "titulosAtrasoAtivo=0i,valorAtrasoInativo=300.3,valorAtrasoAtivo=0i,"
            "timestamp=42t 9\n");
}

TEST(SenderConf, ReadsAddrCredentialsAndTheEscapedSemicolon) {
  SenderConfig config =
      parse_sender_conf("http::addr=10.0.0.5:9009;username=kestrel;password=a;;b;;;");
  EXPECT_EQ(config.host, "10.0.0.5");
  EXPECT_EQ(config.port, 9009);
  EXPECT_EQ(config.username, "kestrel");
  EXPECT_EQ(config.password, "a;b;");

  EXPECT_EQ(parse_sender_conf("http::addr=questdb.local;").port, 9000);
  SenderConfig v6 = parse_sender_conf("http::addr=[::1]:9100;");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 9100);
  EXPECT_EQ(LineSender::from_conf("http::addr=[::1]:9100;").write_url(), "http://[::1]:9100/write");
  EXPECT_EQ(LineSender::from_conf("http::addr=h:1;").write_url(), "http://h:1/write");
}

TEST(SenderConf, AnUnusableStringIsAnIngressErrorThatNeverShowsThePassword) {
  const std::string secret = "s3gr3d0QZ";
  for (std::string conf : {
           "tcp::addr=h:9009;username=u;password=" + secret + ";",
           "https::addr=h:9000;username=u;password=" + secret + ";",
           "addr=h:9000;username=u;password=" + secret + ";",
           "http::username=u;password=" + secret + ";",
           "http::addr=h:porta;username=u;password=" + secret + ";",
           "http::addr=h:0;username=u;password=" + secret + ";",
           "http::addr=h:65536;username=u;password=" + secret + ";",
           "http::addr=h:;username=u;password=" + secret + ";",
           "http::addr=:9000;username=u;password=" + secret + ";",
           "http::addr=[::1;username=u;password=" + secret + ";",
           "http::addr=h:9000;username=u;password=" + secret,
           "http::addr=h:9000;username=u;password=" + secret + ";;",
           "http::addr=h:9000;user=u;password=" + secret + ";",
           "http::addr=h:9000;username=u;" + secret + ";",
           "http::addr=h:9000;" + secret + ";password=x;username=u;",
           "http::addr=h:9000;password=" + secret + ";",
           "http::addr=h:9000;addr=h:9001;password=" + secret + ";username=u;",
       }) {
    SCOPED_TRACE(conf);
    try {
      LineSender::from_conf(conf);
      ADD_FAILURE() << "accepted";
    } catch (const IngressError& error) {
      std::string text = error.what();
      EXPECT_EQ(text.find(secret), std::string::npos) << text;
      EXPECT_FALSE(text.empty());
    }
  }
}

// A string's line feed is written raw after its backslash: a cut at the last line feed before
// the bound can land inside a quoted text, and the server then refuses the whole request.
TEST(FlushSplitting, RequestsStartOnlyWhereALineStartsAndStayWithinTheBound) {
  constexpr std::size_t kBound = 100;
  LineSender sender = LineSender::from_conf("http::addr=127.0.0.1:9;", kBound);
  std::vector<std::size_t> line_starts;
  for (int i = 0; i < 60; ++i) {
    line_starts.push_back(sender.buffer().size());
    std::string text(static_cast<std::size_t>(i % 7) * 10, '\n');  // up to 60 line feeds
    sender.row("t", std::vector<Field>{Field("s", std::string_view(text)), Field("n", i)},
               TimestampNanos{1});
  }
  line_starts.push_back(sender.buffer().size());
  std::vector<std::size_t> cuts = sender.request_starts();
  ASSERT_GT(cuts.size(), 5u);
  cuts.insert(cuts.begin(), 0);
  cuts.push_back(sender.buffer().size());
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    SCOPED_TRACE(k);
    auto line = std::find(line_starts.begin(), line_starts.end(), cuts[k]);
    ASSERT_NE(line, line_starts.end());
    // Within the bound, or one line alone that is longer than it.
    EXPECT_TRUE(cuts[k + 1] - cuts[k] <= kBound || *std::next(line) == cuts[k + 1]);
    // And not cut earlier than it had to be.
    auto after = std::find(line_starts.begin(), line_starts.end(), cuts[k + 1]);
    if (after + 1 != line_starts.end()) {
      EXPECT_GT(*(after + 1) - cuts[k], kBound);
    }
  }
}

}  // namespace
}  // namespace ixc
