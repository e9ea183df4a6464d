#include "tsdb/totals_writer.h"

#include "app/console.h"
#include "erp/timestamp.h"
#include "tsdb/endpoints.h"
#include "tsdb/line_sender.h"
#include "tsdb/schema.h"

namespace ixc {
namespace {

Field amount_field(LineName name, const Amount& amount) {
  if (const auto* real = std::get_if<double>(&amount)) return Field(name, *real);
  return Field(name, std::get<std::int64_t>(amount));
}

}  // namespace

void totals_row_fields(const TotalsRecord& contrato, std::int64_t run_timestamp,
                       std::vector<Field>& fields) {
  fields.clear();
  fields.push_back(Field("clientesAtrasoInativo", contrato.clientesAtrasoInativo));
  fields.push_back(Field("clientesAtrasoAtivo", contrato.clientesAtrasoAtivo));
  fields.push_back(Field("titulosAtrasoInativo", contrato.titulosAtrasoInativo));
  fields.push_back(Field("titulosAtrasoAtivo", contrato.titulosAtrasoAtivo));
  fields.push_back(amount_field("valorAtrasoInativo", contrato.valorAtrasoInativo));
  fields.push_back(amount_field("valorAtrasoAtivo", contrato.valorAtrasoAtivo));
  // Here `timestamp` is the designated column, and the field replaces the line's own timestamp.
  // It goes out as a timestamp of microseconds: QuestDB 9 refuses an integer field there with
  // status 500 and the whole request with it, so every run's totals row would be lost. Servers
  // before 9 read the integer as nanoseconds and cut it to microseconds, so the stored row is the
  // same; division cuts toward zero as they did.
  fields.push_back(Field("timestamp", TimestampMicros{run_timestamp / 1000}));
}

void sendQuestDB_Soma(const std::vector<TotalsRecord>& descobertaSomas) {
  check_schema(kClientesSomaTable);
  std::int64_t timestamp = get_timestamp();
  try {
    if (!table_lists_columns(kClientesSomaTable)) return;
    LineSender sender = LineSender::from_conf(sender_conf());
    std::vector<Field> fields;
    for (const TotalsRecord& contrato : descobertaSomas) {
      totals_row_fields(contrato, timestamp, fields);
      sender.row("ixcClientesSoma", fields, TimestampNanos::now());
    }
    sender.flush();
  } catch (const IngressError& failure) {
    print_error("Erro: " + std::string(failure.what()) + "\n");
  }
}

}  // namespace ixc
