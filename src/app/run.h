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
#include <string>
#include <vector>

namespace ixc {

inline constexpr int RUNTIME_LIMIT = 900;

/// Runs the program for `args` (args[0] is the program path) under a limit of `limit`.
int run(const std::vector<std::string>& args, std::chrono::milliseconds limit);

/// The program as shipped: the limit is RUNTIME_LIMIT seconds.
inline int run(const std::vector<std::string>& args, int limit_seconds) {
  return run(args, std::chrono::seconds(limit_seconds));
}

/// The address that receives the Zabbix values of `zabbix_host`: the build-time setting.
std::string obtain_zabbix_server(const std::string& zabbix_host);

}  // namespace ixc
