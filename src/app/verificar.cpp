#include "app/verificar.h"

#include "app/check_erp.h"
#include "app/check_questdb.h"
#include "app/check_report.h"
#include "app/check_zabbix.h"
#include "app/collection_estimate.h"
#include "app/console.h"
#include "app/run.h"
#include "app/run_settings.h"
#include "discovery/aggregation.h"
#include "discovery/item_sends.h"
#include "text/joined.h"

namespace ixc {
namespace {

constexpr std::chrono::seconds kSchedule{5 * 60};

}  // namespace

void verificar(const kestrelkit::ZabbixServer& zabbix_server, const ErpTls& erp_tls) {
  const RunSettings& settings = run_settings();
  ErpParameters parameters = erp_parameters(settings, erp_tls);
  const std::string& zabbix_host = required(settings.zabbix_host, "zabbix_host");
  CheckReport report;

  ErpCheck erp = check_erp(parameters, report);
  std::optional<std::size_t> customers;
  std::optional<std::vector<TotalItem>> totals;
  if (erp.rows) {
    customers = erp.rows->size();
    // The totals exactly as a collection would send them now.
    totals = total_items(aggregate(std::move(*erp.rows), zabbix_host).totals);
  }

  ZabbixCheck zabbix = check_zabbix(zabbix_server, zabbix_host, totals, report);
  check_questdb(report);

  EstimateInput estimate{customers, erp.statement_time,
                         zabbix.per_value ? zabbix.per_value : zabbix.exchange};
  ixc::report(report, estimate_line(estimate, kSchedule, std::chrono::seconds(RUNTIME_LIMIT)));

  print_line(summary_line(report));
  std::vector<std::string> failed = failed_subjects(report);
  if (!failed.empty()) {
    std::string subjects = joined(failed);
    throw CheckFailed("launch_verificar: " + std::to_string(failed.size()) +
                      (failed.size() == 1 ? " verificação falhou: " : " verificações falharam: ") +
                      subjects);
  }
}

}  // namespace ixc
