#include "vendor/launch.h"

#include "app/verificar.h"

namespace kestrelkit {

void launch(std::string_view mode, const LaunchContext& context) {
  if (mode == "launch_verificar") ixc::verificar(context.zabbix_server, context.erp_tls);
}

}  // namespace kestrelkit
