#include "discovery/item_sends.h"

#include "vendor/zabbix_sender.h"

namespace ixc {
namespace {

kestrelkit::ItemValue item_value(const Amount& amount) {
  return std::visit([](auto number) { return kestrelkit::ItemValue(number); }, amount);
}

}  // namespace

std::vector<TotalItem> total_items(const OverdueTotals& totals) {
  // One by one rather than from a braced list: g++ 12 at -O3 takes the list's copies of the
  // values for uninitialised strings and warns.
  std::vector<TotalItem> items;
  items.reserve(6);
  items.push_back({"somaClientesAtrasoAtivo", totals.somaClientesAtrasoAtivo});
  items.push_back({"somaTitulosAtrasoAtivo", totals.somaTitulosAtrasoAtivo});
  items.push_back({"somaValorAtrasoAtivo", item_value(totals.somaValorAtrasoAtivo)});
  items.push_back({"somaClientesAtrasoInativo", totals.somaClientesAtrasoInativo});
  items.push_back({"somaTitulosAtrasoInativo", totals.somaTitulosAtrasoInativo});
  items.push_back({"somaValorAtrasoInativo", item_value(totals.somaValorAtrasoInativo)});
  return items;
}

void send_totals(const kestrelkit::ZabbixServer& zabbix_server, const std::string& zabbix_host,
                 const OverdueTotals& totals) {
  for (const TotalItem& item : total_items(totals)) {
    kestrelkit::send_zabbix(zabbix_server, zabbix_host, item.key, item.value);
  }
}

void send_discovery_document(const kestrelkit::ZabbixServer& zabbix_server,
                             const std::string& zabbix_host,
                             const std::string& descobertaClientesJson) {
  kestrelkit::send_zabbix(zabbix_server, zabbix_host, "descobertaClientes", descobertaClientesJson);
}

void send_customer_items(const kestrelkit::ZabbixServer& zabbix_server,
                         const std::string& zabbix_host,
                         const std::vector<ClientZbxRecord>& descobertaClientesZbx) {
  std::string key;
  for (const ClientZbxRecord& record : descobertaClientesZbx) {
    std::string id = std::to_string(record.idCliente);
    key = "valorAtraso[" + id + "]";
    kestrelkit::send_zabbix(zabbix_server, zabbix_host, key, record.valorAtraso);
    key = "titulosAtraso[" + id + "]";
    kestrelkit::send_zabbix(zabbix_server, zabbix_host, key, record.titulosAtraso);
  }
}

}  // namespace ixc
