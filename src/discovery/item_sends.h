#pragma once
/// The Zabbix values of a normal collection, one send_zabbix call each and in this order: the six
/// totals (active before inactive; count, titles, value), the discovery document, then for each
/// customer its overdue value and its title count. 7 + 2 x customers calls per run. Replies are
/// not examined; a send that raises ends the run with the values before it delivered.
#include <string>
#include <vector>

#include "discovery/aggregation.h"
#include "discovery/records.h"
#include "vendor/zabbix_sender.h"

namespace ixc {

/// One of the six total items: its key and the value that goes out under it.
struct TotalItem {
  std::string_view key;
  kestrelkit::ItemValue value;
};

/// Items 1 to 6 in the order of sending, from `totals` with its rounded value totals: what
/// send_totals sends, and what a check sends to learn whether the host takes them.
std::vector<TotalItem> total_items(const OverdueTotals& totals);

/// Items 1 to 6; `totals` carries the rounded value totals.
void send_totals(const kestrelkit::ZabbixServer& zabbix_server, const std::string& zabbix_host,
                 const OverdueTotals& totals);

/// Item 7, under the key "descobertaClientes".
void send_discovery_document(const kestrelkit::ZabbixServer& zabbix_server,
                             const std::string& zabbix_host,
                             const std::string& descobertaClientesJson);

/// valorAtraso[id] (unrounded) and titulosAtraso[id] for every customer, in list order.
void send_customer_items(const kestrelkit::ZabbixServer& zabbix_server,
                         const std::string& zabbix_host,
                         const std::vector<ClientZbxRecord>& descobertaClientesZbx);

}  // namespace ixc
