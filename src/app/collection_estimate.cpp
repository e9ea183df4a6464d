#include "app/collection_estimate.h"

#include <cmath>

namespace ixc {
namespace {

using Seconds = std::chrono::duration<double>;

// The discovery document's exchange and the QuestDB phase, per customer (docs/ figures:
// 1.2 s for the document at 100 000, 1.35 s of QuestDB at 300 000, with margin).
constexpr Seconds kOtherPerCustomer{20e-6};

std::string thousands(std::size_t number) {
  const std::string digits = std::to_string(number);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ' ';
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace

CheckLine estimate_line(const EstimateInput& input, std::chrono::seconds schedule,
                        std::chrono::seconds limit) {
  if (!input.customers) {
    return {Mark::aviso, "Estimativa", "sem a consulta do ERP não há número de clientes a estimar"};
  }
  if (!input.per_value) {
    return {Mark::aviso, "Estimativa",
            "sem uma medida do Zabbix não há como estimar o envio dos valores"};
  }
  std::size_t n = *input.customers;
  std::size_t values = 2 * n + 7;
  Seconds total = input.statement_time + static_cast<double>(values) * *input.per_value +
                  static_cast<double>(n) * kOtherPerCustomer;
  // Customers whose collection still fits the schedule at this pace.
  Seconds per_customer = 2 * *input.per_value + kOtherPerCustomer;
  Seconds room = Seconds(schedule) - input.statement_time - 7 * *input.per_value;
  std::size_t fitting =
      room.count() > 0 ? static_cast<std::size_t>(room / per_customer) : std::size_t{0};
  std::string minutes = std::to_string(schedule.count() / 60) + " min";
  std::string found = thousands(n) + " clientes: uma coleta leva cerca de " + duration_text(total) +
                      " (consulta " + duration_text(input.statement_time) + ", " +
                      thousands(values) + " valores ao Zabbix a " +
                      duration_text(*input.per_value) + " cada); neste ritmo cabem cerca de " +
                      thousands(fitting) + " clientes num intervalo de " + minutes;
  if (total >= Seconds(limit)) {
    return {Mark::falha, "Estimativa",
            found + ": passa do limite de " + std::to_string(limit.count()) +
                " s, e a coleta terminaria por tempo sem gravar no QuestDB; rode o coletor no "
                "servidor Zabbix ou aponte IXC_ZABBIX_SERVER para um proxy perto do ERP"};
  }
  if (total >= Seconds(schedule)) {
    return {Mark::aviso, "Estimativa",
            found + ": passa do intervalo de " + minutes +
                " e a execução seguinte seria pulada (flock -n); colete com intervalo maior ou "
                "rode o coletor mais perto do servidor Zabbix"};
  }
  return {Mark::ok, "Estimativa",
          found + "; cabe no intervalo de " + minutes + " e no limite de " +
              std::to_string(limit.count()) + " s"};
}

}  // namespace ixc
