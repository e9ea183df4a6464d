#include "app/run_settings.h"

#include <utility>

namespace ixc {
namespace {
RunSettings settings_record;
}

const RunSettings& run_settings() { return settings_record; }

void set_run_settings(RunSettings settings) { settings_record = std::move(settings); }

const std::string& required(const std::optional<std::string>& field, std::string_view name) {
  if (!field) {
    throw MissingSetting("a configuração " + std::string(name) +
                         " não foi informada na linha de comando (forma curta)");
  }
  return *field;
}

ErpParameters erp_parameters(const RunSettings& settings, const ErpTls& tls) {
  return ErpParameters{
      .host = required(settings.db_host, "db_host"),
      .port = required(settings.db_port, "db_port"),
      .user = required(settings.db_user, "db_user"),
      .password = required(settings.db_password, "db_password"),
      .database = required(settings.database, "database"),
      .tls = tls,
  };
}

}  // namespace ixc
