#pragma once
/// The settings of one run, taken verbatim from the command line and never changed after. The
/// short form (program and mode) leaves every field but `mode` absent, which is not the same as
/// empty: `required()` raises MissingSetting for an absent field, naming it.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "erp/erp_connection.h"

namespace ixc {

struct RunSettings {
  std::string mode;
  std::optional<std::string> db_host;
  std::optional<std::string> db_port;
  std::optional<std::string> db_user;
  std::optional<std::string> db_password;
  std::optional<std::string> database;
  std::optional<std::string> quest_db_ip;
  std::optional<std::string> quest_db_port;
  std::optional<std::string> zabbix_host;
};

struct MissingSetting : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The one process-wide settings record. Run control fills it once; tests may refill it.
const RunSettings& run_settings();
void set_run_settings(RunSettings settings);

/// The value of a setting, or MissingSetting naming `name` when the short form left it out.
const std::string& required(const std::optional<std::string>& field, std::string_view name);

/// The ERP connection that these settings name, with this build's TLS; MissingSetting for an
/// absent field.
ErpParameters erp_parameters(const RunSettings& settings, const ErpTls& tls);

}  // namespace ixc
