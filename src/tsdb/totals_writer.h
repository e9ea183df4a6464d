#pragma once
/// Appends the totals of one run to the history table `ixcClientesSoma`, which is never
/// emptied: runs its schema check, takes the run timestamp, lists the columns again and, when
/// the table lists any, writes one line per record through one sender with one flush.
///
/// An IngressError is written as "Erro: " + its text on standard error and the routine returns
/// normally; every other failure propagates, as for the client rows.
#include <cstdint>
#include <vector>

#include "discovery/records.h"
#include "tsdb/line_protocol.h"

namespace ixc {

void sendQuestDB_Soma(const std::vector<TotalsRecord>& descobertaSomas);

/// The seven fields of one totals line, in line order. A value total that is still the integer
/// 0 goes out as an integer field.
void totals_row_fields(const TotalsRecord& contrato, std::int64_t run_timestamp,
                       std::vector<Field>& fields);

}  // namespace ixc
