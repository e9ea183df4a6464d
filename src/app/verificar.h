#pragma once
/// The check job, `ixc-atraso launch_verificar` with a collection's arguments: says what is wrong
/// before the first collection, and what a collection's "OK" does not (values that Zabbix
/// refuses, a QuestDB table whose WAL is suspended, an ERP server in another time zone). It
/// runs, in this order and each to the end even when an earlier one failed, the ERP's checks
/// (app/check_erp.h), Zabbix's (app/check_zabbix.h), QuestDB's (app/check_questdb.h) and
/// the estimate of a collection's duration (app/collection_estimate.h), one line each, then a
/// summary line.
///
/// Of what a collection does, it sends only the six totals to Zabbix: no discovery document, no
/// per-customer value, and it writes nothing to QuestDB. When a check failed it raises
/// CheckFailed naming them, which ends the run with status 1.
#include <stdexcept>

#include "erp/erp_connection.h"
#include "vendor/zabbix_sender.h"

namespace ixc {

struct CheckFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Reads the settings record; the schedule it measures against is every 5 minutes.
void verificar(const kestrelkit::ZabbixServer& zabbix_server, const ErpTls& erp_tls);

}  // namespace ixc
