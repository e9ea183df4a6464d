#pragma once
/// The console report of a debug run (zabbix_host "debug"): the version block, one line per
/// customer in Python's dictionary notation, and the active and inactive totals under their
/// headings, with the colour sequences where operators have always seen them.
#include <string>
#include <vector>

#include "discovery/aggregation.h"
#include "discovery/records.h"

namespace ixc {

/// The whole report, every line ended by a line feed. `totals` carries the rounded value totals.
std::string render_debug_report(const std::vector<ClientZbxRecord>& descobertaClientesZbx,
                                const OverdueTotals& totals);

}  // namespace ixc
