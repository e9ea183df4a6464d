#pragma once
/// Hands a "launch_" mode to the companion jobs. The one job this installation ships is
/// "launch_verificar", the check job of app/verificar.h; every other such mode returns at once
/// and the run ends with status 0. A job's failure propagates and ends the run with status 1.
#include <string_view>

#include "erp/erp_connection.h"
#include "vendor/zabbix_sender.h"

namespace kestrelkit {

/// What a job needs besides the settings record: the build's Zabbix server and ERP TLS.
struct LaunchContext {
  ZabbixServer zabbix_server;
  ixc::ErpTls erp_tls;
};

void launch(std::string_view mode, const LaunchContext& context);

}  // namespace kestrelkit
