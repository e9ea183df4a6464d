#pragma once
/// The run flow: reads the command line into the settings record, opens the run-time limit,
/// dispatches on the mode and turns the outcome into the last console line and the exit status.
///
///   element count other than 2 or 10   critical message on stdout          status 1
///   "version"                          banner on stdout                    status 0
///   "descobertaClientes"               the collection run                  status 0
///   mode containing "launch_"          handed to launch()                  status 0
///   anything else                      nothing                             status 0
///   the limit runs out                 the timeout text on stdout          status 0
///   any other failure                  one diagnostic line on stderr       status 1
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/deployment.h"
#include "erp/erp_connection.h"
#include "vendor/zabbix_sender.h"

namespace ixc {

inline constexpr int RUNTIME_LIMIT = 900;

/// What the shipped program fixes and only its test build changes.
struct RunOptions {
  std::optional<std::chrono::milliseconds> limit;  // RUNTIME_LIMIT unless set
  // The build-time settings; CMake has refused any mode text that would not parse.
  std::string zabbix_server = deployment::kZabbixServer;
  kestrelkit::ZabbixTls zabbix_tls = {
      .connect = kestrelkit::parse_zabbix_tls_connect(deployment::kZabbixTlsConnect),
      .psk_identity = deployment::kZabbixTlsPskIdentity,
      .psk_file = deployment::kZabbixTlsPskFile,
  };
  ErpTls erp_tls{parse_erp_tls_mode(deployment::kErpTls), deployment::kErpTlsCa};
};

/// Overwrites the ERP password (argv[5] of the full form) in the process's own argument area with
/// as many 'x', so that ps and /proc/PID/cmdline stop showing it; the other arguments and their
/// count stay as they were. Call it as soon as the arguments have been copied for run().
void mask_password_argument(int argc, char** argv);

/// Runs the program for `args` (args[0] is the program path).
int run(const std::vector<std::string>& args, const RunOptions& options);

}  // namespace ixc
