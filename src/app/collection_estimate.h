#pragma once
/// How long a collection will take, from what the check job measured, against a schedule of
/// every 5 minutes and the run-time limit. The model is docs/sizing.md's: the statement, then one
/// connection per Zabbix value, 2N + 7 of them for N customers, each costing what a total's send
/// cost here (two round trips and the server's time), then the discovery document and QuestDB,
/// about 20 µs per customer together.
#include <chrono>
#include <cstddef>
#include <optional>

#include "app/check_report.h"

namespace ixc {

struct EstimateInput {
  std::optional<std::size_t> customers;  // absent when the statement did not run
  std::chrono::duration<double> statement_time{0};
  std::optional<std::chrono::duration<double>> per_value;  // absent without a Zabbix measure
};

/// OK within the schedule, AVISO past it (the next start is skipped), FALHA past the limit (the
/// run would end by time and store nothing in QuestDB).
CheckLine estimate_line(const EstimateInput& input, std::chrono::seconds schedule,
                        std::chrono::seconds limit);

}  // namespace ixc
