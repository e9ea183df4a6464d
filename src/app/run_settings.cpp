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

}  // namespace ixc
