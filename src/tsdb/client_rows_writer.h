#pragma once
/// Stores the per-customer records of one run in `ixcClientes`, replacing what the table held:
/// empties the table, runs its schema check, takes the run timestamp, lists the columns again
/// and, when the table lists any, writes one line per record through one sender with one flush.
///
/// An IngressError (opening the sender, a row, the flush) is written as "Erro: " + its text on
/// standard error and the routine returns normally. Everything else propagates: a second
/// listing with no result or without `dataset`, a reply that is not JSON, a spent limit.
#include <cstdint>
#include <vector>

#include "discovery/records.h"
#include "tsdb/line_protocol.h"
#include "tsdb/local_dates.h"

namespace ixc {

void sendQuestDB(const std::vector<ClientDbRecord>& descobertaClientesDB);

/// The fields of one record's line, in line order, nulls left out, and a registration date
/// before 1970 (the designated column cannot hold it) left out as a null is. The texts are borrowed
/// from `contrato`; `dates` and `fields` serve every row of a pass (`fields` is cleared first).
void client_row_fields(const ClientDbRecord& contrato, std::int64_t run_timestamp,
                       LocalDates& dates, std::vector<Field>& fields);

}  // namespace ixc
