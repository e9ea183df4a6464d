#pragma once
/// The Zabbix part of the check job, against the server this build sends to, one report line
/// each:
///
///   Zabbix cluster  with more than one node only: each node asked once, named active (it
///                   answers), standby (it refuses the connection) or unreachable; the lines
///                   after it go to the first active node. FALHA when none is active
///   Zabbix conexão  the server answers the sender protocol (an empty request, which stores
///                   nothing), over this build's transport, PSK handshake included; the time of
///                   one exchange, two round trips
///   Zabbix valores  the host takes values: the six totals, one per connection as a collection
///                   sends them, each reply's processed/failed counts read. All six processed is
///                   OK; otherwise FALHA naming the keys refused and the likely causes that the
///                   replies tell apart
///
/// Nothing else is sent: no discovery document, no per-customer value.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/check_report.h"
#include "discovery/item_sends.h"
#include "vendor/zabbix_sender.h"

namespace ixc {

struct ZabbixCheck {
  std::optional<std::chrono::duration<double>> exchange;   // median time of an empty request
  std::optional<std::chrono::duration<double>> per_value;  // median time of one total's send
};

/// `totals` is absent when the ERP gave no rows to compute them from: no value is then sent.
ZabbixCheck check_zabbix(const kestrelkit::ZabbixServer& zabbix_server,
                         const std::string& zabbix_host,
                         const std::optional<std::vector<TotalItem>>& totals, CheckReport& report);

}  // namespace ixc
