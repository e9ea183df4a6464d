#include "discovery/aggregation.h"

#include <map>
#include <tuple>
#include <utility>

#include "erp/local_time.h"
#include "text/decimal_round.h"

namespace ixc {
namespace {

void add_amount(Amount& total, double value) {
  // The total stays the integer 0 until its first addition, so that a class with no customer
  // renders 0 and not 0.0.
  if (auto* as_integer = std::get_if<std::int64_t>(&total)) {
    total = static_cast<double>(*as_integer) + value;
  } else {
    std::get<double>(total) += value;
  }
}

// With TZ unset, every mktime() re-reads the state of the zone file (a stat() per call), and a
// pass converts two dates per customer, yet holds only a few thousand distinct ones: each
// distinct date-time is converted once per pass. A time in a repeated hour maps back to itself
// whichever instant mktime() picks; one in a skipped hour keeps the first answer it got.
class RoundTrips {
 public:
  std::optional<LocalDateTime> operator()(const std::optional<LocalDateTime>& value) {
    if (!value) return std::nullopt;
    const LocalDateTime& t = *value;
    auto [slot, added] =
        done_.try_emplace(std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second));
    if (added) slot->second = local_round_trip(t);
    return slot->second;
  }

 private:
  std::map<std::tuple<int, int, int, int, int, int>, LocalDateTime> done_;
};

bool missing(const std::optional<std::string>& text) { return !text || text->empty(); }

}  // namespace

LocalDateTime local_round_trip(const LocalDateTime& value) {
  return local_date_time(epoch_seconds(value));
}

Amount round_amount(const Amount& amount) {
  if (const auto* value = std::get_if<double>(&amount)) return round_decimal(*value, 2);
  return amount;
}

Aggregation aggregate(std::vector<ClientRow> dadosCliente, const std::string& zabbix_host) {
  Aggregation result;
  result.descobertaClientesZbx.reserve(dadosCliente.size());
  result.descobertaClientesDB.reserve(dadosCliente.size());
  OverdueTotals& totals = result.totals;
  RoundTrips converted_date;

  for (ClientRow& row : dadosCliente) {
    bool no_contact = missing(row.contatoCliente);
    std::int64_t statusCliente = row.statusCliente == "N" ? 0 : 1;
    if (statusCliente == 0) {
      totals.somaClientesAtrasoInativo += 1;
      totals.somaTitulosAtrasoInativo += row.titulosAtraso;
      add_amount(totals.somaValorAtrasoInativo, row.valorAtraso);
    } else {
      totals.somaClientesAtrasoAtivo += 1;
      totals.somaTitulosAtrasoAtivo += row.titulosAtraso;
      add_amount(totals.somaValorAtrasoAtivo, row.valorAtraso);
    }

    result.descobertaClientesZbx.push_back(ClientZbxRecord{
        .idCliente = row.idCliente,
        .razaoSocial = row.razaoSocial,
        .cpfCnpj = row.cpfCnpj,
        .statusCliente = statusCliente,
        .contatoCliente = no_contact ? std::string("N/A") : *row.contatoCliente,
        .valorAtraso = row.valorAtraso,
        .titulosAtraso = row.titulosAtraso,
    });
    result.descobertaClientesDB.push_back(ClientDbRecord{
        .idCliente = row.idCliente,
        .idContrato = row.idContrato,
        .razaoSocial = std::move(row.razaoSocial),
        .cpfCnpj = std::move(row.cpfCnpj),
        .contatoCliente = no_contact ? std::nullopt : std::move(row.contatoCliente),
        .statusCliente = statusCliente,
        .dataCadastro = converted_date(row.data_cadastro),
        .valorAtraso = row.valorAtraso,
        .titulosAtraso = row.titulosAtraso,
        .dataVencimento = converted_date(row.dataVencimento),
        .filial = std::move(row.filial),
        .cidade = std::move(row.cidade),
        .bairro = std::move(row.bairro),
        .ixcIdentification = zabbix_host,
    });
  }

  result.descobertaSomas.push_back(TotalsRecord{
      .clientesAtrasoInativo = totals.somaClientesAtrasoInativo,
      .clientesAtrasoAtivo = totals.somaClientesAtrasoAtivo,
      .titulosAtrasoInativo = totals.somaTitulosAtrasoInativo,
      .titulosAtrasoAtivo = totals.somaTitulosAtrasoAtivo,
      .valorAtrasoInativo = totals.somaValorAtrasoInativo,
      .valorAtrasoAtivo = totals.somaValorAtrasoAtivo,
  });
  totals.somaValorAtrasoAtivo = round_amount(totals.somaValorAtrasoAtivo);
  totals.somaValorAtrasoInativo = round_amount(totals.somaValorAtrasoInativo);
  return result;
}

}  // namespace ixc
