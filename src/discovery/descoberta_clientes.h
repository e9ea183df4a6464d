#pragma once
/// The collection run of the "descobertaClientes" mode: reads the overdue customers from the ERP,
/// builds the per-customer records and the active/inactive totals, and then either prints the
/// debug report (zabbix_host "debug") or sends the Zabbix values, stores the QuestDB rows and
/// prints "OK". Returns the run's exit status (0); failures propagate to run control.
#include "vendor/zabbix_sender.h"

#include "erp/erp_connection.h"

namespace ixc {

int descobertaClientes(const kestrelkit::ZabbixServer& zabbix_server, const ErpTls& erp_tls);

}  // namespace ixc
