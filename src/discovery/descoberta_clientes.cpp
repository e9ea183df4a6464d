#include "discovery/descoberta_clientes.h"

namespace ixc {

int descobertaClientes(const std::string& /*zabbix_server*/) { return 0; }

}  // namespace ixc
