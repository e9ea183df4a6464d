#include "discovery/descoberta_clientes.h"

#include <utility>

#include "app/console.h"
#include "app/run_settings.h"
#include "discovery/aggregation.h"
#include "discovery/debug_report.h"
#include "discovery/discovery_document.h"
#include "discovery/item_sends.h"
#include "erp/erp_connection.h"
#include "erp/overdue_query.h"
#include "tsdb/client_rows_writer.h"
#include "tsdb/endpoints.h"
#include "tsdb/totals_writer.h"

namespace ixc {
namespace {

std::vector<ClientRow> read_overdue_rows(const ErpParameters& parameters) {
  // The connection lives only around the one statement.
  ErpConnection conn = open_erp_connection(parameters);
  return obterDadosCliente(conn);
}

void check_delivery_settings(const std::string& zabbix_host) {
  if (zabbix_host.empty()) {
    throw BadSetting("zabbix_host (ZABBIX_HOST) está vazio: os valores iriam a um host sem nome");
  }
  check_questdb_settings();
}

}  // namespace

int descobertaClientes(const kestrelkit::ZabbixServer& zabbix_server, const ErpTls& erp_tls) {
  const RunSettings& settings = run_settings();
  ErpParameters erp = erp_parameters(settings, erp_tls);
  const std::string& zabbix_host = required(settings.zabbix_host, "zabbix_host");
  // A setting that names no server is found before anything is sent or emptied, not after.
  parse_db_port(erp.host, erp.port);
  if (zabbix_host != "debug") check_delivery_settings(zabbix_host);
  std::vector<ClientRow> dadosCliente = read_overdue_rows(erp);
  Aggregation result = aggregate(std::move(dadosCliente), zabbix_host);

  if (zabbix_host == "debug") {
    print_text(render_debug_report(result.descobertaClientesZbx, result.totals));
    return 0;
  }

  send_totals(zabbix_server, zabbix_host, result.totals);
  std::string descobertaClientesJson = build_discovery_document(result.descobertaClientesZbx);
  send_discovery_document(zabbix_server, zabbix_host, descobertaClientesJson);
  send_customer_items(zabbix_server, zabbix_host, result.descobertaClientesZbx);
  sendQuestDB(result.descobertaClientesDB);
  sendQuestDB_Soma(result.descobertaSomas);
  print_line("OK");
  return 0;
}

}  // namespace ixc
