#pragma once
/// Turns the ERP rows into the per-customer records and the active/inactive totals of one
/// collection. Rows are taken in the order the ERP delivered them and every list keeps it. The
/// one TotalsRecord holds the unrounded sums; `totals` then holds the value totals rounded to two
/// decimals, which only the Zabbix items and the debug report see.
#include <string>
#include <vector>

#include "discovery/records.h"
#include "erp/client_row.h"

namespace ixc {

struct OverdueTotals {
  std::int64_t somaClientesAtrasoAtivo = 0;
  std::int64_t somaTitulosAtrasoAtivo = 0;
  Amount somaValorAtrasoAtivo = std::int64_t{0};
  std::int64_t somaClientesAtrasoInativo = 0;
  std::int64_t somaTitulosAtrasoInativo = 0;
  Amount somaValorAtrasoInativo = std::int64_t{0};
};

struct Aggregation {
  std::vector<ClientZbxRecord> descobertaClientesZbx;
  std::vector<ClientDbRecord> descobertaClientesDB;
  std::vector<TotalsRecord> descobertaSomas;  // exactly one record
  OverdueTotals totals;                       // value totals rounded to two decimals
};

/// Consumes `dadosCliente`; `zabbix_host` is stored with every storage record.
Aggregation aggregate(std::vector<ClientRow> dadosCliente, const std::string& zabbix_host);

/// A date as the ERP gave it, taken to epoch seconds and back in the host's zone: the local
/// date-time that a stored timestamp will denote.
LocalDateTime local_round_trip(const LocalDateTime& value);

/// `amount` rounded to two decimals; the integer 0 stays the integer 0.
Amount round_amount(const Amount& amount);

}  // namespace ixc
