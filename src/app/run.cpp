#include "app/run.h"

#include <exception>

#include "app/banner.h"
#include "app/console.h"
#include "app/deployment.h"
#include "app/run_settings.h"
#include "app/verificar.h"
#include "discovery/descoberta_clientes.h"
#include "vendor/launch.h"
#include "vendor/runtime_limiter.h"

namespace ixc {
namespace {

constexpr int kPasswordPosition = 5;

RunSettings settings_from(const std::vector<std::string>& args) {
  RunSettings settings;
  settings.mode = args[1];
  if (args.size() == 10) {
    settings.db_host = args[2];
    settings.db_port = args[3];
    settings.db_user = args[4];
    settings.db_password = args[kPasswordPosition];
    settings.database = args[6];
    settings.quest_db_ip = args[7];
    settings.quest_db_port = args[8];
    settings.zabbix_host = args[9];
  }
  return settings;
}

int dispatch(const std::string& program_path, const RunOptions& options) {
  const RunSettings& settings = run_settings();
  if (settings.mode == "version") return get_version(program_path);

  // Every host of this installation reports to the one Zabbix server fixed at build time; the
  // short form has no host and fails here.
  required(settings.zabbix_host, "zabbix_host");
  // Read once here, for every value of the run.
  const kestrelkit::ZabbixServer zabbix_server =
      kestrelkit::zabbix_server_at(options.zabbix_server, options.zabbix_tls);
  if (settings.mode == "descobertaClientes") {
    return descobertaClientes(zabbix_server, options.erp_tls);
  }
  if (settings.mode.find("launch_") != std::string::npos) {
    const kestrelkit::LaunchJob jobs[] = {
        {"launch_verificar", [&] { verificar(zabbix_server, options.erp_tls); }},
    };
    kestrelkit::launch(settings.mode, jobs);
  }
  return 0;
}

}  // namespace

void mask_password_argument(int argc, char** argv) {
  if (argc != 10) return;
  for (char* c = argv[kPasswordPosition]; *c; ++c) *c = 'x';
}

int run(const std::vector<std::string>& args, const RunOptions& options) {
  if (args.size() != 2 && args.size() != 10) {
    print_line(std::string("Erro crítico -- Contactar Kestrel em: ") + deployment::kSupportContact);
    flush_output();
    return 1;
  }
  set_run_settings(settings_from(args));

  int status = 0;
  try {
    auto limiter = options.limit ? kestrelkit::runtime_limiter(*options.limit)
                                 : kestrelkit::runtime_limiter(RUNTIME_LIMIT);
    status = dispatch(args[0], options);
  } catch (const kestrelkit::TimeoutException& timeout) {
    print_line(timeout.what());
    status = 0;
  } catch (const std::exception& failure) {
    print_error(std::string("ixc-atraso: ") + failure.what() + "\n");
    status = 1;
  }
  flush_output();
  return status;
}

}  // namespace ixc
