#include "tsdb/client_rows_writer.h"

#include "app/console.h"
#include "erp/timestamp.h"
#include "tsdb/endpoints.h"
#include "tsdb/line_sender.h"
#include "tsdb/schema.h"

namespace ixc {
namespace {

// A line of a typical customer is about 400 bytes; reserving a little more avoids regrowth.
constexpr std::size_t kLineBytesEstimate = 448;

}  // namespace

void client_row_fields(const ClientDbRecord& contrato, std::int64_t run_timestamp,
                       LocalDates& dates, std::vector<Field>& fields) {
  fields.clear();
  fields.push_back(Field("idCliente", contrato.idCliente));
  fields.push_back(Field("idContrato", contrato.idContrato));
  if (contrato.razaoSocial) fields.push_back(Field("razaoSocial", *contrato.razaoSocial));
  if (contrato.cpfCnpj) fields.push_back(Field("cpfCnpj", *contrato.cpfCnpj));
  if (contrato.contatoCliente) fields.push_back(Field("contatoCliente", *contrato.contatoCliente));
  fields.push_back(Field("statusCliente", contrato.statusCliente));
  // dataCadastro is the table's designated timestamp, which cannot hold an instant before the
  // epoch: the server refuses the whole request for one such line, every other customer's row
  // with it. Such a date is left out, as a missing one is, and the row takes the line's time.
  if (contrato.dataCadastro) {
    TimestampMicros registered = dates.micros(*contrato.dataCadastro);
    if (registered.micros >= 0) fields.push_back(Field("dataCadastro", registered));
  }
  fields.push_back(Field("valorAtraso", contrato.valorAtraso));
  fields.push_back(Field("titulosAtraso", contrato.titulosAtraso));
  if (contrato.dataVencimento) {
    fields.push_back(Field("dataVencimento", dates.micros(*contrato.dataVencimento)));
  }
  if (contrato.filial) fields.push_back(Field("filial", *contrato.filial));
  if (contrato.cidade) fields.push_back(Field("cidade", *contrato.cidade));
  if (contrato.bairro) fields.push_back(Field("bairro", *contrato.bairro));
  fields.push_back(Field("ixcIdentification", contrato.ixcIdentification));
  // `timestamp` is a plain TIMESTAMP column here, not the designated one, and the server reads
  // any number written into such a column as microseconds: nanoseconds would land the rows
  // tens of thousands of years ahead.
  fields.push_back(Field("timestamp", TimestampMicros{run_timestamp / 1000}));
}

void sendQuestDB(const std::vector<ClientDbRecord>& descobertaClientesDB) {
  empty_client_table();
  check_schema(kClientesTable);
  std::int64_t timestamp = get_timestamp();
  try {
    if (!table_lists_columns(kClientesTable)) return;
    LineSender sender = LineSender::from_conf(sender_conf());
    sender.reserve(descobertaClientesDB.size() * kLineBytesEstimate);
    LocalDates dates;
    std::vector<Field> fields;
    fields.reserve(kClientesColumns.size());
    for (const ClientDbRecord& contrato : descobertaClientesDB) {
      client_row_fields(contrato, timestamp, dates, fields);
      sender.row("ixcClientes", fields, TimestampNanos::now());
    }
    sender.flush();
  } catch (const IngressError& failure) {
    print_error("Erro: " + std::string(failure.what()) + "\n");
  }
}

}  // namespace ixc
