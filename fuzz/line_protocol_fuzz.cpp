// A row written by the writers' line-protocol encoder (append_line) is read back by the QuestDB
// stand-in's parser into a fresh table with the same fields, in order, and the same values:
// integers and timestamp fields as written, floats bit for bit (non-finite ones left out, as
// the encoder promises), texts byte for byte whatever they hold, and the line's own timestamp
// in the designated column.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "questdb_standin/line_ingest.h"
#include "questdb_standin/table_store.h"
#include "tsdb/line_protocol.h"

namespace {

// Distinct whatever the case, as the server compares names; the designated `timestamp` is not
// among them, since a field of that name would replace the line's own timestamp.
constexpr ixc::LineName kNames[] = {
    "idCliente", "razaoSocial", "valorAtraso", "dataCadastro",  "a",
    "B_2",       "cidadeÉ",     "x0",          "statusCliente", "bairro"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::vector<std::string> texts;  // owns the string values for the fields' views
  texts.reserve(std::size(kNames));
  std::vector<ixc::Field> fields;
  std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, std::size(kNames));
  for (std::size_t i = 0; i < count; ++i) {
    switch (input.ConsumeIntegralInRange(0, 3)) {
      case 0:
        fields.emplace_back(kNames[i], input.ConsumeIntegral<std::int64_t>());
        break;
      case 1:
        fields.emplace_back(kNames[i], input.ConsumeFloatingPoint<double>());
        break;
      case 2:
        texts.push_back(input.ConsumeRandomLengthString(256));
        fields.emplace_back(kNames[i], std::string_view(texts.back()));
        break;
      default:
        fields.emplace_back(kNames[i], ixc::TimestampMicros{input.ConsumeIntegral<std::int64_t>()});
    }
  }
  ixc::TimestampNanos at{input.ConsumeIntegral<std::int64_t>()};

  std::string body;
  std::size_t written = ixc::append_line(body, "ixcClientes", fields, at);
  std::size_t finite = 0;
  for (const ixc::Field& field : fields) {
    const double* real = std::get_if<double>(&field.value);
    finite += real == nullptr || std::isfinite(*real);
  }
  FUZZ_REQUIRE(written == finite, body);
  if (written == 0) return 0;  // the sender drops such a line

  // The designated column holds no instant before the epoch: the server refuses such a line.
  bool before_epoch = at.nanos / 1000 < 0;
  // As QuestDB 9, the stricter of the two: it also refuses an integer in the designated column.
  ixc::standin::TableStore store;
  try {
    ixc::standin::ingest_lines(store, body, 1, 0, ixc::standin::ServerVersion::V9);
  } catch (const ixc::standin::RowWriteError&) {
    FUZZ_REQUIRE(before_epoch, body);
    return 0;
  } catch (const std::exception& error) {
    FUZZ_REQUIRE(false, std::string(error.what()) + " in: " + body);
  }
  FUZZ_REQUIRE(!before_epoch, body);
  const ixc::standin::Table* table = ixc::standin::find_table(store, "ixcClientes");
  FUZZ_REQUIRE(table != nullptr && table->row_count == 1, body);
  FUZZ_REQUIRE(table->columns.size() == written + 1, body);  // and the designated timestamp

  std::size_t column = 0;
  for (const ixc::Field& field : fields) {
    if (const double* real = std::get_if<double>(&field.value); real && !std::isfinite(*real)) {
      continue;
    }
    const ixc::standin::Column& stored = table->columns[column++];
    FUZZ_REQUIRE(stored.definition.name == field.name.text, body);
    std::int64_t cell = stored.cells.at(0);
    switch (field.value.index()) {
      case 0:
        FUZZ_REQUIRE(cell == std::get<0>(field.value), body);
        break;
      case 1: {
        double back = ixc::standin::cell_double(cell);
        double sent = std::get<1>(field.value);
        FUZZ_REQUIRE(std::memcmp(&back, &sent, sizeof sent) == 0, body);
        break;
      }
      case 2:
        FUZZ_REQUIRE(stored.texts.at(static_cast<std::size_t>(cell)) == std::get<2>(field.value),
                     body);
        break;
      default:
        FUZZ_REQUIRE(cell == std::get<3>(field.value).micros, body);
    }
  }
  const ixc::standin::Column& designated = table->columns.at(column);
  FUZZ_REQUIRE(designated.definition.name == "timestamp", body);
  FUZZ_REQUIRE(designated.cells.at(0) == at.nanos / 1000, body);
  return 0;
}
